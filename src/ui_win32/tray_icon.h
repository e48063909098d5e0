// The notification-area icon with its "Restore"/"Exit" menu. The icon is added again when the
// taskbar is re-created (Explorer restarted): the menu holds the program's only "Exit", so an
// icon that stayed away would strand the program. GUI thread only.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "base/handle_win.h"

namespace kelvo {

// Message 1026: the icon's callback; lParam carries the mouse message.
inline constexpr UINT kTrayMessage = WM_USER + 2;
// Menu command identifiers (WM_COMMAND to the owner window), clear of IDOK and IDCANCEL,
// which the dialog manager sends for Enter and Esc.
inline constexpr UINT kRestoreCommand = 0x7001;
inline constexpr UINT kExitCommand = 0x7002;

class TTrayIcon {
 public:
  // AOwner receives kTrayMessage and the menu's WM_COMMAND; AIcon is not owned.
  TTrayIcon(HWND AOwner, HICON AIcon);
  ~TTrayIcon();  // removes the icon if it is still there
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  bool Add();
  void Remove();
  bool Added() const { return fAdded; }
  // "TaskbarCreated": the shell forgot every icon; true when AMessage was that message.
  bool TaskbarCreated(UINT AMessage);

  // What kTrayMessage asks for.
  enum class TAction { None, Show, MenuShown };
  // 513 shows the window; 516 makes it the foreground window, opens the menu at the cursor and
  // waits until it closes, then posts WM_NULL; every other mouse message is ignored.
  TAction TrayMessage(LPARAM AMouseMessage);

  // The tip's text (UTF-8, several lines), cut to what the shell keeps; the shell is told only
  // when it changed.
  void SetToolTip(const std::string& AText);
  // The icon's variant for a relay that cannot listen (or has ended): the resource
  // "ALERTICON", grey with a red mark. The shell is told only when it changed.
  void SetAlert(bool AAlert);
  bool Alert() const { return fAlert; }

  const NOTIFYICONDATAW& Data() const { return fData; }

 private:
  HWND fOwner;
  HICON fIcon;
  TIcon fAlertIcon;  // null when the executable carries none
  bool fAlert = false;
  NOTIFYICONDATAW fData{};
  UINT fTaskbarCreated;
  bool fAdded = false;
};

}  // namespace kelvo
