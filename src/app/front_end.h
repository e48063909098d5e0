// The window front-end the executable is linked with: the Qt window on Linux, the Win32
// window on Windows, or none in a build without a window. CMake links exactly one of
// src/ui_qt/front_end_qt.cpp, src/ui_win32/front_end_win32.cpp and src/app/front_end_none.cpp.
// Main thread only.
#pragma once

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

// After a refused second start has asked the admitted instance to show its window: brings that
// window to the foreground where the platform leaves this to the program that starts.
void BringRunningWindowForward();

}  // namespace kelvo
