#include "ui_win32/relay_panel.h"

#include <commctrl.h>

#include <memory>

#include "present/gauge_look.h"
#include "ui_win32/app_exception.h"
#include "ui_win32/win32_controls.h"

namespace kelvo {

namespace {

struct TPanelState {
  const TPicture* Drawing = nullptr;
  RECT DrawingBounds{};
  TGdiObject Background;  // pattern brush: the panel's face with the drawing on it
};

TPanelState* StateOf(HWND APanel) {
  return reinterpret_cast<TPanelState*>(GetWindowLongPtrW(APanel, GWLP_USERDATA));
}

void RebuildBackground(HWND APanel, TPanelState& AState) {
  RECT client{};
  GetClientRect(APanel, &client);
  if (client.right <= 0 || client.bottom <= 0) {
    AState.Background.Reset();
    return;
  }
  HDC screen = GetDC(APanel);
  HDC memory = CreateCompatibleDC(screen);
  // Deleted at the end: the brush made from it keeps its own copy.
  const TGdiObject bitmap(CreateCompatibleBitmap(screen, client.right, client.bottom));
  HGDIOBJ previous = SelectObject(memory, bitmap.Get());
  FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (AState.Drawing != nullptr) {
    AState.Drawing->Draw(memory, AState.DrawingBounds);
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(APanel, screen);
  AState.Background.Reset(CreatePatternBrush(static_cast<HBITMAP>(bitmap.Get())));
}

HBRUSH ChildBrush(HWND APanel, TPanelState& AState, HDC ADC, HWND AChild) {
  if (AState.Background.Get() == nullptr) {
    RebuildBackground(APanel, AState);
  }
  // The brush pattern starts at the panel's corner, wherever the child stands.
  const TBounds place = ChildBounds(AChild);
  SetBrushOrgEx(ADC, -place.Left, -place.Top, nullptr);
  SetBkMode(ADC, TRANSPARENT);
  SetTextColor(ADC, GetSysColor(COLOR_BTNTEXT));
  return AState.Background.Get() != nullptr ? AState.Background.Brush()
                                            : GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT PanelMessage(HWND APanel, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  TPanelState* state = StateOf(APanel);
  switch (AMessage) {
    case WM_NCCREATE:
      // The window owns its state from here until WM_NCDESTROY.
      SetWindowLongPtrW(APanel, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(std::make_unique<TPanelState>().release()));
      break;
    case WM_NCDESTROY:
      std::unique_ptr<TPanelState>{state}.reset();
      SetWindowLongPtrW(APanel, GWLP_USERDATA, 0);
      break;
    case WM_SIZE:
      if (state != nullptr) {
        state->Background.Reset();
        InvalidateRect(APanel, nullptr, TRUE);
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (state != nullptr) {
        return reinterpret_cast<LRESULT>(ChildBrush(APanel, *state, reinterpret_cast<HDC>(AWParam),
                                                    reinterpret_cast<HWND>(ALParam)));
      }
      break;
    case WM_ERASEBKGND:
      if (state != nullptr) {
        RECT client{};
        GetClientRect(APanel, &client);
        auto dc = reinterpret_cast<HDC>(AWParam);
        if (state->Background.Get() == nullptr) {
          RebuildBackground(APanel, *state);
        }
        SetBrushOrgEx(dc, 0, 0, nullptr);
        FillRect(dc, &client,
                 state->Background.Get() != nullptr ? state->Background.Brush()
                                                    : GetSysColorBrush(COLOR_BTNFACE));
        return 1;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(APanel, AMessage, AWParam, ALParam);
}

LRESULT CALLBACK PanelProc(HWND APanel, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  return Guarded([&] { return PanelMessage(APanel, AMessage, AWParam, ALParam); }, LRESULT{0});
}

// Black or white, whichever reads better over both the white ground and the bar.
COLORREF GaugeTextColor() {
  const COLORREF bar = GetSysColor(COLOR_GRADIENTACTIVECAPTION);
  const TRgb text =
      ReadableTextColor({kGaugeBackColor, TRgb{GetRValue(bar), GetGValue(bar), GetBValue(bar)}});
  return RGB(text.R, text.G, text.B);
}

LRESULT CALLBACK GaugeProc(HWND AGauge, UINT AMessage, WPARAM AWParam, LPARAM ALParam,
                           UINT_PTR /*AId*/, DWORD_PTR AData) {
  if (AMessage == WM_NCDESTROY) {
    RemoveWindowSubclass(AGauge, GaugeProc, 1);
  }
  const LRESULT result = DefSubclassProc(AGauge, AMessage, AWParam, ALParam);
  if (AMessage == WM_PAINT) {
    Guarded(
        [&] {
          auto label = reinterpret_cast<HWND>(AData);
          RECT place{};
          GetWindowRect(label, &place);
          MapWindowPoints(HWND_DESKTOP, AGauge, reinterpret_cast<POINT*>(&place), 2);
          const std::wstring text = WindowText(label);
          HDC dc = GetDC(AGauge);
          HGDIOBJ previous =
              SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
          SetBkMode(dc, TRANSPARENT);
          SetTextColor(dc, GaugeTextColor());
          DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &place,
                    DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
          SelectObject(dc, previous);
          ReleaseDC(AGauge, dc);
          return 0;
        },
        0);
  }
  return result;
}

}  // namespace

void RegisterPanelClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kPanelClass, &windowClass)) {
    return;
  }
  windowClass.lpfnWndProc = PanelProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = kPanelClass;
  RegisterClassExW(&windowClass);
}

void SetPanelDrawing(HWND APanel, const TPicture* ADrawing, const RECT& ABounds) {
  if (TPanelState* state = StateOf(APanel)) {
    state->Drawing = ADrawing;
    state->DrawingBounds = ABounds;
    state->Background.Reset();
    InvalidateRect(APanel, nullptr, TRUE);
  }
}

void DrawLabelOverGauge(HWND AGauge, HWND ALabel) {
  SetWindowSubclass(AGauge, GaugeProc, 1, reinterpret_cast<DWORD_PTR>(ALabel));
}

}  // namespace kelvo
