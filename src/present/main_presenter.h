// What both main windows (TfmMain) do, said once without a toolkit: the start-up in its order,
// the start-up of a window attached to a relay that runs without one, shut-down, the tray's
// texts, the handlers of "Exit", the show request, Setup and the local channel. Each front-end
// implements TMainView with its toolkit's calls and hands its handlers over to TMainPresenter.
//
//   TfmMain (toolkit) --handlers--> TMainPresenter --owns--> TRelayHost, TFormLifecycle
//        ^                               |
//        +------- TMainView calls -------+
//
// GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "app/control_requests.h"
#include "app/network_status.h"
#include "base/thread_check.h"
#include "present/attached_view.h"
#include "present/form_lifecycle.h"
#include "present/settings_window.h"
#include "relay/relay_view.h"

namespace kelvo {

class TMyLog;
class TRegistryStore;
class TRelayHost;

// The main window as the presenter drives it: nothing but toolkit calls.
class TMainView : public TSettingsWindow {
 public:
  // lblReqCount, lblAckCount and lblMsgCount all show AText.
  virtual void ShowCounters(const std::string& AText) = 0;
  virtual void SetCaption(const std::string& ACaption) = 0;
  // Where an error escaping an event handler goes from now on; null: nowhere any more.
  virtual void SetExceptionHandler(TFormLifecycle::TExceptionHandler AHandler) = 0;
  // The lamps with their pictures and timers.
  virtual void CreateLamps() = 0;
  virtual void SetLed(TLamp ALamp, TLedColor AColor) = 0;
  // The status tick and the tables' ageing tick.
  virtual void StartTimers() = 0;
  // Every timer of the window (status tick, lamps, ageing, an attached window's polling); those
  // never started are left as they are.
  virtual void StopTimers() = 0;
  // Shows the relay that AAsk reaches: lamps, lists and the attached window's polling.
  virtual void StartAttached(TRelayAsk AAsk) = 0;
  virtual void RemoveTrayIcon() = 0;
  // The tray icon's tooltip and its alert variant, and the address label's tooltip where the
  // toolkit shows one.
  virtual void ShowNetworkTexts(const std::string& ATrayTip, bool AAlert,
                                const std::string& AAddressTip) = 0;
  virtual bool Minimized() const = 0;
  virtual void RestoreMinimized() = 0;
  // Visible and in front of the other windows; a minimized window stays minimized.
  virtual void ShowMainWindow() = 0;
  // The message loop ends; shut-down follows in the program's shell.
  virtual void EndMessageLoop() = 0;
};

class TMainPresenter {
 public:
  // AView, ALog and AStore outlive the presenter.
  TMainPresenter(TMainView& AView, TMyLog& ALog, TRegistryStore& AStore);
  ~TMainPresenter();
  TMainPresenter(const TMainPresenter&) = delete;
  TMainPresenter& operator=(const TMainPresenter&) = delete;

  // Start-up step 2: the relay (address tables, engine) reporting to ARelayView, which must
  // outlive the presenter's relay. The window connects its own parts to the relay next, then
  // calls StartRelay.
  TRelayHost& CreateRelay(TRelayView& ARelayView);
  // Steps 3 to 11: counters "-", the debug switch (ADebugLog: --debug-log), caption, error
  // handler, timers, lamps (grey), then adapter, log file name, settings, endpoint. A failing
  // step after the error handler is installed goes to AppOnException and the later steps run.
  void StartRelay(bool ADebugLog);
  // The start-up of a window attached to a relay that runs without one: no relay, tables or
  // endpoint of its own; the caption says that it is attached.
  void FormCreateAttached(TRelayAsk AAsk);

  // Null while attached, and before CreateRelay.
  TRelayHost* Host() const { return fHost.get(); }
  bool Exiting() const { return fExiting; }

  void AppOnException(const std::string& AMessage);
  // One request line from the instance's local socket or pipe.
  TControlAnswer AnswerRequest(const std::string& ALine);
  // The tray's texts for AStatus with AApplications and AControllers rows in the lists.
  void ShowNetworkStatus(const TNetworkStatus& AStatus, int AApplications, int AControllers);
  // acOptionsExecute of a window with a relay of its own (see TFormLifecycle::RunSetup).
  template <typename TForm, typename TShowModal>
  void RunSetup(TForm& AForm, TShowModal AShowModal) {
    KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
    fLifecycle->RunSetup(AForm, std::move(AShowModal));
  }
  // The 100 ms tick of a window with a relay of its own.
  void AgeingTick();
  void Exit1Click();
  // A refused second start asked for the window: shown, restored if minimized, in front.
  void ShowRequested();
  // Shut-down (runs once): timers, endpoint, settings (unless they could not be read at
  // start), icon. Errors go to AppOnException. Attached, only the timers and the icon.
  void FormDestroy();
  // For a window that goes without FormDestroy: the listener stops before the window's parts
  // it reports to go, and no error handler points at the window any more.
  void Abandon();

 private:
  TMainView& fView;
  TMyLog& fLog;
  TRegistryStore& fStore;
  std::unique_ptr<TRelayHost> fHost;
  std::unique_ptr<TFormLifecycle> fLifecycle;  // holds on to the host: declared after it
  bool fAttached = false;
  bool fExiting = false;
  static constexpr const char* kGuiThreadOnly = "TMainPresenter: GUI thread only";
  TThreadOwner fGuiThread;  // checked in debug builds
};

// The read-me that Help shows: Readme.txt in the executable's folder.
std::string HelpFileBesideExecutable();

}  // namespace kelvo
