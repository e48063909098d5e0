// On Windows the debug log stays beside the executable: the per-user installer puts the
// program in a folder its user can write, so no second place is needed.
#include <windows.h>

#include <string>

#include "app/debug_log_location.h"
#include "base/windows_text.h"

namespace kelvo {

bool CanWriteFile(const std::string& AFileName) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(AFileName).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  }
  // A log that does not exist yet is created by its first line; whether that succeeds shows
  // there, as it always has.
  return true;
}

std::string UserStateFolder() {
  return {};
}

bool MakeFolders(const std::string& AFolder) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(AFolder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace kelvo
