// The relay's main window: the applications and controllers it knows, the relay drawing with
// lamps, counters and rate gauge, and the four buttons. It owns the relay (TRelayHost, through
// its presenter) for the whole run and hides into the notification area when closed; only
// "Exit" ends the program.
//
// The work is shared out: TMainPresenter decides what the window does (as for the Win32
// window), TMainWindowUi places the widgets, TStatusPresenter fills the lists and the gauge,
// TLampPanel runs the lamps, TQtRelayView carries the engine's calls over from the listener
// thread, TTrayIcon is the notification icon. GUI thread only.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/control_requests.h"
#include "app/network_status.h"
#include "present/attached_view.h"
#include "present/main_presenter.h"
#include "relay/relay_view.h"
#include "ui_qt/main_window_layout.h"

class QAction;
class QTimer;

namespace kelvo {

class TAttachedWindow;
class TLampPanel;
class TMyLog;
class TQtRelayView;
class TRegistryStore;
class TRelayHost;
class TStatusPresenter;
class TTrayIcon;
class TfmAbout;
class TfmHelp;
class TfmOptions;

inline constexpr int kStatusTickMs = 1000;
inline constexpr int kAgeingTickMs = 100;

class TfmMain : public QWidget, public TMainView {
  Q_OBJECT

 public:
  // The windows the buttons open; created after the main window and kept by the caller.
  struct TDialogs {
    TfmAbout* About = nullptr;
    TfmOptions* Options = nullptr;
    TfmHelp* Help = nullptr;
  };

  // Runs the whole start-up (FormCreate): icon, tables, counters, debug switch (on from the
  // start with --debug-log), caption, error handler, lamps, adapter, log file name, settings,
  // endpoint. A failing step after the error handler is installed goes to AppOnException and
  // the later steps still run, so the relay listens even with unreadable settings.
  // With AAttachTo the window owns no relay: it shows the one that AAttachTo reaches (a relay
  // running as a service) and hands Setup's result over to it (see attached_window.h).
  TfmMain(TMyLog& ALog, TRegistryStore& AStore, const TCommandLine& AOptions,
          QWidget* AParent = nullptr, TRelayAsk AAttachTo = {});
  ~TfmMain() override;

  void SetDialogs(const TDialogs& ADialogs) { fDialogs = ADialogs; }

  TRelayHost& Host() { return *fPresenter->Host(); }
  // Attached to a relay that runs without a window: then there is no Host().
  bool Attached() const { return fAttached != nullptr; }
  TAttachedWindow* AttachedWindow() { return fAttached.get(); }
  // One request line from the instance's local socket: --quit, the settings options.
  TControlAnswer AnswerRequest(const std::string& ALine);
  TQtRelayView& View() { return *fView; }
  TLampPanel& Lamps() { return *fLamps; }
  TTrayIcon& Tray() { return *fTray; }
  const TMainWindowUi& Ui() const { return fUi; }
  // Whether a close request now would hide the window into the notification area; without
  // one, it ends the program as "Exit" does.
  bool HidesToTray() const;

  // Handlers, public so the program's shell and tests can drive them.
  void timSystemTimer();
  // The tray's tooltip and the address label's tooltip, after every change of the binding and
  // with every status tick (the numbers of rows).
  void ShowNetworkStatus(const TNetworkStatus& AStatus);
  void SetLed(TLamp ALamp, TLedColor AColor) override;
  void acOptionsExecute();
  void acHelpExecute();
  void acAboutExecute();
  void acCloseExecute();
  void Restore1Click();
  // "Exit": also the way out for --quit, a signal, or a close without a notification area.
  void Exit1Click();
  // Visible and in front of the other windows; a minimized window stays minimized.
  void ShowMainWindow() override;
  // A refused second start asked for the window: shown, restored if minimized, in front.
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

  QAction* acOptions = nullptr;
  QAction* acHelp = nullptr;
  QAction* acAbout = nullptr;
  QAction* acClose = nullptr;
  QTimer* timSystem = nullptr;     // status tick
  QTimer* timAgeTables = nullptr;  // the tables' ageing tick

 signals:
  // "Exit" (or SIGINT/SIGTERM): the message loop should stop; shut-down follows.
  void ExitProgram();

 protected:
  void closeEvent(QCloseEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;

 private:
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
  void CreateActions();
  void ConnectView();
  QPoint RestoredFramePosition() const;

  TMyLog& fLog;
  TRegistryStore& fStore;
  TMainWindowUi fUi;
  TDialogs fDialogs;
  std::unique_ptr<TTrayIcon> fTray;
  // The view outlives the host: the host's endpoint (and with it the listener) stops first.
  std::unique_ptr<TQtRelayView> fView;
  std::unique_ptr<TMainPresenter> fPresenter;  // owns the relay
  std::unique_ptr<TLampPanel> fLamps;
  std::unique_ptr<TStatusPresenter> fStatus;
  std::unique_ptr<TAttachedWindow> fAttached;  // uses the lamps and the tray: declared after them
};

}  // namespace kelvo
