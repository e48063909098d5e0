// The debug log's file on POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"
#include "diag/log_file.h"
#include "diag/my_log.h"

namespace kelvo::log_file {

namespace {

[[noreturn]] void ThrowIo(const std::string& AWhat, const std::string& AFileName, int AErr) {
  throw TLogError(AWhat + " '" + AFileName + "': " + ErrnoText(AErr));
}

// Why the opened file must not be written, or null. A second name (a hard link planted in a
// folder that others can write) would let the log empty a file somewhere else; another
// user's file would hand that user every relayed payload.
const char* Refusal(const struct stat& AInfo) {
  if (!S_ISREG(AInfo.st_mode)) {
    return "not a regular file";
  }
  if (AInfo.st_uid != ::geteuid()) {
    return "the file belongs to another user";
  }
  if (AInfo.st_nlink > 1) {
    return "the file has other names (hard links)";
  }
  return nullptr;
}

}  // namespace

bool ToLocalTime(std::time_t ATime, std::tm& ALocal) {
  return localtime_r(&ATime, &ALocal) != nullptr;
}

bool WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace,
               std::uint64_t ALimit) {
  // O_APPEND in every case: a file that was just emptied is appended to at offset 0. A link
  // is not followed and a pipe does not make the open wait for a reader.
  TFd file(::open(AFileName.c_str(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                  0600));
  if (file.Get() < 0) {
    if (errno == ELOOP) {
      throw TLogError("Cannot open the log file '" + AFileName + "': it is a symbolic link");
    }
    ThrowIo("Cannot open the log file", AFileName, errno);
  }
  // Another writer holding the file makes this line fail rather than interleave with it;
  // readers take no lock and are never kept out.
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
    ThrowIo("Cannot lock the log file", AFileName, errno);
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    ThrowIo("Cannot open the log file", AFileName, errno);
  }
  if (const char* why = Refusal(info)) {
    throw TLogError("Cannot open the log file '" + AFileName + "': " + why);
  }
  // Emptied only after the lock is held, so a line of another writer is never cut off. A log
  // left readable by an earlier version becomes this user's alone when it is replaced.
  if (AReplace) {
    if (::ftruncate(file.Get(), 0) != 0) {
      ThrowIo("Cannot replace the log file", AFileName, errno);
    }
    if ((info.st_mode & 07777) != 0600 && ::fchmod(file.Get(), 0600) != 0) {
      ThrowIo("Cannot replace the log file", AFileName, errno);
    }
    info.st_size = 0;
  }

  std::string line;
  line.reserve(ALine.size() + 2);
  line.append(ALine).append("\r\n");
  if (static_cast<std::uint64_t>(info.st_size) + line.size() > ALimit) {
    return false;
  }
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(file.Get(), p, left);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      ThrowIo("Cannot write the log file", AFileName, errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // Closing releases the lock too.
  if (const int err = file.Close(); err != 0) {
    ThrowIo("Cannot close the log file", AFileName, err);
  }
  return true;
}

void Remove(const std::string& AFileName) {
  if (::unlink(AFileName.c_str()) != 0 && errno != ENOENT) {
    ThrowIo("Cannot delete the log file", AFileName, errno);
  }
}

}  // namespace kelvo::log_file
