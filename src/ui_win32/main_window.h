// The relay's main window (window class "TfmMain"): the applications and controllers it
// knows, the relay drawing with lamps, counters and rate gauge, and the four buttons. It owns
// the relay (TRelayHost, through its presenter) for the whole run and hides into the
// notification area when closed; only "Exit" in the icon's menu ends the program.
//
// The work is shared out: TMainPresenter decides what the window does (as for the Qt window),
// the shared main window design places the children, TStatusLists fills the lists and the
// gauge, TLampPanel runs the lamps, TWin32RelayView carries the engine's calls over from the
// listener thread, TTrayIcon is the notification icon. GUI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/control_requests.h"
#include "base/handle_win.h"
#include "present/attached_view.h"
#include "present/main_presenter.h"
#include "relay/relay_view.h"
#include "ui_win32/picture.h"
#include "ui_win32/win32_controls.h"

namespace kelvo {

// A window whose GWLP_USERDATA points at the object that owns it (see TfmMain::WndProc): cut
// loose before it is destroyed, so that no message of its last moments reaches an object that
// is gone.
struct TFormWindowTraits : TWindowTraits {
  static bool Close(HWND AWindow) {
    SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
    return DestroyWindow(AWindow) != FALSE;
  }
};

class TAttachedWindow;
class TLampPanel;
class TMyLog;
class TNetworkWatcher;
class TRegistryStore;
class TRelayHost;
class TStatusLists;
class TTrayIcon;
class TWin32RelayView;
class TfmAbout;
class TfmHelp;
class TfmOptions;

inline constexpr wchar_t kMainWindowClass[] = L"TfmMain";
// Message 1025: a refused second start asks for the window.
inline constexpr UINT kShowRequestMessage = WM_USER + 1;
// Posted by the network watcher's callbacks (a thread of the system's).
inline constexpr UINT kNetworkChangedMessage = WM_APP + 50;
inline constexpr UINT kStatusTickMs = 1000;
inline constexpr UINT kAgeingTickMs = 100;
// Window timer identifiers.
inline constexpr UINT_PTR kSystemTimerId = 1;  // timSystem
inline constexpr UINT_PTR kAgeingTimerId = 2;  // the tables' ageing tick
inline constexpr UINT_PTR kFirstLampTimerId =
    10;  // timLEDRxLAN, timLEDRxWAN, timLEDTxLAN, timLEDTxWAN

class TfmMain : public TMainView {
 public:
  // The windows the buttons open; created after the main window and kept by the caller.
  struct TDialogs {
    TfmAbout* About = nullptr;
    TfmOptions* Options = nullptr;
    TfmHelp* Help = nullptr;
  };

  // Creates the (hidden) window and runs the whole start-up (FormCreate): icon, tables,
  // counters, debug switch (on from the start with --debug-log), caption, error handler,
  // lamps, adapter, log file name, settings, endpoint. A failing step after the error handler
  // is installed goes to AppOnException and the later steps still run, so the relay listens
  // even with unreadable settings. With AAttachTo the window owns no relay: it shows the one
  // that AAttachTo reaches (a relay running as a service) and hands Setup's result over to it
  // (see attached_window.h).
  TfmMain(TMyLog& ALog, TRegistryStore& AStore, const TCommandLine& AOptions,
          TRelayAsk AAttachTo = {});
  ~TfmMain() override;
  TfmMain(const TfmMain&) = delete;
  TfmMain& operator=(const TfmMain&) = delete;

  HWND Handle() const { return fHandle; }
  HWND Child(int AId) const;
  void SetDialogs(const TDialogs& ADialogs) { fDialogs = ADialogs; }

  TRelayHost& Host() { return *fPresenter->Host(); }
  // Attached to a relay that runs without a window: then there is no Host().
  bool Attached() const { return fAttached != nullptr; }
  TAttachedWindow* AttachedWindow() { return fAttached.get(); }
  // One request line from the instance's local socket: --quit, the settings options.
  TControlAnswer AnswerRequest(const std::string& ALine);
  TWin32RelayView& View() { return *fView; }
  TLampPanel* Lamps() { return fLamps.get(); }
  TTrayIcon& Tray() { return *fTray; }
  TStatusLists& Status() { return *fStatus; }
  bool Exiting() const { return fPresenter->Exiting(); }

