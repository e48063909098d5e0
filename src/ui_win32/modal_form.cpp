#include "ui_win32/modal_form.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "ui_win32/app_exception.h"

namespace kelvo {

namespace {

// Posted to a showing dialog so the showing hook runs from inside its modal loop.
constexpr UINT kShowingHookMessage = WM_APP + 20;

TModalForm::TShowingHook& ShowingHook() {
  static TModalForm::TShowingHook hook;
  return hook;
}

// An empty dialog template: no controls, no font; the form places everything itself.
struct alignas(4) TEmptyTemplate {
  DLGTEMPLATE Header;
  WORD Menu = 0;
  WORD WindowClass = 0;
  WORD Title = 0;
  WORD Padding = 0;
};

}  // namespace

TModalForm::TModalForm(const TFrame& AFrame) : fFrame(AFrame) {}

TModalForm::~TModalForm() {
  if (fHandle != nullptr) {
    SetWindowLongPtrW(fHandle, DWLP_USER, 0);
    DestroyWindow(fHandle);
  }
}

TModalForm::TShowingHook TModalForm::SetShowingHook(TShowingHook AHook) {
  return std::exchange(ShowingHook(), std::move(AHook));
}

void TModalForm::Create(HWND AOwner) {
  if (fHandle != nullptr) {
    return;
  }
  TEmptyTemplate dialog{};
  dialog.Header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                        (fFrame.Sizable ? WS_THICKFRAME | WS_MAXIMIZEBOX : 0);
  dialog.Header.dwExtendedStyle = WS_EX_CONTROLPARENT | (fFrame.Sizable ? 0 : WS_EX_DLGMODALFRAME);
  HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &dialog.Header, AOwner,
                                           &TModalForm::DialogProc, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    throw std::runtime_error("A dialog window could not be created");
  }
}

HWND TModalForm::AddControl(const wchar_t* AClass, const wchar_t* AText, DWORD AStyle, int AId,
                            const TBounds& ABounds96, DWORD AExStyle) {
  return CreateChild(fHandle, AClass, AText, WS_VISIBLE | AStyle, AExStyle, AId, ABounds96, fDpi,
                     fFont.Font());
}

INT_PTR TModalForm::ShowModal(HWND AOwner) {
  Create(AOwner);
  SetWindowLongPtrW(fHandle, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(AOwner));
  fModalResult = 0;
  // A failing FormShow is reported; the window still opens.
  Guarded(
      [this] {
        FormShow();
        return 0;
      },
      0);
  CentreOver(fHandle, AOwner);
  const bool ownerWasEnabled = AOwner != nullptr && IsWindowEnabled(AOwner);
  if (ownerWasEnabled) {
    EnableWindow(AOwner, FALSE);
  }
  fShowing = true;
  ShowWindow(fHandle, SW_SHOW);
  SetForegroundWindow(fHandle);
  if (ShowingHook()) {
    PostMessageW(fHandle, kShowingHookMessage, 0, 0);
  }

  bool quit = false;
  WPARAM quitCode = 0;
  MSG message{};
  while (fModalResult == 0) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
      quit = true;
      quitCode = message.wParam;
      CloseWith(IDCANCEL);
      break;
    }
    if (!IsDialogMessageW(fHandle, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  // The owner comes back before this window goes, so the activation returns to it.
  if (ownerWasEnabled) {
    EnableWindow(AOwner, TRUE);
  }
  ShowWindow(fHandle, SW_HIDE);
  fShowing = false;
  if (AOwner != nullptr && IsWindowVisible(AOwner)) {
    SetActiveWindow(AOwner);
  }
  if (quit) {
    PostQuitMessage(static_cast<int>(quitCode));
  }
  return fModalResult;
}

void TModalForm::CloseWith(INT_PTR AResult) {
  if (fModalResult != 0) {
    return;
  }
  Closing(AResult);
  fModalResult = AResult;
}

bool TModalForm::Command(int AId, int /*ACode*/) {
  if (AId == IDOK || AId == IDCANCEL) {
    CloseWith(AId);
    return true;
  }
  return false;
}

bool TModalForm::Message(UINT /*AMessage*/, WPARAM /*AWParam*/, LPARAM /*ALParam*/,
                         INT_PTR& /*AResult*/) {
  return false;
}

INT_PTR CALLBACK TModalForm::DialogProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                        LPARAM ALParam) {
  if (AMessage == WM_INITDIALOG) {
    auto* form = reinterpret_cast<TModalForm*>(ALParam);
    SetWindowLongPtrW(AWindow, DWLP_USER, ALParam);
    form->fHandle = AWindow;
    form->fDpi = WindowDpi(AWindow);
    SetWindowTextW(AWindow, form->fFrame.Caption);
    SetClientSize(AWindow, ScaleFrom96(form->fFrame.ClientWidth96, form->fDpi),
                  ScaleFrom96(form->fFrame.ClientHeight96, form->fDpi));
    Guarded(
        [form] {
          form->CreateControls();
          return 0;
        },
        0);
    return TRUE;
  }
  auto* form = reinterpret_cast<TModalForm*>(GetWindowLongPtrW(AWindow, DWLP_USER));
  if (form == nullptr) {
    return FALSE;
  }
  return Guarded([&] { return form->Dispatch(AMessage, AWParam, ALParam); }, INT_PTR{FALSE});
}

INT_PTR TModalForm::Dispatch(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  INT_PTR result = 0;
  if (Message(AMessage, AWParam, ALParam, result)) {
    SetWindowLongPtrW(fHandle, DWLP_MSGRESULT, result);
    return TRUE;
  }
  switch (AMessage) {
    case WM_COMMAND:
      return Command(LOWORD(AWParam), HIWORD(AWParam)) ? TRUE : FALSE;
    case WM_CLOSE:
      CloseWith(IDCANCEL);
      return TRUE;
    case WM_SIZE: {
      Resized(LOWORD(ALParam), HIWORD(ALParam));
      return TRUE;
    }
    case kShowingHookMessage:
      if (fShowing) {
        if (const TShowingHook& hook = ShowingHook()) {
          hook(*this);
        }
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace kelvo
