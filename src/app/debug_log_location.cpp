#include "app/debug_log_location.h"

#include "app/relay_host.h"

namespace kelvo {

std::string LogFileBesideExecutable(const std::string& AExecutablePath) {
  // Either separator: Windows paths may hold both.
  const std::size_t slash = AExecutablePath.find_last_of("/\\");
  const std::size_t dot = AExecutablePath.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return AExecutablePath.substr(0, dot) + ".log";
  }
  return AExecutablePath + ".log";
}

std::string DebugLogFileNameFor(const std::string& AExecutablePath,
                                const std::string& AStateFolder) {
  std::string beside = LogFileBesideExecutable(AExecutablePath);
  if (CanWriteFile(beside) || AStateFolder.empty()) {
    return beside;
  }
  const std::string folder = AStateFolder + "/Marlowin";
  // A folder that cannot be made shows up as the log's own write error once a line is written.
  MakeFolders(folder);
  return folder + "/kelvorelay.log";
}

std::string DebugLogFileName() {
  return DebugLogFileNameFor(ExecutablePath(), UserStateFolder());
}

}  // namespace kelvo
