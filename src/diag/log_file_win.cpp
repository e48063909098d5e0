// The debug log's file on Windows: text in the ANSI code page, the file opened for each line
// with read sharing only, so other programs may read it meanwhile but not write it.
#include <windows.h>

#include "app/windows_text.h"
#include "diag/log_file.h"
#include "diag/my_log.h"

namespace kelvo::log_file {

namespace {

[[noreturn]] void ThrowIo(const std::string& AWhat, const std::string& AFileName, DWORD AError) {
  throw TLogError(AWhat + " '" + AFileName + "': " + WindowsErrorText(AError));
}

// Closes on every path out, so a failing line never leaves the file open.
class THandle {
 public:
  explicit THandle(HANDLE AHandle) : fHandle(AHandle) {}
  ~THandle() {
    if (fHandle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(fHandle);
    }
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Get() const { return fHandle; }
  // The error of a failed close, 0 on success.
  DWORD Close() {
    const BOOL Ok = ::CloseHandle(fHandle);
    fHandle = INVALID_HANDLE_VALUE;
    return Ok ? 0 : ::GetLastError();
  }

 private:
  HANDLE fHandle;
};

}  // namespace

bool ToLocalTime(std::time_t ATime, std::tm& ALocal) {
  return localtime_s(&ALocal, &ATime) == 0;
}

void WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace) {
  THandle File(::CreateFileW(Utf8ToWide(AFileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             AReplace ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
  if (File.Get() == INVALID_HANDLE_VALUE) {
    ThrowIo("Cannot open the log file", AFileName, ::GetLastError());
  }
  if (!AReplace && ::SetFilePointer(File.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    ThrowIo("Cannot append to the log file", AFileName, ::GetLastError());
  }
  const std::string Line = Utf8ToAnsi(ALine) + "\r\n";
  const char* P = Line.data();
  std::size_t Left = Line.size();
  while (Left > 0) {
    DWORD Written = 0;
    if (!::WriteFile(File.Get(), P, static_cast<DWORD>(Left), &Written, nullptr) || Written == 0) {
      ThrowIo("Cannot write the log file", AFileName, ::GetLastError());
    }
    P += Written;
    Left -= Written;
  }
  if (const DWORD Error = File.Close(); Error != 0) {
    ThrowIo("Cannot close the log file", AFileName, Error);
  }
}

void Remove(const std::string& AFileName) {
  if (!::DeleteFileW(Utf8ToWide(AFileName).c_str())) {
    const DWORD Error = ::GetLastError();
    if (Error != ERROR_FILE_NOT_FOUND && Error != ERROR_PATH_NOT_FOUND) {
      ThrowIo("Cannot delete the log file", AFileName, Error);
    }
  }
}

}  // namespace kelvo::log_file