  // Handlers, public so the program's shell and tests can drive them.
  void timSystemTimer();
  // lblError's tooltip: why the port cannot be opened ("" while it can). The status tick keeps
  // it up to date.
  void ShowPortErrorReason(const std::string& AReason);
  void SetLed(TLamp ALamp, TLedColor AColor) override;
  void acOptionsExecute();
  void acHelpExecute();
  void acAboutExecute();
  void acCloseExecute();
  void Restore1Click();
  // Ends the message loop; shut-down (FormDestroy) follows in the program's shell.
  void Exit1Click();
  // Visible and in front of the other windows; a minimized window stays minimized.
  void ShowMainWindow() override;
  // Message 1025: shown, restored if minimized, in front.
  void ShowRequested();
  void AppOnException(const std::string& AMessage);
  // Shut-down (runs once): timers, endpoint, settings (unless they could not be read at
  // start), icon. Errors go to AppOnException.
  void FormDestroy();

  // TSettingsWindow: the restored (normal) frame position, also while minimized.
  std::int32_t RestoredTop() const override;
  std::int32_t RestoredLeft() const override;
  void SetTop(std::int32_t ATop) override;
  void SetLeft(std::int32_t ALeft) override;

 private:
  friend class TAttachedWindow;  // shows the relay it is attached to in these parts

  static LRESULT CALLBACK WndProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  LRESULT Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  bool Command(UINT AId);
  LRESULT ColorStatic(HDC ADC, HWND AChild);
  // TMainView.
  void ShowCounters(const std::string& AText) override;
  void SetCaption(const std::string& ACaption) override;
  void SetExceptionHandler(TFormLifecycle::TExceptionHandler AHandler) override;
  void CreateLamps() override;
  void StartTimers() override;
  void StopTimers() override;
  void StartAttached(TRelayAsk AAsk) override;  // attached_window.cpp
  void RemoveTrayIcon() override;
  void ShowNetworkTexts(const std::string& ATrayTip, bool AAlert,
                        const std::string& AAddressTip) override;
  bool Minimized() const override;
  void RestoreMinimized() override;
  void EndMessageLoop() override;

  void FormCreate(const TCommandLine& AOptions, TRelayAsk AAttachTo);
  void CreateControls();
  void CreateFonts();
  void FormResize();
  void DpiChanged(int ADpi, const RECT& ASuggested);
  void ShowCount(int AId, const std::string& AText);
  void ShowPortError(bool AVisible);
  void LoadPictures();
  // Moves the restored frame to ALeft and/or ATop (null: that edge stays).
  void MoveRestoredFrame(const LONG* ALeft, const LONG* ATop);

  TMyLog& fLog;
  TRegistryStore& fStore;
  // Declared before the window, so that they outlive it also when the constructor throws.
  TIcon fIcon;
  TIcon fSmallIcon;
  // Owns the window: when the constructor throws, the window is cut loose and destroyed once
  // the members declared after it are gone.
  THandleOwner<TFormWindowTraits> fWindow;
  HWND fHandle = nullptr;  // fWindow's handle
  int fDpi = 96;
  TDialogs fDialogs;
  TGdiObject fFont;          // Tahoma 11
  TGdiObject fTitleFont;     // Tahoma 19, the two list titles
  TGdiObject fScaleFont;     // Tahoma 8, the gauge's scale
  TGdiObject fErrorFont;     // Tahoma 11 bold
  HWND fErrorTip = nullptr;  // lblError's tooltip, made with its first text
  std::wstring fErrorTipText;
  TGdiObject fWhiteBrush;
  TGdiObject fLineBrush;
  std::array<std::unique_ptr<TPicture>, 5>
      fPictures;  // strip, logo, application, controller, relay
  std::unique_ptr<TTrayIcon> fTray;
  // The view outlives the host: the host's endpoint (and with it the listener) stops first.
  std::unique_ptr<TWin32RelayView> fView;
  std::unique_ptr<TMainPresenter> fPresenter;  // owns the relay
  std::unique_ptr<TLampPanel> fLamps;
  std::unique_ptr<TStatusLists> fStatus;
  std::unique_ptr<TNetworkWatcher> fNetwork;
  std::unique_ptr<TAttachedWindow> fAttached;  // uses the lamps, lists and tray
  int fCountRight = 0;                         // right edge of both counters inside Panel1
};

}  // namespace kelvo
