// The relay with its window: QApplication, the five windows, tray icon, message loop.
#pragma once

#include <string>

#include "app/command_line.h"

namespace kelvo {

class TInstanceGuard;
class TMyLog;

// Before anything of Qt: false, after one line on stderr that points to --headless, when no
// display can be reached (Qt would abort the process).
bool GuiDisplayReachable();

// Runs the program with its window until "Exit" (or SIGINT/SIGTERM); returns the exit code.
// With ARelaySocket the window is attached to the relay listening there (which runs without a
// window) and AGuard is the attached window's own.
int RunGui(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
           TInstanceGuard& AGuard, const std::string* ARelaySocket = nullptr);

}  // namespace kelvo
