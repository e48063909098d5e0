// The debug log's file on Windows: text in the ANSI code page, the file opened for each line
// with read sharing only, so other programs may read it meanwhile but not write it.
#include <windows.h>

#include <cstdint>

#include "base/handle_win.h"
#include "base/windows_text.h"
#include "diag/log_file.h"
#include "diag/my_log.h"

namespace kelvo::log_file {

namespace {

[[noreturn]] void ThrowIo(const std::string& AWhat, const std::string& AFileName, DWORD AError) {
  throw TLogError(AWhat + " '" + AFileName + "': " + WindowsErrorText(AError));
}

}  // namespace

bool ToLocalTime(std::time_t ATime, std::tm& ALocal) {
  return localtime_s(&ALocal, &ATime) == 0;
}

bool WriteLine(const std::string& AFileName, const std::string& ALine, bool AReplace,
               std::uint64_t ALimit) {
  // Opened without replacing anything and without following a reparse point (a symbolic link
  // or a junction planted at the log's place): what was opened is checked before a byte of it
  // changes.
  // Closed on every path out, so a failing line never leaves the file open.
  THandle file(::CreateFileW(Utf8ToWide(AFileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
  if (!file) {
    ThrowIo("Cannot open the log file", AFileName, ::GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    throw TLogError("Cannot open the log file '" + AFileName + "': not a regular file");
  }
  if (!::GetFileInformationByHandle(file.Get(), &info)) {
    ThrowIo("Cannot open the log file", AFileName, ::GetLastError());
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw TLogError("Cannot open the log file '" + AFileName + "': it is a link");
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw TLogError("Cannot open the log file '" + AFileName + "': not a regular file");
  }
  if (info.nNumberOfLinks > 1) {
    throw TLogError("Cannot open the log file '" + AFileName +
                    "': the file has other names (hard links)");
  }
  std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (AReplace) {
    if (::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(file.Get())) {
      ThrowIo("Cannot replace the log file", AFileName, ::GetLastError());
    }
    size = 0;
  } else if (::SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
             ::GetLastError() != NO_ERROR) {
    ThrowIo("Cannot append to the log file", AFileName, ::GetLastError());
  }
  const std::string line = Utf8ToAnsi(ALine) + "\r\n";
  if (size + line.size() > ALimit) {
    return false;
  }
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteFile(file.Get(), p, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
      ThrowIo("Cannot write the log file", AFileName, ::GetLastError());
    }
    p += written;
    left -= written;
  }
  if (!file.Close()) {
    ThrowIo("Cannot close the log file", AFileName, ::GetLastError());
  }
  return true;
}

void Remove(const std::string& AFileName) {
  if (!::DeleteFileW(Utf8ToWide(AFileName).c_str())) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      ThrowIo("Cannot delete the log file", AFileName, error);
    }
  }
}

}  // namespace kelvo::log_file
