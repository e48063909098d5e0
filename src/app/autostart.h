// Start at sign-in: one entry of the user's own that starts the program with --hidden when the
// user signs in. On Windows the value "KelvoRelay" under HKCU\...\CurrentVersion\Run; on Linux
// the XDG autostart file com.marlowin.KelvoRelay.desktop. There is one such entry per user,
// whichever copy of the program wrote it. Main thread only.
#pragma once

#include <string>

namespace kelvo {

enum class TAutostartState {
  Off,       // no entry
  On,        // an entry that starts AExecutable --hidden
  Disabled,  // our entry, switched off by the desktop (Task Manager, the session settings)
  Other,     // an entry under our name that starts something else (a moved or other copy)
};

struct TAutostartEntry {
  TAutostartState State = TAutostartState::Off;
  std::string Command;  // what the entry runs, as the entry holds it; empty when Off
};

// Where the entry lives, as a user would look for it: the registry value or the file name.
std::string AutostartLocation();

// The entry's state for the executable at AExecutable (ExecutablePath()).
TAutostartEntry ReadAutostart(const std::string& AExecutable);

// Writes the entry that starts AExecutable with --hidden, replacing one under the same name and
// taking back a desktop's switch that disabled it. Writing it again changes nothing. Throws
// std::runtime_error with the system's reason when it cannot be written.
void EnableAutostart(const std::string& AExecutable);

// Removes exactly what EnableAutostart wrote; true when there was an entry, false when there was
// none. Throws std::runtime_error when an entry is there and cannot be removed.
bool DisableAutostart();

// "Start at sign-in: on (<location>)" and the like: the line --show-settings and --autostart
// print.
std::string AutostartStateLine(const std::string& AExecutable);

}  // namespace kelvo
