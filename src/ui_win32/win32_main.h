// The Win32 desktop program: the main window and its dialogs, the message loop and the
// shut-down in order. GUI thread (the process's main thread) only.
#pragma once

#include <string>

#include "app/command_line.h"

namespace kelvo {

class TInstanceGuard;
class TMyLog;

// Runs the window until "Exit" (or the end of the session); returns the exit code. With
// ARelaySocket the window is attached to the relay serving that pipe (which runs without a
// window) and AGuard is the attached window's own.
int RunWin32Gui(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard,
                const std::string* ARelaySocket = nullptr);
// A refused second start: the admitted instance's window, when one is found by class and
// caption, is restored if minimized and brought to the foreground (the guard has already asked
// a hidden one to show itself).
void BringRunningWindowForward(const std::string& ACaption);

}  // namespace kelvo
