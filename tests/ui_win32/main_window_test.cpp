// The main window under Wine: its frame and children at the designed places (96 dpi), the
// resize rule, the lists' columns, the status tick's rows, and the lamps fed from another
// thread the way the listener feeds them.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <thread>

#include "app/relay_host.h"
#include "present/main_window_design.h"
#include "tables/nat_info.h"
#include "ui_win32/lamp_panel.h"
#include "ui_win32/report_list.h"
#include "ui_win32/status_lists.h"
#include "ui_win32/win32_relay_view.h"
#include "win32_test_support.h"

namespace kelvo::test {
namespace {

TBounds ClientSize(HWND AWindow) {
  RECT client{};
  GetClientRect(AWindow, &client);
  return {0, 0, client.right, client.bottom};
}

void ResizeClient(HWND AWindow, int AWidth, int AHeight) {
  SetClientSize(AWindow, AWidth, AHeight);
  PumpFor(std::chrono::milliseconds(20));
}

class MainWindowTest : public ::testing::Test {
 protected:
  TWindowRig fRig;
};

TEST_F(MainWindowTest, FrameClassCaptionAndClientAreaAsDesigned) {
  HWND window = fRig.Handle();
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"TfmMain");
  EXPECT_EQ(WindowTextUtf8(window), "KelvoRelay v1.0.2");
  EXPECT_EQ(FindWindowW(L"TfmMain", L"KelvoRelay v1.0.2"), window);

  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  EXPECT_TRUE(style & WS_THICKFRAME) << "sizable";
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);

  ASSERT_EQ(WindowDpi(window), 96) << "the layout figures below are for 96 dpi";
  const TBounds client = ClientSize(window);
  EXPECT_EQ(client.Width, 872);
  EXPECT_EQ(client.Height, 456);

  LOGFONTW font{};
  const auto windowFont =
      reinterpret_cast<HFONT>(SendMessageW(fRig.Window().Child(idButton1), WM_GETFONT, 0, 0));
  GetObjectW(windowFont, sizeof(font), &font);
  EXPECT_STREQ(font.lfFaceName, L"Tahoma");
  EXPECT_EQ(font.lfHeight, -11);
}

// Every component where the shared design and resize rule put it for the client size now: the
// whole place of a part of fixed size, the top-left corner (and a designed width) of a label sized
// by its text.
void ExpectPartsAtTheirPlaces(TfmMain& AWindow) {
  const TBounds client = ClientSize(AWindow.Handle());
  const std::vector<TBounds> places = MainWindowLayout(client.Width, client.Height, 96);
  for (const TPartSpec& part : MainWindowParts()) {
    SCOPED_TRACE(part.Name);
    HWND child = AWindow.Child(part.Id);
    ASSERT_NE(child, nullptr);
    const TBounds place = ChildBounds(child);
    const TBounds& expected = places[static_cast<std::size_t>(part.Id - idImage1)];
    if (part.Id == idlblReqCount || part.Id == idlblAckCount) {
      continue;  // they keep their right edge, below
    }
    EXPECT_EQ(place.Left, expected.Left);
    EXPECT_EQ(place.Top, expected.Top);
    if (part.Design.Width != 0) {
      EXPECT_EQ(place.Width, expected.Width);
    } else {
      EXPECT_GT(place.Width, 0) << "sized by its text";
    }
    if (part.Design.Height != 0) {
      EXPECT_EQ(place.Height, expected.Height);
    }
  }
}

TEST_F(MainWindowTest, EveryComponentAtItsDesignedPlace) {
  ExpectPartsAtTheirPlaces(fRig.Window());
  // The counters end where a "-" at the designed left ends, and keep that edge as they grow.
  const TBounds req = ChildBounds(fRig.Window().Child(idlblReqCount));
  const TBounds ack = ChildBounds(fRig.Window().Child(idlblAckCount));
  EXPECT_EQ(req.Left, 116);
  EXPECT_EQ(ack.Right(), req.Right());
  EXPECT_EQ(req.Top, 8);
  EXPECT_EQ(ack.Top, 24);
}

