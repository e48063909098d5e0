// The Qt window as the executable's front-end.
#include "app/front_end.h"
#include "ui_qt/gui_main.h"

namespace kelvo {

bool WindowCanStart() {
  return GuiDisplayReachable();
}

int RunWindowProgram(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
                     TInstanceGuard& AGuard) {
  return RunGui(argc, argv, AOptions, ALog, AGuard);
}

int RunAttachedWindowProgram(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
                             TInstanceGuard& AViewGuard, const std::string& ARelaySocket) {
  return RunGui(argc, argv, AOptions, ALog, AViewGuard, &ARelaySocket);
}

// The show request over the local socket lets the running window raise itself.
void BringRunningWindowForward(const std::string& /*ACaption*/) {}

}  // namespace kelvo
