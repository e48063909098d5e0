#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/debug_log_location.h"
#include "config/home_folder_posix.h"

namespace kelvo {

bool CanWriteFile(const std::string& AFileName) {
  if (::access(AFileName.c_str(), F_OK) == 0) {
    return ::access(AFileName.c_str(), W_OK) == 0;
  }
  const std::size_t slash = AFileName.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : AFileName.substr(0, slash));
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserStateFolder() {
  // Relative values are to be ignored, as the XDG base directory rules say.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    return state;
  }
  const std::string home = UserHomeFolder();
  return home.empty() ? std::string() : home + "/.local/state";
}

bool MakeFolders(const std::string& AFolder) {
  // Each missing level is made 0700: the XDG rules ask for private state folders.
  for (std::size_t end = AFolder.find('/', 1);; end = AFolder.find('/', end + 1)) {
    const std::string part = AFolder.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (end == std::string::npos) {
      break;
    }
  }
  struct stat info {};
  return ::stat(AFolder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace kelvo
