// The main window's design and resize rule, window placement on the screen, the pictures'
// scales, the accessible texts and the lists' copied text: the rules both front-ends share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "present/about_design.h"
#include "present/accessible_texts.h"
#include "present/label_room.h"
#include "present/list_copy.h"
#include "present/main_window_design.h"
#include "present/picture_scale.h"
#include "present/placement.h"

namespace kelvo {
namespace {

const TBounds& At(const std::vector<TBounds>& APlaces, int AId) {
  return APlaces[static_cast<std::size_t>(AId - idImage1)];
}

// At the designed client size every part stands where it was designed, except what the resize
// rule itself moves (the lists 338 x 325, ListView2 and lblWAN at 526, imgApplication at 282).
TEST(MainWindowDesign, DesignedSizeKeepsEveryPartInItsPlace) {
  const std::vector<TBounds> places = MainWindowLayout(kMainClientWidth, kMainClientHeight, 96);
  ASSERT_EQ(places.size(), MainWindowParts().size());
  for (const TPartSpec& part : MainWindowParts()) {
    SCOPED_TRACE(part.Name);
    TBounds expected = part.Design;
    switch (part.Id) {
      case idListView1:
        expected = {8, 88, 338, 325};
        break;
      case idListView2:
        expected = {526, 87, 338, 325};
        break;
      case idlblWAN:
        expected.Left = 526;
        break;
      case idimgApplication:
        expected.Left = 282;
        break;
      default:
        break;
    }
    EXPECT_EQ(At(places, part.Id), expected);
  }
}

// lblLocalIP and lblError keep their designed offset from Panel1 at every width and every dpi;
// Panel1 keeps its top, so they keep theirs.
TEST(MainWindowDesign, AddressAndErrorLineMoveWithTheRelayPanel) {
  for (int dpi : {96, 120, 144, 168, 192}) {
    for (int width96 : {150, 196, 500, 872, 873, 1001, 1920}) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi, " + std::to_string(width96) + " wide");
      const std::vector<TBounds> places =
          MainWindowLayout(ScaleFrom96(width96, dpi), ScaleFrom96(600, dpi), dpi);
      const TBounds& panel = At(places, idPanel1);
      const TBounds& address = At(places, idlblLocalIP);
      const TBounds& error = At(places, idlblError);
      EXPECT_EQ(address.Left - panel.Left, ScaleFrom96(376 - 348, dpi));
      EXPECT_EQ(error.Left - panel.Left, ScaleFrom96(367 - 348, dpi));
      EXPECT_EQ(address.Top, ScaleFrom96(351, dpi));
      EXPECT_EQ(error.Top, ScaleFrom96(371, dpi));
      EXPECT_EQ(address.Width, ScaleFrom96(124, dpi));
      EXPECT_EQ(error.Width, ScaleFrom96(137, dpi));
      // Under the drawing, never over a list.
      EXPECT_GE(address.Left, At(places, idListView1).Right());
      EXPECT_LE(address.Right(), At(places, idListView2).Left);
    }
  }
}

// The resize rule in figures at 96 dpi, for the sizes both front-ends' window tests resize
// to: the buttons and the top-right pictures follow the corner, the lists share what the
// relay panel leaves (never less than nothing) and take their height from the buttons.
TEST(MainWindowDesign, ResizeRuleSpreadsTheListsAroundThePanel) {
  struct TCase {
    int Width, Height;
  };
  // The designed size, wider and taller, narrower, the width that leaves the lists nothing,
  // and narrower still.
  const TCase cases[] = {{872, 456}, {1100, 600}, {1001, 600}, {700, 400},
                         {700, 456}, {196, 300},  {150, 300},  {150, 200}};
  for (const TCase& size : cases) {
    SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
    const std::vector<TBounds> places = MainWindowLayout(size.Width, size.Height, 96);
    const int buttonTop = size.Height - (456 - 423);
    const int listWidth = std::max(0, (size.Width - 196) / 2);
    const int listHeight = buttonTop - 88 - 10;
    const int panelLeft = 8 + listWidth + 2;
    EXPECT_EQ(At(places, idButton1), (TBounds{size.Width - (872 - 546), buttonTop, 75, 25}));
    EXPECT_EQ(At(places, idButton3), (TBounds{size.Width - (872 - 788), buttonTop, 75, 25}));
    EXPECT_EQ(At(places, idListView1), (TBounds{8, 88, listWidth, listHeight}));
    EXPECT_EQ(At(places, idListView2), (TBounds{panelLeft + 176 + 2, 87, listWidth, listHeight}));
    EXPECT_EQ(At(places, idPanel1), (TBounds{panelLeft, 141, 176, 207}));
    EXPECT_EQ(At(places, idlblWAN).Left, panelLeft + 176 + 2);
    EXPECT_EQ(At(places, idimgApplication).Left, 8 + listWidth - 64);
    EXPECT_EQ(At(places, idImage3).Left, size.Width - (872 - 757));
    EXPECT_EQ(At(places, idimgController).Left, size.Width - (872 - 801));
    EXPECT_EQ(At(places, idImage1).Width, size.Width);
    EXPECT_EQ(At(places, idlblLocalIP), (TBounds{panelLeft + 28, 351, 124, 14}));
    EXPECT_EQ(At(places, idlblError), (TBounds{panelLeft + 19, 371, 137, 13}));
  }
}

// The layout at another dpi is the 96-dpi layout scaled, to within one pixel per scale step:
// what the screenshots at 1.5 and 2 are held against.
TEST(MainWindowDesign, EveryDpiIsTheDesignScaled) {
  for (int dpi : {120, 144, 168, 192}) {
    const double scale = dpi / 96.0;
    for (const std::pair<int, int>& size : {std::pair{872, 456}, {1100, 600}, {640, 420}}) {
      const std::vector<TBounds> at96 = MainWindowLayout(size.first, size.second, 96);
      const std::vector<TBounds> scaled =
          MainWindowLayout(ScaleFrom96(size.first, dpi), ScaleFrom96(size.second, dpi), dpi);
      for (const TPartSpec& part : MainWindowParts()) {
        SCOPED_TRACE(std::string(part.Name) + " at " + std::to_string(dpi) + " dpi");
        const TBounds& a = At(at96, part.Id);
        const TBounds& b = At(scaled, part.Id);
        const double tolerance = std::ceil(scale);
        EXPECT_NEAR(b.Left, a.Left * scale, tolerance);
        EXPECT_NEAR(b.Top, a.Top * scale, tolerance);
        EXPECT_NEAR(b.Right(), a.Right() * scale, 2 * tolerance);
        EXPECT_NEAR(b.Bottom(), a.Bottom() * scale, 2 * tolerance);
      }
    }
  }
}

TEST(MainWindowDesign, ColumnsKeepTheirWidthsOrNarrowToFitTheList) {
  struct TCase {
    int ClientWidth;
    int Dpi;
    std::array<int, kStatusColumnCount> Widths;
  };
  const TCase cases[] = {
      {334, 96, {34, 120, 120, 60}},   // the designed list: exactly room
      {600, 96, {34, 120, 120, 60}},   // wider: as designed
      {503, 144, {51, 180, 180, 90}},  // the designed list at 1.5x
      {486, 144, {49, 174, 174, 89}},  // kept on a small screen: narrowed, filling it
      {167, 96, {17, 60, 60, 30}},
      {0, 96, {34, 120, 120, 60}},  // no room at all: left as designed
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(StatusColumnWidths(c.ClientWidth, c.Dpi), c.Widths) << c.ClientWidth << "@" << c.Dpi;
    if (c.ClientWidth < 501 && c.Dpi == 144 && c.ClientWidth > 0) {
      int sum = 0;
      for (int width : c.Widths) {
        sum += width;
      }
      EXPECT_EQ(sum, c.ClientWidth);
    }
  }
}

TEST(Placement, MainWindowKeptOnTheAvailableArea) {
  struct TCase {
    const char* Name;
    TRect Frame;
    TRect Available;
    TRect Result;
  };
  const TCase cases[] = {
      {"fits: unchanged", {20, 20, 880, 490}, {0, 0, 1280, 800}, {20, 20, 880, 490}},
      {"1.5x frame on a 1280 screen", {20, 20, 1316, 720}, {0, 0, 1280, 800}, {0, 20, 1280, 720}},
      {"off the right and bottom", {900, 600, 880, 490}, {0, 0, 1280, 800}, {400, 310, 880, 490}},
      {"off the left and top", {-300, -50, 880, 490}, {0, 28, 1280, 772}, {0, 28, 880, 490}},
      {"taller than a panel-less area", {10, 10, 880, 900}, {0, 30, 1280, 770}, {10, 30, 880, 770}},
      {"second monitor to the left",
       {-1500, 100, 880, 490},
       {-1920, 0, 1920, 1080},
       {-1500, 100, 880, 490}},
      {"left behind on a monitor now gone",
       {2000, 100, 880, 490},
       {0, 0, 1280, 800},
       {400, 100, 880, 490}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FitOnScreen(c.Frame, c.Available), c.Result) << c.Name;
  }
}

TEST(PictureScale, SmallestDrawingAtLeastAsFineAsTheScreen) {
  struct TCase {
    double Ratio;
    int Scale;
  };
  const TCase cases[] = {{0.75, 100}, {1.0, 100},  {1.25, 150}, {144.0 / 96, 150},
                         {1.5, 150},  {1.75, 200}, {2.0, 200},  {3.0, 200}};
  for (const TCase& c : cases) {
    EXPECT_EQ(PictureScaleFor(c.Ratio), c.Scale) << c.Ratio;
  }
  EXPECT_EQ(ScaledPictureName("LEDRED", 100), "LEDRED");
  EXPECT_EQ(ScaledPictureName("LEDRED", 150), "LEDRED_150");
  EXPECT_EQ(ScaledPictureName("logo.png", 200), "logo_200.png");
  EXPECT_EQ(ScaledPictureName("about_logo.png", 150), "about_logo_150.png");
}

TEST(AccessibleTexts, ListsLampsAndLabelledValues) {
  EXPECT_STREQ(StatusListAccessibleName(TStatusList::Applications), "Applications (LAN)");
  EXPECT_STREQ(StatusListAccessibleName(TStatusList::Controllers), "Controllers (WAN)");
  struct TCase {
    TLamp Lamp;
    TLedColor Color;
    const char* Name;
  };
  const TCase cases[] = {
      {TLamp::LANRx, TLedColor::Red, "LAN receive: active"},
      {TLamp::LANRx, TLedColor::Gray, "LAN receive: idle"},
      {TLamp::LANTx, TLedColor::Green, "LAN transmit: active"},
      {TLamp::LANTx, TLedColor::Gray, "LAN transmit: idle"},
      {TLamp::WANRx, TLedColor::Red, "WAN receive: active"},
      {TLamp::WANRx, TLedColor::Gray, "WAN receive: idle"},
      {TLamp::WANTx, TLedColor::Green, "WAN transmit: active"},
      {TLamp::WANTx, TLedColor::Gray, "WAN transmit: idle"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(LampAccessibleName(c.Lamp, c.Color), c.Name);
  }
  EXPECT_EQ(LabelledAccessibleText(kGaugeAccessibleName, "7 msg/sec"), "Message rate: 7 msg/sec");
  EXPECT_EQ(LabelledAccessibleText(kLocalIPAccessibleName, ""), "Local address");
}

class ListCopy : public ::testing::Test {
 protected:
  ListCopy() {
    auto snapshot = std::make_shared<TTablesSnapshot>();
    snapshot->StaticRows.push_back({1001, 1001, "plant-7.lan", "", 8442, -1});
    snapshot->PushRows.push_back({-1, -1, "10.0.0.3", "10.0.0.3", 9001, 598});
    snapshot->PushRows.push_back({100, 101, "10.0.0.4", "10.0.0.4", 9002, 600});
    fRows = TStatusRows(snapshot, TStatusList::Controllers);
  }
  TStatusRows fRows;
};

TEST_F(ListCopy, TitlesThenTheSelectedRowsInListOrderOrEveryRow) {
  const std::string titles = "No.\tNAD\tIP address:port\tTimeout";
  const std::string row1 = "1.\t1001\tplant-7.lan:8442\tstatic";
  const std::string row2 = "2.\t4294967295\t10.0.0.3:9001\t598";
  const std::string row3 = "3.\t100/101\t10.0.0.4:9002\t600";
  struct TCase {
    const char* Name;
    std::vector<int> Selected;
    std::string LineEnd;
    std::string Text;
  };
  const TCase cases[] = {
      {"none selected: all", {}, "\n", titles + "\n" + row1 + "\n" + row2 + "\n" + row3 + "\n"},
      {"Windows line ends",
       {},
       "\r\n",
       titles + "\r\n" + row1 + "\r\n" + row2 + "\r\n" + row3 + "\r\n"},
      {"one row", {1}, "\n", titles + "\n" + row2 + "\n"},
      {"in list order, each once", {2, 0, 2}, "\n", titles + "\n" + row1 + "\n" + row3 + "\n"},
      {"rows gone since the selection", {1, 7, -1}, "\n", titles + "\n" + row2 + "\n"},
      {"only gone rows: titles alone", {5}, "\n", titles + "\n"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(StatusRowsCopyText(fRows, c.Selected, c.LineEnd), c.Text) << c.Name;
  }
  EXPECT_EQ(StatusRowsCopyText(TStatusRows(), {}, "\n"), titles + "\n") << "an empty list";
}

TEST(AboutDesign, VersionWordKeepsAGapBeforeTheNumber) {
  struct TCase {
    int NumberLeft;
    int Dpi;
    int WordRight;
  };
  const TCase cases[] = {
      {294, 96, 284},   // the designed look: the number's text well right of the word
      {289, 96, 284},   // the number filling its designed box
      {280, 96, 275},   // a wider face: the word moves left, the gap stays
      {441, 144, 426},  // 1.5x: the designed edge, scaled
      {420, 144, 412},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(VersionWordRight(c.NumberLeft, c.Dpi), c.WordRight) << c.NumberLeft << "@" << c.Dpi;
  }
}

TEST(LabelRoom, FieldGivesWayToAWiderCaptionAndKeepsItsRightEdge) {
  struct TCase {
    int LabelRight;
    TBounds Field;
    TBounds Result;
  };
  const TCase cases[] = {
      {62, {74, 8, 71, 21}, {74, 8, 71, 21}},      // fits with room to spare: unchanged
      {70, {74, 35, 127, 21}, {74, 35, 127, 21}},  // exactly the gap
      {75, {74, 35, 127, 21}, {79, 35, 122, 21}},  // a wider face: the field gives way
      {113, {112, 24, 299, 21}, {117, 24, 294, 21}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FieldAfterLabel(c.LabelRight, kLabelFieldGap, c.Field), c.Result) << c.LabelRight;
  }
}

}  // namespace
}  // namespace kelvo
