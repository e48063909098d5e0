// The program's dialogs: each is created once (hidden) and reused for every showing, so its
// controls keep their state between uses, and is shown modally over its owner, centred on it.
// The controls are placed in pixels from the 96-dpi design and scaled to the window's dpi.
// Enter presses the default button, Esc and the frame's close box give IDCANCEL. Every error
// in a handler goes to AppOnException. GUI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "present/main_window_design.h"
#include "ui_win32/win32_controls.h"

namespace kelvo {

class TModalForm {
 public:
  struct TFrame {
    const wchar_t* Caption;
    int ClientWidth96;
    int ClientHeight96;
    bool Sizable = false;  // sizable frame with a maximize box (and no minimize box)
  };

  explicit TModalForm(const TFrame& AFrame);
  virtual ~TModalForm();
  TModalForm(const TModalForm&) = delete;
  TModalForm& operator=(const TModalForm&) = delete;

  // Creates the hidden window with its controls, owned by AOwner; ShowModal does it when it
  // has not been done.
  void Create(HWND AOwner);
  // Shows the window modally over AOwner (disabled meanwhile) until a result is set:
  // IDOK, IDCANCEL. A WM_QUIT arriving meanwhile ends the showing with IDCANCEL and is
  // passed on to the outer message loop.
  INT_PTR ShowModal(HWND AOwner);
  // Ends the showing with AResult (after Closing has run).
  void CloseWith(INT_PTR AResult);

  HWND Handle() const { return fHandle; }
  HWND Item(int AId) const { return GetDlgItem(fHandle, AId); }
  bool Showing() const { return fShowing; }

  // Tests: called (once per showing, on the GUI thread) as soon as a showing is on screen.
  using TShowingHook = std::function<void(TModalForm& AForm)>;
  static TShowingHook SetShowingHook(TShowingHook AHook);

 protected:
  // The window exists; create the controls (in tab order).
  virtual void CreateControls() = 0;
  // Every showing, before the window appears.
  virtual void FormShow() {}
  // A control's WM_COMMAND; true when handled. IDOK and IDCANCEL arrive here first; the
  // default closes with them.
  virtual bool Command(int AId, int ACode);
  // Any other message; true (with AResult) when handled.
  virtual bool Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam, INT_PTR& AResult);
  // The client area changed size (device pixels).
  virtual void Resized(int /*AWidth*/, int /*AHeight*/) {}
  // The showing ends with AResult: drop or hand over what it worked on.
  virtual void Closing(INT_PTR /*AResult*/) {}

  int Dpi() const { return fDpi; }
  HFONT Font() const { return fFont.Font(); }
  void SetFont(HFONT AFont) { fFont.Reset(AFont); }
  // A control with the form's font at ABounds96.
  HWND AddControl(const wchar_t* AClass, const wchar_t* AText, DWORD AStyle, int AId,
                  const TBounds& ABounds96, DWORD AExStyle = 0);

 private:
  static INT_PTR CALLBACK DialogProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  INT_PTR Dispatch(UINT AMessage, WPARAM AWParam, LPARAM ALParam);

  TFrame fFrame;
  HWND fHandle = nullptr;
  int fDpi = 96;
  TGdiObject fFont;
  INT_PTR fModalResult = 0;
  bool fShowing = false;
};

}  // namespace kelvo
