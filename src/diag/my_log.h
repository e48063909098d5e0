// The debug log: one time-stamped line per call, file opened and closed for every line.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace kelvo {

class TLogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Elapsed-time counter; the log owns one that nothing reads.
class TStopWatch {
 public:
  explicit TStopWatch(bool AStartOnCreate = false);
  void Start();
  void Stop();
  std::chrono::nanoseconds Elapsed() const;

 private:
  std::chrono::steady_clock::time_point fStart{};
  std::chrono::nanoseconds fElapsed{0};
  bool fRunning = false;
};

// How large the debug log may grow in one run. A flood of junk datagrams writes hundreds of
// megabytes a second into it; past this size one last line says so and the log pauses.
inline constexpr std::uint64_t kDebugLogSizeLimit = 256ULL * 1024 * 1024;
inline constexpr const char* kDebugLogLimitText = "debug log limit reached";

// "yyyy-dd-mm hh:nn:ss.zzz " of the local time (day before month, trailing blank).
std::string FormatLogTimeStamp(std::chrono::system_clock::time_point ATime);

// Thread-safe: one lock is held for the whole of AddLog, WriteToFile and DeleteFile.
class TMyLog {
 public:
  TMyLog();

  std::string LogFile() const EXCLUDES(fLock);
  void SetLogFile(const std::string& AValue) EXCLUDES(fLock);
  bool Append() const EXCLUDES(fLock);
  void SetAppend(bool AValue) EXCLUDES(fLock);
  // Bytes the file may hold (kDebugLogSizeLimit unless a test sets less).
  std::uint64_t SizeLimit() const EXCLUDES(fLock);
  void SetSizeLimit(std::uint64_t AValue) EXCLUDES(fLock);

  // Time stamp + AText, written as one line. Throws TLogError when the file cannot be
  // created, opened or written; the line is then lost and the file is not left open.
  // A line that would take the file past SizeLimit is not written: a time-stamped
  // kDebugLogLimitText is, once, and later lines are dropped until Resume.
  void AddLog(const std::string& AText) EXCLUDES(fLock);
  // AText + CR LF. The first write of a run replaces the file unless Append is set.
  void WriteToFile(const std::string& AText) EXCLUDES(fLock);
  void DeleteFile() EXCLUDES(fLock);

  // True from the limit line on, until Resume.
  bool LimitReached() const EXCLUDES(fLock);
  // After the limit line, logging goes on with the next line replacing the file, as the first
  // line of a run does. The owner calls it when debug logs are switched on again (Setup
  // confirmed with "Create debug logs"); before the limit it changes nothing.
  void Resume() EXCLUDES(fLock);

 private:
  void WriteLocked(const std::string& AText) REQUIRES(fLock);

  mutable TMutex fLock;
  std::string fLogFile GUARDED_BY(fLock);
  bool fAppend GUARDED_BY(fLock) = false;
  bool fFirstWrite GUARDED_BY(fLock) = true;
  std::uint64_t fSizeLimit GUARDED_BY(fLock) = kDebugLogSizeLimit;
  bool fLimitReached GUARDED_BY(fLock) = false;
  TStopWatch fStopWatch;
};

}  // namespace kelvo
