// The relay's part of the main window's start-up, Setup and shut-down, which both front-ends
// run in the same order: default adapter, debug log file name, settings, endpoint; Setup's OK
// applied, then saved; and at the end endpoint, then settings. The window keeps its own steps
// (icon, timers, lamps, widgets) around these and hands in AppOnException, where every failing
// step ends up.
//
// GUI thread only (the thread that owns the window and its TRelayHost).
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "app/control_requests.h"
#include "present/settings_window.h"
#include "present/setup_working_copy.h"

namespace kelvo {

class TMyLog;
class TRelayHost;

// The body of every front-end's AppOnException: the message goes to the debug log while debug
// logs are on (AHost may still be null early in start-up) and is dropped otherwise; a log that
// cannot be written is dropped too. Never throws. GUI thread.
void LogAppException(TRelayHost* AHost, TMyLog& ALog, const std::string& AMessage) noexcept;

class TFormLifecycle {
 public:
  // Must not throw: it is called from inside the steps' error handling.
  using TExceptionHandler = std::function<void(const std::string&)>;

  TFormLifecycle(TRelayHost& AHost, TMyLog& ALog, TSettingsWindow& AWindow,
                 TExceptionHandler AAppOnException);
  TFormLifecycle(const TFormLifecycle&) = delete;
  TFormLifecycle& operator=(const TFormLifecycle&) = delete;

  // A start-up step of the window's own; its failure goes to AppOnException, and the caller
  // goes on with the next step.
  template <typename TStep>
  void RunStep(TStep AStep) {
    try {
      AStep();
    } catch (const std::exception& error) {
      fAppOnException(error.what());
    }
  }

  // Each step runs even when an earlier one failed: a bad settings value must not leave the
  // relay silently not listening.
  void Start();
  // The 100 ms tick: the tables age, and the relay looks at the network when a look is due.
  void AgeingTick();
  // Stops the endpoint, then saves the settings unless they could not be read completely at
  // start (and were not confirmed in Setup since). A failure goes to AppOnException and skips
  // what follows it.
  void ShutDown();
  // FormDestroy, which runs once (later calls do nothing): AStopTimers stops the window's
  // timers, then ShutDown; a failure goes to AppOnException. ARemoveIcon runs last, even after
  // a failure: an icon left behind would outlive the program.
  template <typename TStopTimers, typename TRemoveIcon>
  void Destroy(TStopTimers AStopTimers, TRemoveIcon ARemoveIcon) {
    if (fDestroyed) {
      return;
    }
    fDestroyed = true;
    RunStep([&] {
      AStopTimers();
      ShutDown();
    });
    ARemoveIcon();
  }

  // acOptionsExecute with the front-end's Setup form: fills it from the relay, shows it
  // (AShowModal returns true for OK) and confirms what OK hands back. The form has
  // SetStaticList, TakeStaticList, EthernetAdapterID and CreateDebugLogs. Errors propagate.
  // While the form is open a change handed over the local channel is answered "busy", so that
  // OK, which replaces the whole static list, loses nothing.
  template <typename TForm, typename TShowModal>
  void RunSetup(TForm& AForm, TShowModal AShowModal) {
    struct TOpen {
      TFormLifecycle& Lifecycle;
      explicit TOpen(TFormLifecycle& ALifecycle) : Lifecycle(ALifecycle) {
        Lifecycle.SetupOpen(true);
      }
      ~TOpen() { Lifecycle.SetupOpen(false); }
      TOpen(const TOpen&) = delete;
      TOpen& operator=(const TOpen&) = delete;
    } open(*this);
    TSetupResult values = SetupValues();
    AForm.SetStaticList(std::move(values.StaticList));
    AForm.EthernetAdapterID = std::move(values.EthernetAdapterID);
    AForm.CreateDebugLogs = values.CreateDebugLogs;
    if (!AShowModal()) {
      return;
    }
    ConfirmSetup({AForm.TakeStaticList(), AForm.EthernetAdapterID, AForm.CreateDebugLogs});
  }
  // What Setup starts from: a private copy of the relay's static table, the chosen adapter
  // (also while it is absent), the debug switch.
  TSetupResult SetupValues() const;
  // Setup's OK: installs AResult (without a static list the relay's own is kept), saves the
  // settings, and from then on writes them back at the end too. May throw TRegistryError
  // from the save.
  void ConfirmSetup(TSetupResult AResult);

  // One request line from the instance's local socket or pipe (app/control_requests.h). A
  // change the relay took is saved at once and, as after Setup's OK, written back at the end
  // too. Never throws: a failure becomes the answer.
  TControlAnswer AnswerRequest(std::string_view ALine);

 private:
  void SetupOpen(bool AOpen);

  TRelayHost& fHost;
  TMyLog& fLog;
  TSettingsWindow& fWindow;
  TExceptionHandler fAppOnException;
  bool fSaveAtExit = false;  // settings were read completely (or confirmed in Setup since)
  bool fDestroyed = false;
};

}  // namespace kelvo
