// The relay without a window: start-up, 100 ms ageing, clean stop on SIGINT/SIGTERM.
#pragma once

#include "app/command_line.h"

namespace kelvo {

class TMyLog;

// Runs until SIGINT or SIGTERM. Returns 0 after a clean stop (endpoint closed, settings
// saved), non-zero when the port could not be opened or start-up failed.
int RunHeadless(const TCommandLine& AOptions, TMyLog& ALog);

}  // namespace kelvo
