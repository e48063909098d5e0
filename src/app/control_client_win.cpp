// The client end of a running relay's named pipe.
#include <windows.h>

#include "app/control_client.h"
#include "app/control_requests.h"
#include "app/pipe_io_win.h"
#include "base/handle_win.h"
#include "base/wait_time.h"

namespace kelvo {

std::optional<std::string> SendControlRequest(const std::string& ASocketName,
                                              const std::string& ALine,
                                              std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  if (ASocketName.empty()) {
    return std::nullopt;
  }
  const std::wstring Name = pipe_io::PipeName(ASocketName);
  THandle Pipe;
  for (;;) {
    // The server may learn who asks but never act as this user (identification level only).
    Pipe.Reset(::CreateFileW(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                             nullptr));
    if (Pipe) {
      break;
    }
    // Busy with another client: wait for the relay to be free again, within the time given.
    const int Left = MillisecondsUntil(Deadline);
    if (::GetLastError() != ERROR_PIPE_BUSY || Left <= 0 ||
        !::WaitNamedPipeW(Name.c_str(), static_cast<DWORD>(Left))) {
      return std::nullopt;
    }
  }
  // The request goes to a relay of this user only, and only such a relay may answer for it.
  if (!pipe_io::ServerRunsAs(Pipe.Get(), pipe_io::CurrentUserSid())) {
    return std::nullopt;
  }
  std::string Answer;
  const bool Ok = pipe_io::WriteAll(Pipe.Get(), ALine + "\n", Deadline) &&
                  pipe_io::ReadLine(Pipe.Get(), Answer, Deadline, kMaxControlAnswer);
  Pipe.Reset();
  const std::size_t End = Answer.find('\n');
  if (!Ok || End == std::string::npos) {
    return std::string();
  }
  return Answer.substr(0, End);
}

}  // namespace kelvo
