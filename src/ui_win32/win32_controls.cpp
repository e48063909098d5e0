#include "ui_win32/win32_controls.h"

#include <vector>

#include "present/placement.h"

#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

HFONT MakeFont(const wchar_t* AFace, int AHeight, bool ABold) {
  // A negative height asks for the character height, not the cell height.
  return CreateFontW(-AHeight, 0, 0, 0, ABold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, AFace);
}

}  // namespace

HFONT CreateDesignFont(const wchar_t* AFace, int APixelHeight, int ADpi, bool ABold) {
  return MakeFont(AFace, ScaleFrom96(APixelHeight, ADpi), ABold);
}

HFONT CreatePointFont(const wchar_t* AFace, int APoints, int ADpi) {
  return MakeFont(AFace, MulDiv(APoints, ADpi, 72), false);
}

int WindowDpi(HWND AWindow) {
  // GetDpiForWindow exists from Windows 10 1607 on; older systems report the screen's dpi.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && AWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(AWindow); dpi != 0) {
      return static_cast<int>(dpi);
    }
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HWND CreateChild(HWND AParent, const wchar_t* AClass, const wchar_t* AText, DWORD AStyle,
                 DWORD AExStyle, int AId, const TBounds& ABounds96, int ADpi, HFONT AFont) {
  const TBounds place = ScaleFrom96(ABounds96, ADpi);
  HWND child = CreateWindowExW(AExStyle, AClass, AText, WS_CHILD | AStyle, place.Left, place.Top,
                               place.Width, place.Height, AParent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(AId)),
                               GetModuleHandleW(nullptr), nullptr);
  if (child != nullptr && AFont != nullptr) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(AFont), FALSE);
  }
  return child;
}

void FitToText(HWND ALabel, int AFixedWidth) {
  const std::wstring text = WindowText(ALabel);
  HDC dc = GetDC(ALabel);
  auto font = reinterpret_cast<HFONT>(SendMessageW(ALabel, WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.empty() ? L" " : text.c_str(),
                        text.empty() ? 1 : static_cast<int>(text.size()), &extent);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(ALabel, dc);
  const int width = AFixedWidth > 0 ? AFixedWidth : static_cast<int>(extent.cx);
  SetWindowPos(ALabel, nullptr, 0, 0, width, metrics.tmHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// A few pixels to spare, for the static's own drawing.
constexpr int kSpare = 2;

}  // namespace

int TextWidth(HWND AControl) {
  const std::wstring text = WindowText(AControl);
  HDC dc = GetDC(AControl);
  HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(AControl, WM_GETFONT, 0, 0)));
  RECT extent{};
  // As the control draws it: an "&" that marks an access key takes no room, unless the control
  // shows it as it is.
  wchar_t windowClass[16] = {};
  GetClassNameW(AControl, windowClass, 16);
  const bool noPrefix = lstrcmpiW(windowClass, L"Static") == 0 &&
                        (GetWindowLongPtrW(AControl, GWL_STYLE) & SS_NOPREFIX) != 0;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
            DT_CALCRECT | DT_SINGLELINE | (noPrefix ? DT_NOPREFIX : 0));
  SelectObject(dc, previous);
  ReleaseDC(AControl, dc);
  return extent.right + kSpare;
}

void FitRightAligned(HWND ALabel) {
  TBounds place = ChildBounds(ALabel);
  const int right = place.Right();
  place.Width = TextWidth(ALabel);
  place.Left = right - place.Width;
  auto style = GetWindowLongPtrW(ALabel, GWL_STYLE);
  style = (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_LEFT;
  SetWindowLongPtrW(ALabel, GWL_STYLE, style);
  PlaceWindow(ALabel, place);
}

void GrowToText(HWND ALabel, bool ARightAligned) {
  TBounds place = ChildBounds(ALabel);
  const int missing = TextWidth(ALabel) - place.Width;
  if (missing <= 0) {
    return;
  }
  if (ARightAligned) {
    place.Left -= missing;
  }
  place.Width += missing;
  PlaceWindow(ALabel, place);
}

void GrowCheckBoxToText(HWND ACheckBox) {
  TBounds place = ChildBounds(ACheckBox);
  // The box, and the gap the button control leaves between it and the caption.
  const int box = GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE) * 3;
  const int needed = box + TextWidth(ACheckBox);
  if (needed > place.Width) {
    place.Width = needed;
    PlaceWindow(ACheckBox, place);
  }
}

void GrowHeightToText(HWND ALabel) {
  HDC dc = GetDC(ALabel);
  HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(ALabel, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(ALabel, dc);
  TBounds place = ChildBounds(ALabel);
  if (metrics.tmHeight > place.Height) {
    place.Height = metrics.tmHeight;
    PlaceWindow(ALabel, place);
  }
}

void PlaceWindow(HWND AWindow, const TBounds& ABounds) {
  SetWindowPos(AWindow, nullptr, ABounds.Left, ABounds.Top, ABounds.Width, ABounds.Height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

TBounds ChildBounds(HWND AChild) {
  RECT rect{};
  GetWindowRect(AChild, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(AChild), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::wstring WindowText(HWND AWindow) {
  const int length = GetWindowTextLengthW(AWindow);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(AWindow, buffer.data(), length + 1);
  return std::wstring(buffer.data());
}

std::string WindowTextUtf8(HWND AWindow) {
  return Narrow(WindowText(AWindow));
}

void SetWindowTextUtf8(HWND AWindow, std::string_view AText) {
  SetWindowTextW(AWindow, Widen(AText).c_str());
}

void SetClientSize(HWND AWindow, int AClientWidth, int AClientHeight) {
  RECT frame{0, 0, AClientWidth, AClientHeight};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(AWindow, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(AWindow, GWL_EXSTYLE));
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  SetWindowPos(AWindow, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreOver(HWND AWindow, HWND AOwner) {
  RECT frame{};
  GetWindowRect(AWindow, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT area{};
  if (AOwner != nullptr && IsWindowVisible(AOwner) && !IsIconic(AOwner)) {
    GetWindowRect(AOwner, &area);
  } else {
    // No owner on screen: the middle of the work area.
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const TRect place = CentredOn(
      {area.left, area.top, area.right - area.left, area.bottom - area.top}, width, height);
  SetWindowPos(AWindow, nullptr, place.Left, place.Top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void KeepOnWorkArea(HWND AWindow) {
  if (IsIconic(AWindow) || IsZoomed(AWindow)) {
    return;  // the restored frame is placed again when it is restored
  }
  RECT frame{};
  GetWindowRect(AWindow, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return;
  }
  const RECT& area = monitor.rcWork;
  const TRect now{frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
  const TRect fitted =
      FitOnScreen(now, {area.left, area.top, area.right - area.left, area.bottom - area.top});
  if (fitted == now) {
    return;
  }
  SetWindowPos(AWindow, nullptr, fitted.Left, fitted.Top, fitted.Width, fitted.Height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kelvo
