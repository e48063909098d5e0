// Where the debug log is written. Beside the executable as always; an installed program cannot
// write there, so its log goes to the user's state folder instead. Any thread.
#pragma once

#include <string>

namespace kelvo {

// The executable's full name with its extension replaced by ".log" (appended when it has none).
std::string LogFileBesideExecutable(const std::string& AExecutablePath);

// The log file for an executable at AExecutablePath: beside it when it can be written there,
// otherwise AStateFolder + "/Marlowin/kelvorelay.log", creating that folder. With no state
// folder known the name beside the executable stays, and writing to it fails as it would anyway.
std::string DebugLogFileNameFor(const std::string& AExecutablePath,
                                const std::string& AStateFolder);

// Platform parts.
// True when AFileName can be written: the file itself when it exists, else its folder.
bool CanWriteFile(const std::string& AFileName);
// $XDG_STATE_HOME when it is an absolute path, else $HOME/.local/state (the account's home
// when HOME is unset); empty when no home is known.
std::string UserStateFolder();
// Creates AFolder and any missing parent, private to the user; true when it exists afterwards.
bool MakeFolders(const std::string& AFolder);

}  // namespace kelvo
