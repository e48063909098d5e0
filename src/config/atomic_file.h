// Whole-file reads and atomic whole-file replacement for the settings file, with the clean-up
// of temporary files that interrupted saves left behind. Internal to the settings store; any
// thread. Saves into one folder take turns (a lock on the folder, waited for at most 5 s).
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

enum class TReadResult { rrOk, rrMissing, rrFailed };

// A settings file is a few kilobytes; anything past this is not one, and is not read into
// memory.
inline constexpr std::uint64_t kMaxSettingsFileSize = 64ULL * 1024 * 1024;

// The whole file into AContent. rrMissing when there is no such file; on rrFailed, AError says
// why (the system's text, or "not a regular file" for a pipe, a device or a socket, or "larger
// than 64 MiB"). Never waits for a pipe's writer.
TReadResult ReadWholeFile(const std::string& AFileName, std::string& AContent, std::string& AError);

// Replaces the file (its target, when it is a link) by AText so that readers and a crash see
// either the old file or the new one: a temporary file beside it, synced, then renamed over
// it. After success, temporary files of earlier saves that were cut short are removed. When the
// file could not be replaced it is as it was, and the result says which step failed and why.
struct TReplaceResult {
  int Errno = 0;      // the system's error code of the step that failed; 0: replaced
  std::string Cause;  // "cannot STEP FILE: the system's text", "" when replaced

  bool Ok() const { return Errno == 0 && Cause.empty(); }
  explicit operator bool() const { return Ok(); }
};
TReplaceResult ReplaceFileAtomically(const std::string& AFileName, const std::string& AText);

}  // namespace kelvo
