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

// The show request over the local socket lets the running window raise itself.
void BringRunningWindowForward() {}

}  // namespace kelvo
