// The debug log: one time-stamped line per call, file opened and closed for every line.
#pragma once

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>

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

// "yyyy-dd-mm hh:nn:ss.zzz " of the local time (day before month, trailing blank).
std::string FormatLogTimeStamp(std::chrono::system_clock::time_point ATime);

// Thread-safe: one lock is held for the whole of AddLog, WriteToFile and DeleteFile.
class TMyLog {
 public:
  TMyLog();

  std::string LogFile() const;
  void SetLogFile(const std::string& AValue);
  bool Append() const;
  void SetAppend(bool AValue);

  // Time stamp + AText, written as one line. Throws TLogError when the file cannot be
  // created, opened or written; the line is then lost and the file is not left open.
  void AddLog(const std::string& AText);
  // AText + CR LF. The first write of a run replaces the file unless Append is set.
  void WriteToFile(const std::string& AText);
  void DeleteFile();

 private:
  void WriteLocked(const std::string& AText);  // requires fLock

  mutable std::mutex fLock;
  std::string fLogFile;     // guarded by fLock
  bool fAppend = false;     // guarded by fLock
  bool fFirstWrite = true;  // guarded by fLock
  TStopWatch fStopWatch;
};

}  // namespace kelvo
