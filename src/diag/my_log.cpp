#include "diag/my_log.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "diag/log_file.h"

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
  const auto secs = floor<seconds>(ATime);
  const auto millis = duration_cast<milliseconds>(ATime - secs).count();
  const std::time_t t = system_clock::to_time_t(secs);
  std::tm local{};
  if (!log_file::ToLocalTime(t, local)) {
    throw TLogError("Cannot convert the time to local time");
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mday, local.tm_mon + 1, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return buf;
}

TMyLog::TMyLog() : fLogFile("errors.log"), fStopWatch(true) {}

std::string TMyLog::LogFile() const {
  const TMutexLock guard(fLock);
  return fLogFile;
}

void TMyLog::SetLogFile(const std::string& AValue) {
  const TMutexLock guard(fLock);
  fLogFile = AValue;
}

bool TMyLog::Append() const {
  const TMutexLock guard(fLock);
  return fAppend;
}

void TMyLog::SetAppend(bool AValue) {
  const TMutexLock guard(fLock);
  fAppend = AValue;
}

std::uint64_t TMyLog::SizeLimit() const {
  const TMutexLock guard(fLock);
  return fSizeLimit;
}

void TMyLog::SetSizeLimit(std::uint64_t AValue) {
  const TMutexLock guard(fLock);
  fSizeLimit = AValue;
}

bool TMyLog::LimitReached() const {
  const TMutexLock guard(fLock);
  return fLimitReached;
}

void TMyLog::Resume() {
  const TMutexLock guard(fLock);
  if (fLimitReached) {
    fLimitReached = false;
    fFirstWrite = true;
  }
}

void TMyLog::AddLog(const std::string& AText) {
  const TMutexLock guard(fLock);
  // The stamp is taken inside the lock so lines from both threads stay in time order.
  WriteLocked(FormatLogTimeStamp(std::chrono::system_clock::now()) + AText);
}

void TMyLog::WriteToFile(const std::string& AText) {
  const TMutexLock guard(fLock);
  WriteLocked(AText);
}

void TMyLog::DeleteFile() {
  const TMutexLock guard(fLock);
  log_file::Remove(fLogFile);
}

void TMyLog::WriteLocked(const std::string& AText) {
  if (fLimitReached) {
    return;
  }
  const bool written = log_file::WriteLine(fLogFile, AText, fFirstWrite && !fAppend, fSizeLimit);
  fFirstWrite = false;
  if (!written) {
    // The one line past the limit; it may take the file a line beyond it.
    log_file::WriteLine(fLogFile,
                        FormatLogTimeStamp(std::chrono::system_clock::now()) + kDebugLogLimitText,
                        false, UINT64_MAX);
    fLimitReached = true;
  }
}

}  // namespace kelvo
