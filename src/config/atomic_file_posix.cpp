#include "config/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <thread>

#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"

namespace kelvo {

namespace {

constexpr const char* kTooLarge = "larger than 64 MiB";

bool WriteAll(int AFd, const std::string& AText) {
  const char* p = AText.data();
  std::size_t left = AText.size();
  while (left > 0) {
    const ssize_t n = ::write(AFd, p, left);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// A settings file kept as a link (dotfile managers do that) is replaced at its target, so the
// link survives.
std::string WriteTarget(const std::string& AFileName) {
  struct stat st {};
  if (::lstat(AFileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(AFileName.c_str(), resolved) != nullptr) {
      return resolved;
    }
  }
  return AFileName;
}

// The name part behind "<target>." of a temporary file of ours: six of [A-Za-z0-9], at least
// one of them not a lower-case letter. Six lower-case letters are a person's own copy
// ("KelvoRelay.reg.backup"); CreateTempBeside never picks that shape.
bool LooksLikeOurTempSuffix(std::string_view ASuffix) {
  if (ASuffix.size() != 6) {
    return false;
  }
  bool allLower = true;
  for (const char ch : ASuffix) {
    const bool lower = ch >= 'a' && ch <= 'z';
    if (!lower && !(ch >= 'A' && ch <= 'Z') && !(ch >= '0' && ch <= '9')) {
      return false;
    }
    allLower = allLower && lower;
  }
  return !allLower;
}

// Creates "<target>.XXXXXX" exclusively, with a suffix that LooksLikeOurTempSuffix accepts, so
// a later save can always tell it from a person's file. Owns nothing, errno set, on failure.
TFd CreateTempBeside(const std::string& ATarget, std::string& APath) {
  static constexpr std::string_view kChars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random(
      std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()) << 32 ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'a');
    for (char& ch : suffix) {
      ch = kChars[random() % kChars.size()];
    }
    if (!LooksLikeOurTempSuffix(suffix)) {
      suffix[random() % suffix.size()] = static_cast<char>('0' + random() % 10);
    }
    APath = ATarget;
    APath += '.';
    APath += suffix;
    TFd file(::open(APath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.IsOpen() || errno != EEXIST) {
      return file;
    }
  }
  errno = EEXIST;
  return TFd();
}

// Removes temporary files that earlier saves left behind when they were cut short. The caller
// holds the folder's lock, which every save of ours takes from creating its temporary file to
// renaming it, so no save is in progress and every file of ours found here is stale. Only files
// that are certainly ours go: the name "<target>.XXXXXX", a plain file of this user, and either
// empty (cut short before writing) or beginning as a registry file does.
void RemoveStaleTempFiles(const std::string& ATarget, const std::string& AFolder) {
  namespace fs = std::filesystem;
  const std::string prefix = fs::path(ATarget).filename().string() + ".";
  std::error_code ec;
  fs::directory_iterator it(AFolder, ec);
  if (ec) {
    return;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      return;
    }
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix) || !LooksLikeOurTempSuffix(name.substr(prefix.size()))) {
      continue;
    }
    const std::string path = it->path().string();
    TFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file.IsOpen()) {
      continue;
    }
    struct stat st {};
    bool ours = ::fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    if (ours && st.st_size > 0) {
      unsigned char head[2] = {};
      const bool two = ::pread(file.Get(), head, sizeof head, 0) == 2;
      const bool bom = head[0] == 0xFF || head[0] == 0xFE || head[0] == 0xEF;
      const auto letter = [](unsigned char AByte) { return AByte == 'W' || AByte == 'R'; };
      ours = two && (bom || letter(head[0]) || (head[0] == 0 && letter(head[1])));
    }
    file.Reset();
    if (ours) {
      ::unlink(path.c_str());
    }
  }
}

// A save stuck elsewhere (a hung disk) must not hang this one: after ATimeout it goes ahead
// without the lock.
bool LockWithin(int AFd, std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (::flock(AFd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

TReadResult ReadWholeFile(const std::string& AFileName, std::string& AContent,
                          std::string& AError) {
  // Non-blocking, so that a pipe at the settings path cannot make start-up or a reload wait
  // for a writer that never comes.
  const TFd file(::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (file.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return TReadResult::rrMissing;
    }
    AError = ErrnoText(errno);
    return TReadResult::rrFailed;
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) {
    AError = ErrnoText(errno);
    return TReadResult::rrFailed;
  }
  if (S_ISDIR(st.st_mode)) {
    AError = ErrnoText(EISDIR);
    return TReadResult::rrFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    AError = "not a regular file";
    return TReadResult::rrFailed;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxSettingsFileSize) {
    AError = kTooLarge;
    return TReadResult::rrFailed;
  }
  AContent.clear();
  AContent.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(file.Get(), buf, sizeof buf);
    if (n == 0) {
      break;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      AError = ErrnoText(errno);
      return TReadResult::rrFailed;
    }
    // A file that grows while it is read is held to the same bound.
    if (AContent.size() + static_cast<std::size_t>(n) > kMaxSettingsFileSize) {
      AContent.clear();
      AError = kTooLarge;
      return TReadResult::rrFailed;
    }
    AContent.append(buf, static_cast<std::size_t>(n));
  }
  return TReadResult::rrOk;
}

TReplaceResult ReplaceFileAtomically(const std::string& AFileName, const std::string& AText) {
  const std::string target = WriteTarget(AFileName);
  const std::string parent = std::filesystem::path(target).parent_path().string();
  const std::string folder = parent.empty() ? std::string(".") : parent;
  // Saves of this program (in any process) take turns, so one never mistakes another's
  // temporary file for a stale one. Without the lock the save still works, it only cleans up
  // nothing.
  // Closing the folder drops the lock; it is closed last, on every way out (a throw included).
  const TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const bool locked = dir.IsOpen() && LockWithin(dir.Get(), std::chrono::seconds(5));
  // errno is read at once, before a clean-up call can change it.
  auto failed = [](const std::string& AStep, const std::string& AFile, int AErrno) {
    return TReplaceResult{AErrno, "cannot " + AStep + " " + AFile + ": " + ErrnoText(AErrno)};
  };
  std::string temp;
  TFd file = CreateTempBeside(target, temp);
  if (!file.IsOpen()) {
    return failed("create a temporary file beside", target, errno);
  }
  TReplaceResult result;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    // Only a settings file is ever replaced, never a device or a pipe that a link points to.
    if (!S_ISREG(st.st_mode)) {
      result = TReplaceResult{EINVAL, "cannot replace " + target + ": not a regular file"};
    } else if (::fchmod(file.Get(), st.st_mode & 07777) != 0) {
      result = failed("set the mode of", temp, errno);
    }
  }
  if (result.Ok() && !WriteAll(file.Get(), AText)) {
    result = failed("write", temp, errno);
  }
  if (result.Ok() && ::fsync(file.Get()) != 0) {
    result = failed("sync", temp, errno);
  }
  if (result.Ok() && ::rename(temp.c_str(), target.c_str()) != 0) {
    result = failed("rename the temporary file to", target, errno);
  }
  if (!result.Ok()) {
    ::unlink(temp.c_str());
    return result;
  }
  file.Reset();  // the data is synced and in place
  if (dir.IsOpen()) {
    // Makes the rename itself durable; the data is already safe, so a failure is ignored.
    ::fsync(dir.Get());
  }
  if (locked) {
    RemoveStaleTempFiles(target, folder);
  }
  return result;
}

}  // namespace kelvo
