// The platform half of the debug log: local time, and one line written to the file with it
// opened and closed around the line. Internal to the diagnostics subsystem; callers hold the
// log's lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kelvo::log_file {

// False when the time cannot be converted.
bool ToLocalTime(std::time_t ATime, std::tm& ALocal);

// Writes ALine (UTF-8; the line break is added here) to AFileName, creating the file when it
// is missing (for this user alone, where the system has modes); AReplace empties an existing
// file first. While the line is written other programs may read the file but not write it.
//
// Only a plain file of this user with no other name is written: a link (POSIX: symbolic or hard;
// Windows: a reparse point), a device, a pipe or another user's file is refused, so a name
// planted at the log's place never makes the relay write or empty anything else.
//
// False, with the file emptied if AReplace asked for it but nothing written, when the file with
// this line would grow past ALimit bytes. Throws TLogError; the file is never left open.
bool WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace,
               std::uint64_t ALimit);

// Deletes AFileName; a file that is already gone is no failure. Throws TLogError.
void Remove(const std::string& AFileName);

}  // namespace kelvo::log_file
