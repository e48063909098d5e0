#include "present/main_window_design.h"

#include <algorithm>
#include <array>

namespace kelvo {

namespace {

// clang-format off
constexpr std::array<TPartSpec, 36> kMainParts = {{
    {"Image1",         idImage1,         false, {0, 0, kMainClientWidth, 27}},
    {"Shape1",         idShape1,         false, {0, 27, kMainClientWidth, 1}},
    {"Image3",         idImage3,         false, {757, 2, 111, 26}},
    {"lblLAN",         idlblLAN,         false, {8, 45, 0, 0}},
    {"imgApplication", idimgApplication, false, {284, 34, 64, 48}},
    {"lblWAN",         idlblWAN,         false, {525, 45, 0, 0}},
    {"imgController",  idimgController,  false, {801, 33, 64, 48}},
    {"ListView1",      idListView1,      false, {8, 88, 340, 313}},
    {"ListView2",      idListView2,      false, {525, 87, 340, 314}},
    {"Panel1",         idPanel1,         false, {348, 141, 176, 207}},
    {"lblLocalIP",     idlblLocalIP,     false, {376, 351, 124, 14}},
    {"lblError",       idlblError,       false, {367, 371, 137, 13}},
    {"Button1",        idButton1,        false, {546, 423, 75, 25}},
    {"Button4",        idButton4,        false, {626, 423, 75, 25}},
    {"Button2",        idButton2,        false, {707, 423, 75, 25}},
    {"Button3",        idButton3,        false, {788, 423, 75, 25}},
    {"Image2",         idImage2,         true,  {4, 0, 168, 204}},
    {"Label1",         idLabel1,         true,  {51, 8, 0, 0}},
    {"lblReqCount",    idlblReqCount,    true,  {116, 8, 0, 0}},
    {"Label2",         idLabel2,         true,  {46, 24, 0, 0}},
    {"lblAckCount",    idlblAckCount,    true,  {116, 24, 0, 0}},
    {"imgLANRx",       idimgLANRx,       true,  {40, 52, 16, 16}},
    {"Label6",         idLabel6,         true,  {59, 54, 0, 0}},
    {"imgWANRx",       idimgWANRx,       true,  {120, 52, 16, 16}},
    {"Label5",         idLabel5,         true,  {106, 54, 0, 0}},
    {"imgLANTx",       idimgLANTx,       true,  {40, 84, 16, 16}},
    {"Label7",         idLabel7,         true,  {59, 87, 0, 0}},
    {"imgWANTx",       idimgWANTx,       true,  {120, 84, 16, 16}},
    {"Label8",         idLabel8,         true,  {106, 87, 0, 0}},
    {"Label4",         idLabel4,         true,  {19, 102, 28, 0}},
    {"Label3",         idLabel3,         true,  {128, 102, 28, 0}},
    {"Gauge1",         idGauge1,         true,  {32, 130, 113, 17}},
    {"lblMsgCount",    idlblMsgCount,    true,  {32, 132, 112, 14}},
    {"Label9",         idLabel9,         true,  {32, 148, 0, 0}},
    {"Label10",        idLabel10,        true,  {84, 148, 0, 0}},
    {"Label11",        idLabel11,        true,  {138, 148, 0, 0}},
}};
// clang-format on

std::size_t IndexOf(int AId) {
  return static_cast<std::size_t>(AId - idImage1);
}

}  // namespace

std::span<const TPartSpec> MainWindowParts() {
  return kMainParts;
}

const TPartSpec* FindMainPart(int AId) {
  if (AId < idImage1 || IndexOf(AId) >= kMainParts.size()) {
    return nullptr;
  }
  return &kMainParts[IndexOf(AId)];
}

std::array<int, kStatusColumnCount> StatusColumnWidths(int AClientWidth, int ADpi) {
  std::array<int, kStatusColumnCount> widths{};
  int total = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    widths[i] = ScaleFrom96(kStatusColumns[i].Width, ADpi);
    total += widths[i];
  }
  if (total <= AClientWidth || AClientWidth <= 0) {
    return widths;
  }
  int given = 0;
  for (std::size_t i = 0; i + 1 < widths.size(); ++i) {
    widths[i] = static_cast<int>(static_cast<long long>(widths[i]) * AClientWidth / total);
    given += widths[i];
  }
  widths.back() = AClientWidth - given;
  return widths;
}

int ScaleFrom96(int AValue96, int ADpi) {
  // Rounded half away from zero, as MulDiv does.
  const long long product = static_cast<long long>(AValue96) * ADpi;
  return static_cast<int>(product >= 0 ? (product + 48) / 96 : -((-product + 48) / 96));
}

TBounds ScaleFrom96(const TBounds& ABounds96, int ADpi) {
  return {ScaleFrom96(ABounds96.Left, ADpi), ScaleFrom96(ABounds96.Top, ADpi),
          ScaleFrom96(ABounds96.Width, ADpi), ScaleFrom96(ABounds96.Height, ADpi)};
}

std::vector<TBounds> MainWindowLayout(int AClientWidth, int AClientHeight, int ADpi) {
  std::vector<TBounds> places;
  places.reserve(kMainParts.size());
  for (const TPartSpec& part : kMainParts) {
    places.push_back(ScaleFrom96(part.Design, ADpi));
  }
  auto at = [&places](int AId) -> TBounds& { return places[IndexOf(AId)]; };
  const int designWidth = ScaleFrom96(kMainClientWidth, ADpi);
  const int designHeight = ScaleFrom96(kMainClientHeight, ADpi);

  // Full width along the top.
  at(idImage1).Width = AClientWidth;
  at(idShape1).Width = AClientWidth;
  // Anchored top and right: they keep their distance to the right edge.
  for (int id : {idImage3, idimgController}) {
    at(id).Left += AClientWidth - designWidth;
  }
  // Anchored bottom and right.
  for (int id : {idButton1, idButton4, idButton2, idButton3}) {
    at(id).Left += AClientWidth - designWidth;
    at(id).Top += AClientHeight - designHeight;
  }

  // The resize rule, applied after the buttons have followed the corner. Below the width that
  // leaves the lists no room they stay 0 wide rather than turning negative.
  TBounds& list1 = at(idListView1);
  TBounds& list2 = at(idListView2);
  TBounds& panel = at(idPanel1);
  // The rule's gaps are designed pixels too and scale with the rest.
  const int gap2 = ScaleFrom96(2, ADpi);
  const int gap4 = ScaleFrom96(4, ADpi);
  const int gap10 = ScaleFrom96(10, ADpi);
  const int width = std::max(0, (AClientWidth - 2 * list1.Left - panel.Width - gap4) / 2);
  const int height = std::max(0, at(idButton1).Top - list1.Top - gap10);
  list1.Width = width;
  list2.Width = width;
  list1.Height = height;
  list2.Height = height;
  panel.Left = list1.Left + width + gap2;
  list2.Left = panel.Left + panel.Width + gap2;
  at(idlblWAN).Left = list2.Left;
  at(idimgApplication).Left = list1.Left + width - at(idimgApplication).Width;
  // The address and the error line belong to the relay drawing above them: left at their
  // designed place they would end up over a list once the window is wider or narrower.
  const int panelShift = panel.Left - ScaleFrom96(FindMainPart(idPanel1)->Design.Left, ADpi);
  for (int id : {idlblLocalIP, idlblError}) {
    at(id).Left += panelShift;
  }
  return places;
}

}  // namespace kelvo
