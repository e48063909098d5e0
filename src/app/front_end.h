// The window front-end the executable is linked with: the Qt window on Linux, the Win32
// window on Windows, or none in a build without a window. CMake links exactly one of
// src/ui_qt/front_end_qt.cpp, src/ui_win32/front_end_win32.cpp and src/app/front_end_none.cpp.
// Main thread only.
#pragma once

#include <string>

#include "app/command_line.h"

namespace kelvo {

class TInstanceGuard;
class TMyLog;

// Before anything of the toolkit: false, after one line on stderr that says why and points to
// --headless, when the window cannot be shown.
bool WindowCanStart();

// Runs the program with its window until "Exit"; returns the exit code.
int RunWindowProgram(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
                     TInstanceGuard& AGuard);

// Runs the window as a view of the relay of this executable that runs without one (a
// service): it shows what the relay answers on ARelaySocket and hands Setup's result over to
// it, until "Exit", which ends only the view. AViewGuard has admitted this view; its socket
// takes the show request of a later start. Returns the exit code.
int RunAttachedWindowProgram(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
                             TInstanceGuard& AViewGuard, const std::string& ARelaySocket);

// After a refused second start has asked the admitted instance to show its window (captioned
// ACaption): brings that window to the foreground where the platform leaves this to the
// program that starts.
void BringRunningWindowForward(const std::string& ACaption);

}  // namespace kelvo
