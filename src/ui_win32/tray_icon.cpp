#include "ui_win32/tray_icon.h"

#include <cwchar>

#include "app/version.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

TTrayIcon::TTrayIcon(HWND AOwner, HICON AIcon)
    : fOwner(AOwner),
      fIcon(AIcon),
      fAlertIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"ALERTICON", IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR))),
      fTaskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")) {
  fData.cbSize = sizeof(fData);
  fData.hWnd = AOwner;
  fData.uID = 0;
  fData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  fData.uCallbackMessage = kTrayMessage;
  fData.hIcon = AIcon;
  const std::wstring tip = Widen(kApplicationTitle);
  std::wcsncpy(fData.szTip, tip.c_str(), sizeof(fData.szTip) / sizeof(fData.szTip[0]) - 1);
}

TTrayIcon::~TTrayIcon() {
  Remove();
}

void TTrayIcon::SetAlert(bool AAlert) {
  if (AAlert == fAlert) {
    return;
  }
  fAlert = AAlert;
  fData.hIcon = AAlert && fAlertIcon ? fAlertIcon.Get() : fIcon;
  if (fAdded) {
    Shell_NotifyIconW(NIM_MODIFY, &fData);
  }
}

bool TTrayIcon::Add() {
  fAdded = Shell_NotifyIconW(NIM_ADD, &fData) != FALSE;
  return fAdded;
}

void TTrayIcon::Remove() {
  if (fAdded) {
    Shell_NotifyIconW(NIM_DELETE, &fData);
    fAdded = false;
  }
}

void TTrayIcon::SetToolTip(const std::string& AText) {
  std::wstring tip = Widen(AText);
  const std::size_t room = sizeof(fData.szTip) / sizeof(fData.szTip[0]) - 1;
  if (tip.size() > room) {
    tip.resize(room);
  }
  if (tip == fData.szTip) {
    return;
  }
  std::wmemset(fData.szTip, L'\0', room + 1);
  std::wcsncpy(fData.szTip, tip.c_str(), room);
  if (fAdded) {
    Shell_NotifyIconW(NIM_MODIFY, &fData);
  }
}

bool TTrayIcon::TaskbarCreated(UINT AMessage) {
  if (fTaskbarCreated == 0 || AMessage != fTaskbarCreated) {
    return false;
  }
  fAdded = false;  // the new taskbar has no icon of ours
  Add();
  return true;
}

TTrayIcon::TAction TTrayIcon::TrayMessage(LPARAM AMouseMessage) {
  switch (AMouseMessage) {
    case WM_LBUTTONDOWN:
      return TAction::Show;
    case WM_RBUTTONDOWN: {
      // The owner must be in front, or the menu would not close when the user clicks away.
      SetForegroundWindow(fOwner);
      POINT cursor{};
      GetCursorPos(&cursor);
      HMENU menu = CreatePopupMenu();
      AppendMenuW(menu, MF_STRING, kRestoreCommand, L"Restore");
      AppendMenuW(menu, MF_STRING, kExitCommand, L"Exit");
      TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, fOwner, nullptr);
      DestroyMenu(menu);
      PostMessageW(fOwner, WM_NULL, 0, 0);
      return TAction::MenuShown;
    }
    default:
      return TAction::None;
  }
}

}  // namespace kelvo
