// The commands that look at or change the settings without running a relay, and --quit.
// Portable; main thread only.
#pragma once

#include "app/command_line.h"

namespace kelvo {

// Runs --list-adapters, --show-settings, --status, --set-adapter, --add-static, --remove-static,
// --autostart or --quit and returns the exit code. A change goes to the running relay of this
// executable when there is one, and into the settings file otherwise.
int RunSettingsCommand(const TCommandLine& AOptions);

}  // namespace kelvo
