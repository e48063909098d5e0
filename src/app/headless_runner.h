// The relay without a window: start-up, 100 ms ageing, SIGHUP re-reading the settings, the
// requests of the local socket (--quit, the settings options), clean stop on SIGINT/SIGTERM.
// Main thread only.
#pragma once

#include "app/command_line.h"

namespace kelvo {

class TInstanceGuard;
class TMyLog;

// Runs until SIGINT, SIGTERM or --quit. Returns kExitOk after a clean stop (endpoint closed,
// settings saved), kExitFailure when the settings could not be loaded or saved. A port that
// cannot be opened is reported and tried again until it can. Status goes to stdout, errors and
// warnings to stderr.
int RunHeadless(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard);

}  // namespace kelvo
