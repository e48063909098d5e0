#include "app/pipe_server_win.h"

#include <chrono>

#include "app/control_requests.h"
#include "app/pipe_io_win.h"
#include "app/windows_text.h"

namespace kelvo {

namespace {

// A client gets this long to send its line and to take the answer (the clients are this
// program's own short commands).
constexpr std::chrono::milliseconds kRequestTimeout(1000);

}  // namespace

TPipeServer::TPipeServer(const std::string& ASocketName, std::string& AError)
    : fName(pipe_io::PipeName(ASocketName)) {
  fConnected = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Only this machine, and never a second server on a pipe somebody else made first.
  fPipe = ::CreateNamedPipeW(
      fName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096,
      0, nullptr);
  if (fPipe == INVALID_HANDLE_VALUE || fConnected == nullptr) {
    AError = "cannot listen on " + WideToUtf8(fName) + ": " + WindowsErrorText(::GetLastError());
    return;
  }
  Listen();
}

TPipeServer::~TPipeServer() {
  if (fPipe != INVALID_HANDLE_VALUE) {
    ::CancelIo(fPipe);
    ::CloseHandle(fPipe);
  }
  if (fConnected != nullptr) {
    ::CloseHandle(fConnected);
  }
}

bool TPipeServer::Answer(const THandler& AHandler) {
  DWORD Ignored = 0;
  ::GetOverlappedResult(fPipe, &fOverlapped, &Ignored, FALSE);
  bool Stop = false;
  const auto Deadline = std::chrono::steady_clock::now() + kRequestTimeout;
  std::string Received;
  // A "setup" line carries a whole static list (app/setup_request.h).
  if (pipe_io::ReadLine(fPipe, Received, Deadline, kMaxSetupLine + 1) &&
      CouldBeControlRequest(Received)) {
    const std::size_t End = Received.find('\n');
    const std::string Answer =
        AHandler(End == std::string::npos ? Received : Received.substr(0, End), Stop);
    if (!Answer.empty() && pipe_io::WriteAll(fPipe, Answer + "\n", Deadline)) {
      // Disconnecting drops what the client has not read yet: wait for it to close first.
      std::string Rest;
      pipe_io::ReadLine(fPipe, Rest, std::chrono::steady_clock::now() + kRequestTimeout);
    }
  }
  ::DisconnectNamedPipe(fPipe);
  Listen();
  return Stop;
}

void TPipeServer::Listen() {
  ::ResetEvent(fConnected);
  fOverlapped = OVERLAPPED{};
  fOverlapped.hEvent = fConnected;
  if (!::ConnectNamedPipe(fPipe, &fOverlapped)) {
    const DWORD Error = ::GetLastError();
    if (Error == ERROR_PIPE_CONNECTED) {
      ::SetEvent(fConnected);
    } else if (Error != ERROR_IO_PENDING) {
      // Not expected; the next wait sees the event and answers (then nothing is read).
      ::SetEvent(fConnected);
    }
  }
}

}  // namespace kelvo
