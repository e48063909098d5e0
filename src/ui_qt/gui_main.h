// The relay with its window: QApplication, the five windows, tray icon, message loop.
#pragma once

#include "app/command_line.h"

namespace kelvo {

class TInstanceGuard;
class TMyLog;

// Before anything of Qt: false, after one line on stderr that points to --headless, when no
// display can be reached (Qt would abort the process).
bool GuiDisplayReachable();

// Runs the program with its window until "Exit" (or SIGINT/SIGTERM); returns the exit code.
int RunGui(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
           TInstanceGuard& AGuard);

}  // namespace kelvo