TEST_F(MainWindowTest, ResizeRuleSpreadsTheListsAroundThePanel) {
  struct TCase {
    int Width, Height;
  };
  // The designed size, wider and taller, narrower, the width that leaves the lists nothing,
  // and narrower still.
  const TCase cases[] = {{872, 456}, {1100, 600}, {700, 400}, {196, 300}, {150, 300}};
  for (const TCase& size : cases) {
    SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
    ResizeClient(fRig.Handle(), size.Width, size.Height);
    const TBounds client = ClientSize(fRig.Handle());
    ASSERT_EQ(client.Width, size.Width);
    ASSERT_EQ(client.Height, size.Height);

    // The rule's figures are held in the design's own test.
    ExpectPartsAtTheirPlaces(fRig.Window());
  }
}

// Wine runs at 96 dpi here; the places for another dpi come from the same rule, scaled.
TEST(MainWindowLayoutTest, PlacesScaleFromTheDesignAt144Dpi) {
  const std::vector<TBounds> places = MainWindowLayout(1308, 684, 144);
  auto at = [&places](int AId) { return places[static_cast<std::size_t>(AId - idImage1)]; };
  // Left 12, panel 264 wide, gaps 3, 6 and 15: lists (1308 - 24 - 264 - 6) / 2 = 507 wide,
  // buttons at 423 * 1.5 = 635 (rounded), so 635 - 132 - 15 = 488 high.
  EXPECT_EQ(at(idListView1), (TBounds{12, 132, 507, 488}));
  EXPECT_EQ(at(idPanel1), (TBounds{522, 212, 264, 311}));
  EXPECT_EQ(at(idListView2), (TBounds{789, 131, 507, 488}));
  EXPECT_EQ(at(idimgApplication), (TBounds{423, 51, 96, 72}));
  EXPECT_EQ(at(idButton3), (TBounds{1182, 635, 113, 38}));
  EXPECT_EQ(at(idimgLANRx), (TBounds{60, 78, 24, 24}));
  // At 96 dpi the same function gives the designed figures.
  const std::vector<TBounds> designed = MainWindowLayout(872, 456, 96);
  EXPECT_EQ(designed[static_cast<std::size_t>(idListView1 - idImage1)], (TBounds{8, 88, 338, 325}));
}

