// The main window as designed: every component's pixel place at 96 dpi, and the resize rule that
// spreads the two lists over the width. Plain numbers, no window system: both front-ends place
// their widgets from these figures and the layout tests hold the real widgets against them.
// Any thread.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "present/status_rows.h"

namespace kelvo {

struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;

  constexpr int Right() const { return Left + Width; }
  constexpr int Bottom() const { return Top + Height; }
  bool operator==(const TBounds&) const = default;
};

// One designed component. Width and height 0: a label that takes the size of its text.
struct TPartSpec {
  const char* Name;
  int Id;          // control identifier of the child window
  bool InPanel;    // placed relative to the main window's Panel1
  TBounds Design;  // at 96 dpi
};

// The main window's components; the Win32 front-end uses them as its control identifiers.
enum TMainPartId : int {
  idImage1 = 100,
  idShape1,
  idImage3,
  idlblLAN,
  idimgApplication,
  idlblWAN,
  idimgController,
  idListView1,
  idListView2,
  idPanel1,
  idlblLocalIP,
  idlblError,
  idButton1,
  idButton4,
  idButton2,
  idButton3,
  idImage2,
  idLabel1,
  idlblReqCount,
  idLabel2,
  idlblAckCount,
  idimgLANRx,
  idLabel6,
  idimgWANRx,
  idLabel5,
  idimgLANTx,
  idLabel7,
  idimgWANTx,
  idLabel8,
  idLabel4,
  idLabel3,
  idGauge1,
  idlblMsgCount,
  idLabel9,
  idLabel10,
  idLabel11
};

inline constexpr int kMainClientWidth = 872;
inline constexpr int kMainClientHeight = 456;

// Every component of the main window, window children first, in creation order.
std::span<const TPartSpec> MainWindowParts();
const TPartSpec* FindMainPart(int AId);

// The places of the main window's children (Panel1's children relative to the panel) for a
// client area of AClientWidth x AClientHeight device pixels at ADpi: the designed places scaled
// from 96 dpi, then the anchors (top-right pictures, bottom-right buttons) and the resize rule.
// lblLocalIP and lblError stand under the relay drawing, so they keep their designed offset
// from Panel1 and move with it. Indexed like MainWindowParts(); autosized labels keep width and
// height 0.
std::vector<TBounds> MainWindowLayout(int AClientWidth, int AClientHeight, int ADpi);

// The status lists' column widths (kStatusColumns) for a list whose inside is AClientWidth
// device pixels wide at ADpi: as designed, scaled; where they would not fit (a window kept on a
// small screen at 1.5x), all narrowed in proportion to fill it, so no horizontal scroll bar is
// needed.
std::array<int, kStatusColumnCount> StatusColumnWidths(int AClientWidth, int ADpi);

// AValue96 pixels at 96 dpi in device pixels at ADpi, rounded to nearest.
int ScaleFrom96(int AValue96, int ADpi);
TBounds ScaleFrom96(const TBounds& ABounds96, int ADpi);

}  // namespace kelvo
