#include "app/pipe_io_win.h"

#include "app/wait_time.h"
#include "app/windows_text.h"

namespace kelvo::pipe_io {

namespace {

// One overlapped transfer, waited for until ADeadline; cancelled when it is not done by then.
// Returns the bytes moved, 0 when the other end has closed, -1 on failure or timeout.
long Transfer(HANDLE APipe, bool ARead, void* ABuffer, DWORD ASize,
              std::chrono::steady_clock::time_point ADeadline) {
  OVERLAPPED Overlapped{};
  Overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (Overlapped.hEvent == nullptr) {
    return -1;
  }
  DWORD Moved = 0;
  BOOL Done = ARead ? ::ReadFile(APipe, ABuffer, ASize, nullptr, &Overlapped)
                    : ::WriteFile(APipe, ABuffer, ASize, nullptr, &Overlapped);
  if (!Done && ::GetLastError() == ERROR_IO_PENDING) {
    if (::WaitForSingleObject(Overlapped.hEvent,
                              static_cast<DWORD>(MillisecondsUntil(ADeadline))) != WAIT_OBJECT_0) {
      ::CancelIo(APipe);
    }
    Done = ::GetOverlappedResult(APipe, &Overlapped, &Moved, TRUE);
  } else if (Done) {
    Done = ::GetOverlappedResult(APipe, &Overlapped, &Moved, TRUE);
  }
  const DWORD Error = Done ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(Overlapped.hEvent);
  if (Error == ERROR_BROKEN_PIPE || Error == ERROR_PIPE_NOT_CONNECTED) {
    return 0;
  }
  return Done && Moved > 0 ? static_cast<long>(Moved) : (Done ? 0 : -1);
}

}  // namespace

std::wstring PipeName(const std::string& ASocketName) {
  std::string Name = ASocketName;
  for (char& C : Name) {
    if (C == '\\') {
      C = '/';
    }
  }
  return L"\\\\.\\pipe\\" + Utf8ToWide(Name);
}

bool ReadLine(HANDLE APipe, std::string& AReceived, std::chrono::steady_clock::time_point ADeadline,
              std::size_t AMaxSize) {
  std::size_t Searched = 0;
  while (AReceived.find('\n', Searched) == std::string::npos) {
    Searched = AReceived.size();
    std::string Buffer(65536, '\0');
    const long N =
        Transfer(APipe, true, Buffer.data(), static_cast<DWORD>(Buffer.size()), ADeadline);
    if (N == 0) {
      return !AReceived.empty();  // a request may end with the connection instead of a line end
    }
    if (N < 0) {
      return false;
    }
    AReceived.append(Buffer.data(), static_cast<std::size_t>(N));
    if (AReceived.size() > AMaxSize) {
      return false;
    }
  }
  return true;
}

bool WriteAll(HANDLE APipe, const std::string& AText,
              std::chrono::steady_clock::time_point ADeadline) {
  std::string Left = AText;
  std::size_t Done = 0;
  while (Done < Left.size()) {
    const long N = Transfer(APipe, false, Left.data() + Done,
                            static_cast<DWORD>(Left.size() - Done), ADeadline);
    if (N <= 0) {
      return false;
    }
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

}  // namespace kelvo::pipe_io
