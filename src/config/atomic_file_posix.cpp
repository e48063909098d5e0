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
  const char* P = AText.data();
  std::size_t Left = AText.size();
  while (Left > 0) {
    const ssize_t N = ::write(AFd, P, Left);
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    P += N;
    Left -= static_cast<std::size_t>(N);
  }
  return true;
}

// A settings file kept as a link (dotfile managers do that) is replaced at its target, so the
// link survives.
std::string WriteTarget(const std::string& AFileName) {
  struct stat St {};
  if (::lstat(AFileName.c_str(), &St) == 0 && S_ISLNK(St.st_mode)) {
    char Resolved[PATH_MAX];
    if (::realpath(AFileName.c_str(), Resolved) != nullptr) {
      return Resolved;
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
  bool AllLower = true;
  for (const char Ch : ASuffix) {
    const bool Lower = Ch >= 'a' && Ch <= 'z';
    if (!Lower && !(Ch >= 'A' && Ch <= 'Z') && !(Ch >= '0' && Ch <= '9')) {
      return false;
    }
    AllLower = AllLower && Lower;
  }
  return !AllLower;
}

// Creates "<target>.XXXXXX" exclusively, with a suffix that LooksLikeOurTempSuffix accepts, so
// a later save can always tell it from a person's file. Owns nothing, errno set, on failure.
TFd CreateTempBeside(const std::string& ATarget, std::string& APath) {
  static constexpr std::string_view kChars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 Random(
      std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()) << 32 ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int Try = 0; Try < 100; ++Try) {
    std::string Suffix(6, 'a');
    for (char& Ch : Suffix) {
      Ch = kChars[Random() % kChars.size()];
    }
    if (!LooksLikeOurTempSuffix(Suffix)) {
      Suffix[Random() % Suffix.size()] = static_cast<char>('0' + Random() % 10);
    }
    APath = ATarget;
    APath += '.';
    APath += Suffix;
    TFd File(::open(APath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (File.IsOpen() || errno != EEXIST) {
      return File;
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
  const std::string Prefix = fs::path(ATarget).filename().string() + ".";
  std::error_code Ec;
  fs::directory_iterator It(AFolder, Ec);
  if (Ec) {
    return;
  }
  for (; It != fs::directory_iterator(); It.increment(Ec)) {
    if (Ec) {
      return;
    }
    const std::string Name = It->path().filename().string();
    if (!Name.starts_with(Prefix) || !LooksLikeOurTempSuffix(Name.substr(Prefix.size()))) {
      continue;
    }
    const std::string Path = It->path().string();
    TFd File(::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!File.IsOpen()) {
      continue;
    }
    struct stat St {};
    bool Ours = ::fstat(File.Get(), &St) == 0 && S_ISREG(St.st_mode) && St.st_uid == ::geteuid();
    if (Ours && St.st_size > 0) {
      unsigned char Head[2] = {};
      const bool Two = ::pread(File.Get(), Head, sizeof Head, 0) == 2;
      const bool Bom = Head[0] == 0xFF || Head[0] == 0xFE || Head[0] == 0xEF;
      const auto Letter = [](unsigned char AByte) { return AByte == 'W' || AByte == 'R'; };
      Ours = Two && (Bom || Letter(Head[0]) || (Head[0] == 0 && Letter(Head[1])));
    }
    File.Reset();
    if (Ours) {
      ::unlink(Path.c_str());
    }
  }
}

// A save stuck elsewhere (a hung disk) must not hang this one: after ATimeout it goes ahead
// without the lock.
bool LockWithin(int AFd, std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (::flock(AFd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > Deadline) {
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
  const TFd File(::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (File.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return TReadResult::rrMissing;
    }
    AError = ErrnoText(errno);
    return TReadResult::rrFailed;
  }
  struct stat St {};
  if (::fstat(File.Get(), &St) != 0) {
    AError = ErrnoText(errno);
    return TReadResult::rrFailed;
  }
  if (S_ISDIR(St.st_mode)) {
    AError = ErrnoText(EISDIR);
    return TReadResult::rrFailed;
  }
  if (!S_ISREG(St.st_mode)) {
    AError = "not a regular file";
    return TReadResult::rrFailed;
  }
  if (static_cast<std::uint64_t>(St.st_size) > kMaxSettingsFileSize) {
    AError = kTooLarge;
    return TReadResult::rrFailed;
  }
  AContent.clear();
  AContent.reserve(static_cast<std::size_t>(St.st_size));
  char Buf[65536];
  for (;;) {
    const ssize_t N = ::read(File.Get(), Buf, sizeof Buf);
    if (N == 0) {
      break;
    }
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      AError = ErrnoText(errno);
      return TReadResult::rrFailed;
    }
    // A file that grows while it is read is held to the same bound.
    if (AContent.size() + static_cast<std::size_t>(N) > kMaxSettingsFileSize) {
      AContent.clear();
      AError = kTooLarge;
      return TReadResult::rrFailed;
    }
    AContent.append(Buf, static_cast<std::size_t>(N));
  }
  return TReadResult::rrOk;
}

TReplaceResult ReplaceFileAtomically(const std::string& AFileName, const std::string& AText) {
  const std::string Target = WriteTarget(AFileName);
  const std::string Parent = std::filesystem::path(Target).parent_path().string();
  const std::string Folder = Parent.empty() ? std::string(".") : Parent;
  // Saves of this program (in any process) take turns, so one never mistakes another's
  // temporary file for a stale one. Without the lock the save still works, it only cleans up
  // nothing.
  // Closing the folder drops the lock; it is closed last, on every way out (a throw included).
  const TFd Dir(::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const bool Locked = Dir.IsOpen() && LockWithin(Dir.Get(), std::chrono::seconds(5));
  // errno is read at once, before a clean-up call can change it.
  auto Failed = [](const std::string& AStep, const std::string& AFile, int AErrno) {
    return TReplaceResult{AErrno, "cannot " + AStep + " " + AFile + ": " + ErrnoText(AErrno)};
  };
  std::string Temp;
  TFd File = CreateTempBeside(Target, Temp);
  if (!File.IsOpen()) {
    return Failed("create a temporary file beside", Target, errno);
  }
  TReplaceResult Result;
  struct stat St {};
  if (::stat(Target.c_str(), &St) == 0) {
    // Only a settings file is ever replaced, never a device or a pipe that a link points to.
    if (!S_ISREG(St.st_mode)) {
      Result = TReplaceResult{EINVAL, "cannot replace " + Target + ": not a regular file"};
    } else if (::fchmod(File.Get(), St.st_mode & 07777) != 0) {
      Result = Failed("set the mode of", Temp, errno);
    }
  }
  if (Result.Ok() && !WriteAll(File.Get(), AText)) {
    Result = Failed("write", Temp, errno);
  }
  if (Result.Ok() && ::fsync(File.Get()) != 0) {
    Result = Failed("sync", Temp, errno);
  }
  if (Result.Ok() && ::rename(Temp.c_str(), Target.c_str()) != 0) {
    Result = Failed("rename the temporary file to", Target, errno);
  }
  if (!Result.Ok()) {
    ::unlink(Temp.c_str());
    return Result;
  }
  File.Reset();  // the data is synced and in place
  if (Dir.IsOpen()) {
    // Makes the rename itself durable; the data is already safe, so a failure is ignored.
    ::fsync(Dir.Get());
  }
  if (Locked) {
    RemoveStaleTempFiles(Target, Folder);
  }
  return Result;
}

}  // namespace kelvo
