// Small helpers shared by the Win32 forms: design fonts, child windows at designed places
// (96-dpi figures scaled to the window's dpi), window texts. GUI thread only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/handle_win.h"
#include "present/main_window_design.h"

namespace kelvo {

// A font of APixelHeight character pixels at 96 dpi (a design "11 pixels high" Tahoma).
HFONT CreateDesignFont(const wchar_t* AFace, int APixelHeight, int ADpi, bool ABold = false);
// The same for a size in points (MS Sans Serif 8).
HFONT CreatePointFont(const wchar_t* AFace, int APoints, int ADpi);

// Owns one GDI object and deletes it.
class TGdiObject : public THandleOwner<TGdiObjectTraits> {
 public:
  using THandleOwner::THandleOwner;
  HFONT Font() const { return static_cast<HFONT>(Get()); }
  HBRUSH Brush() const { return static_cast<HBRUSH>(Get()); }
};

// Dots per inch of AWindow (96 when the system cannot tell).
int WindowDpi(HWND AWindow);

// A child of AParent with control identifier AId at ABounds96 scaled to ADpi, using AFont.
HWND CreateChild(HWND AParent, const wchar_t* AClass, const wchar_t* AText, DWORD AStyle,
                 DWORD AExStyle, int AId, const TBounds& ABounds96, int ADpi, HFONT AFont);
// Sizes a label to its text (ABoundsWidth, if not 0, keeps a fixed width).
void FitToText(HWND ALabel, int AFixedWidth = 0);
// A label whose text is wider than its designed place (a substituted font with other metrics)
// grows to fit it: to the left when it is right-aligned, to the right otherwise.
void GrowToText(HWND ALabel, bool ARightAligned);
// A right-aligned label drawn as a left-aligned one sized to its text, ending at its designed
// right edge: a right-aligned static that wraps would start a word that just fails to fit at
// its left edge and cut its end.
void FitRightAligned(HWND ALabel);
// A check box grows the same way, to its box, the gap after it and its caption.
void GrowCheckBoxToText(HWND ACheckBox);
// A label as high as its font's lines (the title's descenders stay inside it), top kept.
void GrowHeightToText(HWND ALabel);
// The text's width in the control's own font, as the control draws it.
int TextWidth(HWND AControl);
void PlaceWindow(HWND AWindow, const TBounds& ABounds);
// The child's rectangle in its parent's client coordinates.
TBounds ChildBounds(HWND AChild);

std::wstring WindowText(HWND AWindow);
std::string WindowTextUtf8(HWND AWindow);
void SetWindowTextUtf8(HWND AWindow, std::string_view AText);

// Sizes the top-level AWindow so that its client area is AClientWidth x AClientHeight device
// pixels, and centres it over AOwner (or the screen's work area without one).
void SetClientSize(HWND AWindow, int AClientWidth, int AClientHeight);
void CentreOver(HWND AWindow, HWND AOwner);
// A restored top-level window no larger than the work area of the monitor it is (mostly) on,
// and moved wholly onto it (present/placement.h's FitOnScreen).
void KeepOnWorkArea(HWND AWindow);

}  // namespace kelvo
