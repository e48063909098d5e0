// KelvoRelay: the window by default, --headless for machines without a display, and the
// commands that change the settings without a window.
#include <cstdio>
#include <exception>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/headless_runner.h"
#include "app/instance_guard.h"
#include "app/process_signals.h"
#include "app/relay_host.h"
#include "app/settings_commands.h"
#include "app/version.h"
#include "diag/my_log.h"

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

  // One instance per executable path.
  TInstanceGuard guard(ExecutablePath());
  try {
    if (guard.RestoreIfRunning("TfmMain", MainWindowCaption(), 1)) {
      if (options.Headless) {
        std::fprintf(stderr, "kelvorelay: another instance is already running from %s\n",
                     ExecutablePath().c_str());
        return kExitOtherInstance;
      }
      BringRunningWindowForward();
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
