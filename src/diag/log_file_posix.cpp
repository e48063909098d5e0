// The debug log's file on POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/file_descriptor.h"
#include "diag/log_file.h"
#include "diag/my_log.h"

namespace kelvo::log_file {

namespace {

[[noreturn]] void ThrowIo(const std::string& AWhat, const std::string& AFileName, int AErr) {
  throw TLogError(AWhat + " '" + AFileName + "': " + std::strerror(AErr));
}

}  // namespace

bool ToLocalTime(std::time_t ATime, std::tm& ALocal) {
  return localtime_r(&ATime, &ALocal) != nullptr;
}

void WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace) {
  // O_APPEND in every case: a file that was just emptied is appended to at offset 0.
  TFd File(::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (File.Get() < 0) {
    ThrowIo("Cannot open the log file", AFileName, errno);
  }
  // Another writer holding the file makes this line fail rather than interleave with it;
  // readers take no lock and are never kept out.
  if (::flock(File.Get(), LOCK_EX | LOCK_NB) != 0) {
    ThrowIo("Cannot lock the log file", AFileName, errno);
  }
  // Emptied only after the lock is held, so a line of another writer is never cut off.
  if (AReplace && ::ftruncate(File.Get(), 0) != 0) {
    ThrowIo("Cannot replace the log file", AFileName, errno);
  }

  std::string Line;
  Line.reserve(ALine.size() + 2);
  Line.append(ALine).append("\r\n");
  const char* P = Line.data();
  std::size_t Left = Line.size();
  while (Left > 0) {
    const ssize_t N = ::write(File.Get(), P, Left);
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      ThrowIo("Cannot write the log file", AFileName, errno);
    }
    P += N;
    Left -= static_cast<std::size_t>(N);
  }
  // Closing releases the lock too.
  if (const int Err = File.Close(); Err != 0) {
    ThrowIo("Cannot close the log file", AFileName, Err);
  }
}

void Remove(const std::string& AFileName) {
  if (::unlink(AFileName.c_str()) != 0 && errno != ENOENT) {
    ThrowIo("Cannot delete the log file", AFileName, errno);
  }
}

}  // namespace kelvo::log_file
