// The platform half of the debug log: local time, and one line written to the file with it
// opened and closed around the line. Internal to the diagnostics subsystem; callers hold the
// log's lock.
#pragma once

#include <ctime>
#include <string>

namespace kelvo::log_file {

// False when the time cannot be converted.
bool ToLocalTime(std::time_t ATime, std::tm& ALocal);

// Writes ALine (UTF-8; the line break is added here) to AFileName, creating the file when it
// is missing; AReplace empties an existing file first. While the line is written other programs
// may read the file but not write it. Throws TLogError; the file is never left open.
void WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace);

// Deletes AFileName; a file that is already gone is no failure. Throws TLogError.
void Remove(const std::string& AFileName);

}  // namespace kelvo::log_file
