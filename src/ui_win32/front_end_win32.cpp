// The Win32 window as the executable's front-end. BringRunningWindowForward is in win32_main.cpp.
#include "app/front_end.h"
#include "ui_win32/win32_main.h"

namespace kelvo {

// A Windows desktop always has its window station.
bool WindowCanStart() {
  return true;
}

int RunWindowProgram(int /*argc*/, char** /*argv*/, const TCommandLine& AOptions, TMyLog& ALog,
                     TInstanceGuard& AGuard) {
  return RunWin32Gui(AOptions, ALog, AGuard);
}

int RunAttachedWindowProgram(int /*argc*/, char** /*argv*/, const TCommandLine& AOptions,
                             TMyLog& ALog, TInstanceGuard& AViewGuard,
                             const std::string& ARelaySocket) {
  return RunWin32Gui(AOptions, ALog, AViewGuard, &ARelaySocket);
}

}  // namespace kelvo
