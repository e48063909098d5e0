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
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  if (ASocketName.empty()) {
    return std::nullopt;
  }
  const std::wstring name = pipe_io::PipeName(ASocketName);
  THandle pipe;
  for (;;) {
    // The server may learn who asks but never act as this user (identification level only).
    pipe.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                             nullptr));
    if (pipe) {
      break;
    }
    // Busy with another client: wait for the relay to be free again, within the time given.
    const int left = MillisecondsUntil(deadline);
    if (::GetLastError() != ERROR_PIPE_BUSY || left <= 0 ||
        !::WaitNamedPipeW(name.c_str(), static_cast<DWORD>(left))) {
      return std::nullopt;
    }
  }
  // The request goes to a relay of this user only, and only such a relay may answer for it.
  if (!pipe_io::ServerRunsAs(pipe.Get(), pipe_io::CurrentUserSid())) {
    return std::nullopt;
  }
  std::string answer;
  const bool ok = pipe_io::WriteAll(pipe.Get(), ALine + "\n", deadline) &&
                  pipe_io::ReadLine(pipe.Get(), answer, deadline, kMaxControlAnswer);
  pipe.Reset();
  const std::size_t end = answer.find('\n');
  if (!ok || end == std::string::npos) {
    return std::string();
  }
  return answer.substr(0, end);
}

}  // namespace kelvo
