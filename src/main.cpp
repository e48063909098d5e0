// KelvoRelay: the window by default, --headless for machines without a display.
#include <cstdio>
#include <exception>

#include "app/command_line.h"
#include "app/headless_runner.h"
#include "app/instance_guard.h"
#include "app/relay_host.h"
#include "app/version.h"
#include "diag/my_log.h"
#if defined(KELVO_WITH_WIN32)
#include "ui_win32/win32_main.h"
#elif defined(KELVO_WITH_GUI)
#include "ui_qt/gui_main.h"
#endif

int main(int argc, char** argv) {
  using namespace kelvo;

  const TCommandLine options = ParseCommandLine(argc, argv);
  if (!options.Error.empty()) {
    std::fprintf(stderr, "kelvorelay: %s\n\n%s", options.Error.c_str(), UsageText().c_str());
    return 2;
  }
  if (options.ShowHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
#ifndef KELVO_WITH_GUI
  if (!options.Headless) {
    std::fputs("kelvorelay: built without a window; use --headless\n", stderr);
    return 2;
  }
#endif

  // The one debug log lives from before the first window until after the last.
  TMyLog log;

  // One instance per executable path.
  TInstanceGuard guard(ExecutablePath());
  try {
    if (guard.RestoreIfRunning("TfmMain", MainWindowCaption(), 1)) {
      if (options.Headless) {
        std::fprintf(stderr, "kelvorelay: another instance is already running from %s\n",
                     ExecutablePath().c_str());
        return 3;
      }
#ifdef KELVO_WITH_WIN32
      BringRunningWindowForward();
#endif
      return 0;  // the running instance has been asked to show its window
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvorelay: %s\n", error.what());
    return 1;
  }

  if (options.Headless) {
    return RunHeadless(options, log);
  }
#if defined(KELVO_WITH_WIN32)
  return RunWin32Gui(options, log, guard);
#elif defined(KELVO_WITH_GUI)
  return RunGui(argc, argv, options, log, guard);
#else
  return 2;
#endif
}
