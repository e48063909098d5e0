#include "app/headless_runner.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "app/control_requests.h"
#include "app/headless_loop.h"
#include "app/instance_guard.h"
#include "app/relay_host.h"
#include "config/registry_store.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

constexpr std::chrono::seconds kRateSamplePeriod{1};

// Without a window the lamps and counters have nowhere to go; the binding is printed from the
// network status instead (ReportStatus).
class THeadlessView final : public TRelayView {
 public:
  void SetLed(TLamp, TLedColor) override {}
  void ReqCountChanged(std::int32_t) override {}
  void AckCountChanged(std::int32_t) override {}
  void LocalIPChanged(const std::string&) override {}
  void PortErrorChanged(bool) override {}
};

void PrintStatus(const std::string& AText) {
  std::fprintf(stdout, "%s\n", AText.c_str());
  std::fflush(stdout);
}

void PrintError(const std::string& AText) {
  std::fprintf(stderr, "kelvorelay: %s\n", AText.c_str());
  std::fflush(stderr);
}

// One line per change of the binding, so that a journal shows the history: the listening line
// on stdout, and on stderr why it is a fallback, or that the port cannot be opened.
void ReportStatus(const TNetworkStatus& AStatus) {
  if (AStatus.State == TListenState::Error) {
    std::fputs("Error opening port 8442!\n", stderr);
    std::fflush(stderr);
    if (!AStatus.Error.empty()) {
      PrintError(AStatus.Error + "; trying again");
    }
    return;
  }
  PrintStatus("KelvoRelay listening on " + ListeningText(AStatus));
  if (AStatus.State != TListenState::Listening) {
    PrintError(DescribeNetworkStatus(AStatus));
  }
}

}  // namespace

int RunHeadless(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard) {
  THeadlessView view;
  TRegistryStore store;
  TRelayHost host(view, ALog, store);
  host.SetStatusSink(ReportStatus);

  host.SelectDefaultAdapter();
  ALog.SetLogFile(DebugLogFileName());
  try {
    TStoredPlacement unused;  // the headless relay has no window to place
    host.LoadSettings(unused);
  } catch (const std::exception& error) {
    PrintError("cannot load the settings from " + store.FileName() + ": " + error.what());
    return kExitFailure;
  }
  host.Engine().SetCreateDebugLogs(AOptions.DebugLog);

  // A port that cannot be opened now is tried again until it can (and at once when the
  // network changes): a relay run by a service manager must not give up for good.
  host.StartListening();
  if (AOptions.DebugLog) {
    PrintStatus("Debug log: " + ALog.LogFile());
  }

  // Settings that could not be read at start or re-read later are not written back at the end:
  // the user is likely still editing that file.
  bool saveAtExit = store.OpenError().empty();
  THeadlessHandlers handlers;
  // The window's status tick samples the message rate once a second; without a window the
  // 100 ms tick does it, so that the status answer has a rate.
  auto nextRateSample = std::chrono::steady_clock::now() + kRateSamplePeriod;
  handlers.Tick = [&host, &nextRateSample] {
    host.AgeTables();
    host.FollowNetwork();
    if (const auto now = std::chrono::steady_clock::now(); now >= nextRateSample) {
      host.SampleRate();
      nextRateSample += kRateSamplePeriod;
      if (nextRateSample <= now) {
        nextRateSample = now + kRateSamplePeriod;  // late by more than a period: start anew
      }
    }
  };
  handlers.NetworkChanged = [&host] { host.NetworkChanged(); };
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
  };
  handlers.Request = [&](const std::string& ALine, bool& AStop) {
    TControlAnswer answer;
    try {
      answer = AnswerControlRequest(host, ALine, "headless");
    } catch (const std::exception& error) {
      // Whatever went wrong, the relay keeps running and the asking command hears of it.
      answer.Line = EncodeOutcome({kExitFailure, error.what()});
    }
    AStop = answer.Quit;
    // A change that took effect restarted the endpoint; it is ours to save from now on.
    if (answer.Applied) {
      saveAtExit = true;
    }
    return answer.Line;
  };
  handlers.Warn = [](const std::string& AText) { PrintError("warning: " + AText); };
  RunHeadlessLoop(AGuard.ShowRequestName(), handlers);

  host.StopListening();
  if (saveAtExit) {
    try {
      host.SaveSettings();
    } catch (const TRegistryError& error) {
      PrintError(error.what());
      if (!error.Cause().empty()) {
        PrintError(error.Cause());
      }
      return kExitFailure;
    } catch (const std::exception& error) {
      PrintError(error.what());
      return kExitFailure;
    }
  }
  PrintStatus("KelvoRelay stopped.");
  return kExitOk;
}

}  // namespace kelvo
