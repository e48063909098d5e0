#include "app/headless_runner.h"

#include <cstdio>
#include <exception>

#include "app/control_requests.h"
#include "app/headless_loop.h"
#include "app/headless_window.h"
#include "app/instance_guard.h"
#include "app/relay_host.h"
#include "config/registry_store.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

// Without a window the lamps and counters have nowhere to go; the bound address and the port
// error are printed.
class THeadlessView final : public TRelayView {
 public:
  void SetLed(TLamp, TLedColor) override {}
  void ReqCountChanged(std::int32_t) override {}
  void AckCountChanged(std::int32_t) override {}
  void LocalIPChanged(const std::string& AAddress) override { fLocalIP = AAddress; }
  void PortErrorChanged(bool AVisible) override { fPortError = AVisible; }

  std::string fLocalIP;
  bool fPortError = false;
};

void PrintStatus(const std::string& AText) {
  std::fprintf(stdout, "%s\n", AText.c_str());
  std::fflush(stdout);
}

void PrintError(const std::string& AText) {
  std::fprintf(stderr, "kelvorelay: %s\n", AText.c_str());
  std::fflush(stderr);
}

// The listening line, or the port error; after start-up and after every re-read.
bool ReportListening(bool AListening, const THeadlessView& AView) {
  if (!AListening) {
    std::fputs("Error opening port 8442!\n", stderr);
    std::fflush(stderr);
    return false;
  }
  PrintStatus("KelvoRelay listening on " + AView.fLocalIP + ":8442");
  return true;
}

}  // namespace

int RunHeadless(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard) {
  THeadlessView view;
  THeadlessWindow window;
  TRegistryStore store;
  TRelayHost host(view, ALog, store);

  host.SelectDefaultAdapter();
  ALog.SetLogFile(DebugLogFileName());
  try {
    host.LoadSettings(window);
  } catch (const std::exception& error) {
    PrintError("cannot load the settings from " + store.FileName() + ": " + error.what());
    return kExitFailure;
  }
  host.Engine().SetCreateDebugLogs(AOptions.DebugLog);

  if (!ReportListening(host.StartListening(), view)) {
    return kExitFailure;
  }
  if (AOptions.DebugLog) {
    PrintStatus("Debug log: " + ALog.LogFile());
  }

  // Settings that could not be re-read are not written back at the end: the user is likely
  // still editing that file.
  bool saveAtExit = true;
  THeadlessHandlers handlers;
  handlers.Tick = [&host] { host.AgeTables(); };
  handlers.Reload = [&] {
    std::string error;
    bool reloaded = false;
    try {
      reloaded = host.ReloadSettings(error);
    } catch (const std::exception& failure) {
      error = failure.what();
    }
    if (!reloaded) {
      PrintError(error + "; the relay goes on with the settings it had");
      saveAtExit = false;
      return;
    }
    saveAtExit = true;
    ReportListening(!view.fPortError, view);
  };
  handlers.Request = [&](const std::string& ALine, bool& AStop) {
    TControlAnswer answer;
    try {
      answer = AnswerControlRequest(host, window, ALine);
    } catch (const std::exception& error) {
      // Whatever went wrong, the relay keeps running and the asking command hears of it.
      answer.Line = EncodeOutcome({kExitFailure, error.what()});
    }
    AStop = answer.Quit;
    // A change that took effect restarted the endpoint; it is ours to save from now on.
    if (answer.Applied) {
      saveAtExit = true;
      ReportListening(!view.fPortError, view);
    }
    return answer.Line;
  };
  handlers.Warn = [](const std::string& AText) { PrintError("warning: " + AText); };
  RunHeadlessLoop(AGuard.ShowRequestName(), handlers);

  host.StopListening();
  if (saveAtExit) {
    try {
      host.SaveSettings(window);
    } catch (const std::exception& error) {
      PrintError(error.what());
      return kExitFailure;
    }
  }
  PrintStatus("KelvoRelay stopped.");
  return kExitOk;
}

}  // namespace kelvo