TEST_F(MainWindowTest, ListsAreReadOnlyReportsWithTheirColumns) {
  struct TColumn {
    const char* Caption;
    int Width;
  };
  const TColumn columns[] = {{"No.", 34}, {"NAD", 120}, {"IP address:port", 120}, {"Timeout", 60}};
  for (int id : {idListView1, idListView2}) {
    HWND list = fRig.Window().Child(id);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
    EXPECT_EQ(style & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(style & LVS_NOSORTHEADER) << "headers do not react to clicks";
    EXPECT_TRUE(style & LVS_OWNERDATA);
    EXPECT_FALSE(style & LVS_EDITLABELS) << "read-only";
    const auto extended =
        static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    for (int column = 0; column < 4; ++column) {
      EXPECT_EQ(ColumnCaption(list, column), columns[column].Caption);
      EXPECT_EQ(ColumnWidth(list, column), columns[column].Width);
    }
  }
  HWND gauge = fRig.Window().Child(idGauge1);
  PBRANGE range{};
  SendMessageW(gauge, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 20);
}

// Rows of the status lists after one tick, read back from the list views themselves.
class StatusTickTest : public MainWindowTest {
 protected:
  void AddEntry(std::unique_ptr<TNATInfoList> TAddressTables::*ATable, std::int32_t ANAD,
                std::int32_t AAlias, const std::string& AHost, std::uint16_t APort,
                std::int32_t ATimeout) {
    TAddressTables& tables = fRig.Window().Host().Tables();
    auto entry = std::make_unique<TNATInfo>(ANAD, AHost, APort, ATimeout);
    entry->SetNADAlias(AAlias);
    const TAddressTables::TLock lock(tables);
    (tables.*ATable)->Add(std::move(entry));
  }
  std::string Cell(int AList, int ARow, int AColumn) {
    return CellText(fRig.Window().Child(AList), ARow, AColumn);
  }
  int Rows(int AList) {
    return static_cast<int>(SendMessageW(fRig.Window().Child(AList), LVM_GETITEMCOUNT, 0, 0));
  }
};

TEST_F(StatusTickTest, RowsNumberedAcrossStaticAndPushEntries) {
  AddEntry(&TAddressTables::fNATTable, 100, 101, "127.0.0.1", 50123, 60);
  AddEntry(&TAddressTables::fNATTable, -1, -1, "127.0.0.2", 1, 59);
  AddEntry(&TAddressTables::fStaticTable, 1001, 1001, "localhost", 8442, -1);
  AddEntry(&TAddressTables::fStaticTable, 1002, 1002, "127.0.0.3", 9000, -1);
  AddEntry(&TAddressTables::fPushTable, 2001, 2001, "127.0.0.4", 9001, 600);
  fRig.Window().timSystemTimer();

  struct TRow {
    int List, Row;
    const char* No;
    const char* NAD;
    const char* Address;
    const char* Timeout;
  };
  const TRow expected[] = {
      {idListView1, 0, "1.", "100/101", "127.0.0.1:50123", "60"},
      {idListView1, 1, "2.", "4294967295", "127.0.0.2:1", "59"},
      {idListView2, 0, "1.", "1001", "localhost:8442", "static"},  // the host as entered
      {idListView2, 1, "2.", "1002", "127.0.0.3:9000", "static"},
      {idListView2, 2, "3.", "2001", "127.0.0.4:9001", "600"},
  };
  EXPECT_EQ(Rows(idListView1), 2);
  EXPECT_EQ(Rows(idListView2), 3);
  for (const TRow& row : expected) {
    SCOPED_TRACE(std::string(row.No) + " " + row.NAD);
    EXPECT_EQ(Cell(row.List, row.Row, 0), row.No);
    EXPECT_EQ(Cell(row.List, row.Row, 1), row.NAD);
    EXPECT_EQ(Cell(row.List, row.Row, 2), row.Address);
    EXPECT_EQ(Cell(row.List, row.Row, 3), row.Timeout);
  }
}

TEST_F(StatusTickTest, PushRowsStartAtOneWithoutStaticEntriesAndSelectionDoesNotSurvive) {
  AddEntry(&TAddressTables::fPushTable, 7, 7, "127.0.0.4", 9001, 600);
  AddEntry(&TAddressTables::fPushTable, 8, 8, "127.0.0.5", 9002, 599);
  fRig.Window().timSystemTimer();
  EXPECT_EQ(Cell(idListView2, 0, 0), "1.");
  EXPECT_EQ(Cell(idListView2, 1, 0), "2.");

  HWND list = fRig.Window().Child(idListView2);
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  ASSERT_EQ(SelectedRow(list), 1);
  fRig.Window().timSystemTimer();
  EXPECT_EQ(SelectedRow(list), -1);
  EXPECT_EQ(Rows(idListView2), 2);
}

TEST_F(StatusTickTest, RateLabelStartsAsDashThenShowsTheCountAndTheGaugeHoldsAtTwenty) {
  HWND label = fRig.Window().Child(idlblMsgCount);
  HWND gauge = fRig.Window().Child(idGauge1);
  EXPECT_EQ(WindowTextUtf8(label), "-");
  EXPECT_EQ(WindowTextUtf8(fRig.Window().Child(idlblReqCount)), "-");
  EXPECT_EQ(WindowTextUtf8(fRig.Window().Child(idlblAckCount)), "-");
  struct TCase {
    std::int32_t Count;
    const char* Text;
    int Position;
  };
  for (const TCase& rate :
       {TCase{25, "25 msg/sec", 20}, TCase{7, "7 msg/sec", 7}, TCase{0, "0 msg/sec", 0}}) {
    fRig.Window().Status().ShowRate(rate.Count);
    EXPECT_EQ(WindowTextUtf8(label), rate.Text);
    EXPECT_EQ(SendMessageW(gauge, PBM_GETPOS, 0, 0), rate.Position);
  }
}

TEST_F(StatusTickTest, HundredThousandRowsTickQuickly) {
  TAddressTables& tables = fRig.Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    for (int i = 0; i < 100000; ++i) {
      tables.fNATTable->Add(std::make_unique<TNATInfo>(i, "127.0.0.1", 1000, 60));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  fRig.Window().timSystemTimer();
  UpdateWindow(fRig.Handle());
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(Rows(idListView1), 100000);
  EXPECT_EQ(Cell(idListView1, 99999, 0), "100000.");
  EXPECT_EQ(Cell(idListView1, 99999, 1), "99999");
  // The list only asks for the rows it shows; the snapshot is the tick's whole cost.
  EXPECT_LT(elapsed.count(), 500) << "tick took " << elapsed.count() << " ms";
  std::printf("[ measured ] one tick at 100000 rows: %lld ms\n",
              static_cast<long long>(elapsed.count()));
}

// The lamps, fed from a second thread through the view as the listener feeds them.
class LampTest : public MainWindowTest {
 protected:
  const TPicture* Shown(int AId) { return GetPicture(fRig.Window().Child(AId)); }
  const TPicture* Picture(TLedColor AColor) { return &fRig.Window().Lamps()->Picture(AColor); }
};

TEST_F(LampTest, AllGreyAtStartThenAFrameLightsItsLampFor150Ms) {
  for (int id : {idimgLANRx, idimgWANRx, idimgLANTx, idimgWANTx}) {
    EXPECT_EQ(Shown(id), Picture(TLedColor::Gray));
  }
  std::thread listener([this] { fRig.Window().View().SetLed(TLamp::WANRx, TLedColor::Red); });
  listener.join();
  ASSERT_TRUE(PumpUntil([&] { return Shown(idimgWANRx) == Picture(TLedColor::Red); }));
  const auto lit = std::chrono::steady_clock::now();
  EXPECT_EQ(Shown(idimgLANRx), Picture(TLedColor::Gray)) << "only its own lamp";
  ASSERT_TRUE(PumpUntil([&] { return Shown(idimgWANRx) == Picture(TLedColor::Gray); }));
  const auto grey =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lit);
  EXPECT_GE(grey.count(), 140);
  EXPECT_LT(grey.count(), 1000);
  EXPECT_FALSE(fRig.Window().Lamps()->States().TimerRunning(TLamp::WANRx));
}

TEST_F(LampTest, FramesEvery100MsHoldTheLampLit) {
  TfmMain& window = fRig.Window();
  window.SetLed(TLamp::LANTx, TLedColor::Green);
  for (int frame = 0; frame < 6; ++frame) {
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(Shown(idimgLANTx), Picture(TLedColor::Green)) << "after frame " << frame;
    window.SetLed(TLamp::LANTx, TLedColor::Green);
  }
  ASSERT_TRUE(PumpUntil([&] { return Shown(idimgLANTx) == Picture(TLedColor::Gray); }));
}

TEST_F(LampTest, AFloodFromTheListenerCoalescesAndNeverWaitsForTheWindow) {
  TWin32RelayView& view = fRig.Window().View();
  std::atomic<int> mostPending{0};
  // Bounded: 200000 requests, and the window is not pumped meanwhile, so any wait for it
  // would hang here.
  std::thread listener([&] {
    for (int i = 0; i < 200000; ++i) {
      view.SetLed(static_cast<TLamp>(i % 4), i % 2 == 0 ? TLedColor::Red : TLedColor::Green);
      view.ReqCountChanged(i);
      mostPending = std::max(mostPending.load(), view.PendingDeliveries());
    }
    view.AckCountChanged(42);
  });
  listener.join();
  EXPECT_LE(mostPending.load(), 5) << "one message per lamp and one for the counters";
  ASSERT_TRUE(PumpUntil([&] { return view.PendingDeliveries() == 0; }));
  EXPECT_EQ(WindowTextUtf8(fRig.Window().Child(idlblReqCount)), "199999");
  EXPECT_EQ(WindowTextUtf8(fRig.Window().Child(idlblAckCount)), "42");
  EXPECT_NE(Shown(idimgLANRx), Picture(TLedColor::Gray));
}

}  // namespace
}  // namespace kelvo::test
