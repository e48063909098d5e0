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
  THandle File(::CreateFileW(Utf8ToWide(AFileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
  if (!File) {
    ThrowIo("Cannot open the log file", AFileName, ::GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION Info{};
  if (::GetFileType(File.Get()) != FILE_TYPE_DISK) {
    throw TLogError("Cannot open the log file '" + AFileName + "': not a regular file");
  }
  if (!::GetFileInformationByHandle(File.Get(), &Info)) {
    ThrowIo("Cannot open the log file", AFileName, ::GetLastError());
  }
  if ((Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw TLogError("Cannot open the log file '" + AFileName + "': it is a link");
  }
  if ((Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw TLogError("Cannot open the log file '" + AFileName + "': not a regular file");
  }
  if (Info.nNumberOfLinks > 1) {
    throw TLogError("Cannot open the log file '" + AFileName +
                    "': the file has other names (hard links)");
  }
  std::uint64_t Size = (static_cast<std::uint64_t>(Info.nFileSizeHigh) << 32) | Info.nFileSizeLow;
  if (AReplace) {
    if (::SetFilePointer(File.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(File.Get())) {
      ThrowIo("Cannot replace the log file", AFileName, ::GetLastError());
    }
    Size = 0;
  } else if (::SetFilePointer(File.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
             ::GetLastError() != NO_ERROR) {
    ThrowIo("Cannot append to the log file", AFileName, ::GetLastError());
  }
  const std::string Line = Utf8ToAnsi(ALine) + "\r\n";
  if (Size + Line.size() > ALimit) {
    return false;
  }
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
  if (!File.Close()) {
    ThrowIo("Cannot close the log file", AFileName, ::GetLastError());
  }
  return true;
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
