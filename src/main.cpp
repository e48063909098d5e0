// KelvoRelay: the window by default, --headless for machines without a display, and the
// commands that change the settings without a window.
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/headless_runner.h"
#include "app/instance_guard.h"
#include "app/process_signals.h"
#include "app/relay_host.h"
#include "app/running_instance.h"
#include "app/settings_commands.h"
#include "app/version.h"
#include "diag/my_log.h"

namespace {

using namespace kelvo;

// A relay that is still starting (resolving its static hosts, say) opens its socket late.
constexpr std::chrono::seconds kStartingPatience{5};

// Whether a window attached to the relay of this executable runs; it is then asked to come
// forward.
bool BringAttachedWindowForward() {
  TInstanceGuard viewGuard(AttachedViewGuardKey(ExecutablePath()));
  try {
    if (!viewGuard.AnyRunning() ||
        !viewGuard.RestoreIfRunning("TfmMain", AttachedWindowCaption(), 1)) {
      return false;  // none runs (admitted meanwhile: it has just ended)
    }
  } catch (const std::exception&) {
    return false;
  }
  BringRunningWindowForward(AttachedWindowCaption());
  return true;
}

int RunAttachedWindow(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
                      const TInstanceGuard& ARelayGuard) {
  TInstanceGuard viewGuard(AttachedViewGuardKey(ExecutablePath()));
  if (viewGuard.RestoreIfRunning("TfmMain", AttachedWindowCaption(), 1)) {
    BringRunningWindowForward(AttachedWindowCaption());
    return kExitOk;  // another start attached a window in the same instant
  }
  return RunAttachedWindowProgram(argc, argv, AOptions, ALog, viewGuard,
                                  ARelayGuard.ShowRequestName());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kelvo;
  // First of all: a stop request during start-up must wait for the relay to take it.
  HoldStopRequests();

  const TCommandLine options = ParseCommandLine(argc, argv);
  if (!options.Error.empty()) {
    std::fprintf(stderr, "kelvorelay: %s (kelvorelay --help lists the options)\n",
                 options.Error.c_str());
    return kExitBadCommand;
  }
  switch (options.Action) {
    case TCommandAction::Help:
      std::fputs(UsageText().c_str(), stdout);
      return kExitOk;
    case TCommandAction::Version:
      std::printf("%s\n", VersionLine().c_str());
      return kExitOk;
    case TCommandAction::Window:
    case TCommandAction::Headless:
      break;
    default:
      ReleaseStopRequests();
      return RunSettingsCommand(options);
  }
  if (!options.Headless && !WindowCanStart()) {
    return kExitBadCommand;
  }

  // The one debug log lives from before the first window until after the last.
  TMyLog log;

  // A window attached to the running relay stands for the program while it runs.
  if (!options.Headless && BringAttachedWindowForward()) {
    return kExitOk;
  }

  // One instance per executable path.
  TInstanceGuard guard(ExecutablePath());
  try {
    if (guard.RestoreIfRunning("TfmMain", MainWindowCaption(), 1)) {
      const std::optional<TStatusReport> running = AskRunningStatus(guard, kStartingPatience);
      if (options.Headless) {
        std::fprintf(stderr, "kelvorelay: another instance is already running from %s (%s)\n",
                     ExecutablePath().c_str(), RunningInstanceText(running).c_str());
        return kExitOtherInstance;
      }
      // The relay runs as a service: the window attaches to it rather than ending unseen.
      if (running && running->Mode == "headless") {
        return RunAttachedWindow(argc, argv, options, log, guard);
      }
      BringRunningWindowForward(MainWindowCaption());
      return kExitOk;  // the running instance has been asked to show its window
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvorelay: %s\n", error.what());
    return kExitFailure;
  }

  if (options.Headless) {
    return RunHeadless(options, log, guard);
  }
  return RunWindowProgram(argc, argv, options, log, guard);
}
