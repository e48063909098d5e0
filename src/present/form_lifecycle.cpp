#include "present/form_lifecycle.h"

#include <utility>

#include "app/command_line.h"
#include "app/relay_host.h"
#include "diag/my_log.h"

namespace kelvo {

void LogAppException(TRelayHost* AHost, TMyLog& ALog, const std::string& AMessage) noexcept {
  if (AHost == nullptr || !AHost->Engine().CreateDebugLogs()) {
    return;
  }
  try {
    ALog.AddLog(AMessage);
  } catch (...) {
    // The log itself failed: there is nowhere left to report it.
  }
}

TFormLifecycle::TFormLifecycle(TRelayHost& AHost, TMyLog& ALog, TSettingsWindow& AWindow,
                               TExceptionHandler AAppOnException)
    : fHost(AHost), fLog(ALog), fWindow(AWindow), fAppOnException(std::move(AAppOnException)) {
  fHost.SetPlacementSource([&AWindow] {
    return std::pair<std::int32_t, std::int32_t>(AWindow.RestoredTop(), AWindow.RestoredLeft());
  });
}

void TFormLifecycle::Start() {
  // The default adapter.
  RunStep([this] { fHost.SelectDefaultAdapter(); });
  // The debug log's file beside the executable.
  RunStep([this] { fLog.SetLogFile(DebugLogFileName()); });
  // Window position, adapter, static list. Settings that could not be read completely are not
  // written back at the end, or the entries after the bad value would be lost.
  RunStep([this] {
    TStoredPlacement placement;
    // The window goes where it stood, also when loading stops at a later value: top, then left;
    // a part that is not stored stays where the window manager put it.
    struct TPlace {
      TSettingsWindow& Window;
      TStoredPlacement& Placement;
      ~TPlace() {
        if (Placement.Top || Placement.Left) {
          Window.SetTop(Placement.Top.value_or(Window.RestoredTop()));
          Window.SetLeft(Placement.Left.value_or(Window.RestoredLeft()));
        }
      }
    } place{fWindow, placement};
    fHost.LoadSettings(placement);
    fSaveAtExit = true;
  });
  // Open the endpoint; a port error shows in the window, it does not throw.
  RunStep([this] { fHost.StartListening(); });
}

void TFormLifecycle::AgeingTick() {
  fHost.AgeTables();
  fHost.FollowNetwork();
}

TSetupResult TFormLifecycle::SetupValues() const {
  TSetupResult values;
  values.StaticList = fHost.Tables().DuplicateStaticTable();
  values.EthernetAdapterID = fHost.ChosenAdapterID();
  values.CreateDebugLogs = fHost.Engine().CreateDebugLogs();
  return values;
}

void TFormLifecycle::SetupOpen(bool AOpen) {
  fHost.SetupHold().HoldLocal(AOpen);
}

void TFormLifecycle::ConfirmSetup(TSetupResult AResult) {
  if (!AResult.StaticList) {
    AResult.StaticList = fHost.Tables().DuplicateStaticTable();
  }
  fHost.ApplySetup(std::move(AResult.StaticList), AResult.CreateDebugLogs,
                   AResult.EthernetAdapterID);
  fHost.SaveSettings();
  // A complete set of settings is saved now: written back at the end from here on.
  fSaveAtExit = true;
}

TControlAnswer TFormLifecycle::AnswerRequest(std::string_view ALine) {
  TControlAnswer answer;
  try {
    answer = AnswerControlRequest(fHost, ALine, "window");
  } catch (const std::exception& error) {
    // Whatever went wrong, the relay keeps running and the asking command hears of it.
    answer = TControlAnswer{};
    answer.Line = EncodeOutcome({kExitFailure, error.what()});
  }
  if (answer.Applied) {
    fSaveAtExit = true;
  }
  return answer;
}

void TFormLifecycle::ShutDown() {
  try {
    fHost.StopListening();
    if (fSaveAtExit) {
      fHost.SaveSettings();
    }
  } catch (const std::exception& error) {
    fAppOnException(error.what());
  }
}

}  // namespace kelvo
