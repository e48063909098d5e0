#include "diag/my_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kelvo {

TStopWatch::TStopWatch(bool AStartOnCreate) {
  if (AStartOnCreate) {
    Start();
  }
}

void TStopWatch::Start() {
  fElapsed = std::chrono::nanoseconds{0};
  fStart = std::chrono::steady_clock::now();
  fRunning = true;
}

void TStopWatch::Stop() {
  if (fRunning) {
    fElapsed = std::chrono::steady_clock::now() - fStart;
    fRunning = false;
  }
}

std::chrono::nanoseconds TStopWatch::Elapsed() const {
  if (fRunning) {
    return std::chrono::steady_clock::now() - fStart;
  }
  return fElapsed;
}

std::string FormatLogTimeStamp(std::chrono::system_clock::time_point ATime) {
  using namespace std::chrono;
  // floor, not a cast: times before 1970 must not round the seconds up.
  const auto Secs = floor<seconds>(ATime);
  const auto Millis = duration_cast<milliseconds>(ATime - Secs).count();
  const std::time_t T = system_clock::to_time_t(Secs);
  std::tm Local{};
  if (localtime_r(&T, &Local) == nullptr) {
    throw TLogError("Cannot convert the time to local time");
  }
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", Local.tm_year + 1900,
                Local.tm_mday, Local.tm_mon + 1, Local.tm_hour, Local.tm_min, Local.tm_sec,
                static_cast<int>(Millis));
  return Buf;
}

namespace {

[[noreturn]] void ThrowIo(const std::string& AWhat, const std::string& AFileName, int AErr) {
  throw TLogError(AWhat + " '" + AFileName + "': " + std::strerror(AErr));
}

// Closes on every path out, so a failing line never leaves the file open.
class TFd {
 public:
  explicit TFd(int AFd) : fFd(AFd) {}
  ~TFd() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fFd; }
  // Returns errno of a failed close, 0 on success.
  int Close() {
    const int Res = ::close(fFd);
    fFd = -1;
    return Res == 0 ? 0 : errno;
  }

 private:
  int fFd;
};

}  // namespace

TMyLog::TMyLog() : fLogFile("errors.log"), fStopWatch(true) {}

std::string TMyLog::LogFile() const {
  std::lock_guard Guard(fLock);
  return fLogFile;
}

void TMyLog::SetLogFile(const std::string& AValue) {
  std::lock_guard Guard(fLock);
  fLogFile = AValue;
}

bool TMyLog::Append() const {
  std::lock_guard Guard(fLock);
  return fAppend;
}

void TMyLog::SetAppend(bool AValue) {
  std::lock_guard Guard(fLock);
  fAppend = AValue;
}

void TMyLog::AddLog(const std::string& AText) {
  std::lock_guard Guard(fLock);
  // The stamp is taken inside the lock so lines from both threads stay in time order.
  WriteLocked(FormatLogTimeStamp(std::chrono::system_clock::now()) + AText);
}

void TMyLog::WriteToFile(const std::string& AText) {
  std::lock_guard Guard(fLock);
  WriteLocked(AText);
}

void TMyLog::DeleteFile() {
  std::lock_guard Guard(fLock);
  if (::unlink(fLogFile.c_str()) != 0 && errno != ENOENT) {
    ThrowIo("Cannot delete the log file", fLogFile, errno);
  }
}

void TMyLog::WriteLocked(const std::string& AText) {
  // O_APPEND in every case: a file that was just emptied is appended to at offset 0.
  TFd File(::open(fLogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (File.Get() < 0) {
    ThrowIo("Cannot open the log file", fLogFile, errno);
  }
  // Another writer holding the file makes this line fail rather than interleave with it;
  // readers take no lock and are never kept out.
  if (::flock(File.Get(), LOCK_EX | LOCK_NB) != 0) {
    ThrowIo("Cannot lock the log file", fLogFile, errno);
  }
  // Emptied only after the lock is held, so a line of another writer is never cut off.
  if (fFirstWrite && !fAppend && ::ftruncate(File.Get(), 0) != 0) {
    ThrowIo("Cannot replace the log file", fLogFile, errno);
  }

  std::string Line;
  Line.reserve(AText.size() + 2);
  Line.append(AText).append("\r\n");
  const char* P = Line.data();
  std::size_t Left = Line.size();
  while (Left > 0) {
    const ssize_t N = ::write(File.Get(), P, Left);
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      ThrowIo("Cannot write the log file", fLogFile, errno);
    }
    P += N;
    Left -= static_cast<std::size_t>(N);
  }
  // Closing releases the lock too.
  if (const int Err = File.Close(); Err != 0) {
    ThrowIo("Cannot close the log file", fLogFile, Err);
  }
  fFirstWrite = false;
}

}  // namespace kelvo
