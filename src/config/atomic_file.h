// Whole-file reads and atomic whole-file replacement for the settings file, with the clean-up
// of temporary files that interrupted saves left behind. Internal to the settings store; any
// thread. Saves into one folder take turns (a lock on the folder, waited for at most 5 s).
#pragma once

#include <string>

namespace kelvo {

enum class TReadResult { rrOk, rrMissing, rrFailed };

// The whole file into AContent. rrMissing when there is no such file; on rrFailed, AError says
// why (the system's text).
TReadResult ReadWholeFile(const std::string& AFileName, std::string& AContent, std::string& AError);

// Replaces the file (its target, when it is a link) by AText so that readers and a crash see
// either the old file or the new one: a temporary file beside it, synced, then renamed over
// it. After success, temporary files of earlier saves that were cut short are removed. False
// when the file could not be replaced; it is then as it was.
bool ReplaceFileAtomically(const std::string& AFileName, const std::string& AText);

}  // namespace kelvo
