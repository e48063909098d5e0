// Panel1 of the main window: the relay drawing with the lamps, counters and the rate gauge on
// it. Its children (labels, lamps) are drawn over the drawing: the panel hands them a brush cut
// from its own background, so a label whose text changes repaints the drawing behind it.
// The gauge draws the rate label's text over its bar. GUI thread only.
#pragma once

#include <windows.h>

#include "ui_win32/picture.h"

namespace kelvo {

inline constexpr wchar_t kPanelClass[] = L"KelvoPanel";
void RegisterPanelClass();
// The drawing (not owned) at ABounds inside the panel, in device pixels.
void SetPanelDrawing(HWND APanel, const TPicture* ADrawing, const RECT& ABounds);
// AGauge draws the text of ALabel (a hidden static) centred in the label's place.
void DrawLabelOverGauge(HWND AGauge, HWND ALabel);

}  // namespace kelvo
