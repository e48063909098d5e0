// The loop on Windows: one wait on the console's stop event and on the named pipe that a
// second start, --quit and the settings options connect to, with the ageing tick as timeout.
// Windows has no reload signal; the settings options reach the relay through the pipe.
#include <windows.h>

#include <chrono>

#include "app/console_events.h"
#include "app/control_requests.h"
#include "app/headless_loop.h"
#include "app/pipe_io_win.h"
#include "app/windows_text.h"
#include "app/wait_time.h"

namespace kelvo {

namespace {

using TSteadyClock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTick(100);
// A client gets this long to send its line and to take the answer (the clients are this
// program's own short commands).
constexpr std::chrono::milliseconds kRequestTimeout(1000);

// One instance of the pipe, waiting for a client with an overlapped connect.
class TPipeServer {
 public:
  TPipeServer(const std::string& ASocketName, std::string& AError)
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
  ~TPipeServer() {
    if (fPipe != INVALID_HANDLE_VALUE) {
      ::CancelIo(fPipe);
      ::CloseHandle(fPipe);
    }
    if (fConnected != nullptr) {
      ::CloseHandle(fConnected);
    }
  }
  TPipeServer(const TPipeServer&) = delete;
  TPipeServer& operator=(const TPipeServer&) = delete;

  // Signalled when a client has connected; null when the pipe could not be made.
  HANDLE Connected() const { return fPipe != INVALID_HANDLE_VALUE ? fConnected : nullptr; }

  // Answers the connected client; true when it asked the loop to stop. Then waits for the next.
  bool Answer(const THeadlessHandlers& AHandlers) {
    DWORD Ignored = 0;
    ::GetOverlappedResult(fPipe, &fOverlapped, &Ignored, FALSE);
    bool Stop = false;
    const auto Deadline = TSteadyClock::now() + kRequestTimeout;
    std::string Received;
    if (pipe_io::ReadLine(fPipe, Received, Deadline) && CouldBeControlRequest(Received)) {
      const std::size_t End = Received.find('\n');
      const std::string Answer =
          AHandlers.Request(End == std::string::npos ? Received : Received.substr(0, End), Stop);
      if (!Answer.empty() && pipe_io::WriteAll(fPipe, Answer + "\n", Deadline)) {
        // Disconnecting drops what the client has not read yet: wait for it to close first.
        std::string Rest;
        pipe_io::ReadLine(fPipe, Rest, TSteadyClock::now() + kRequestTimeout);
      }
    }
    ::DisconnectNamedPipe(fPipe);
    Listen();
    return Stop;
  }

 private:
  void Listen() {
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

  std::wstring fName;
  HANDLE fPipe = INVALID_HANDLE_VALUE;
  HANDLE fConnected = nullptr;
  OVERLAPPED fOverlapped{};
};

}  // namespace

void RunHeadlessLoop(const std::string& ASocketName, const THeadlessHandlers& AHandlers) {
  const HANDLE Stop = static_cast<HANDLE>(ConsoleStopEvent());
  std::string ListenError;
  TPipeServer Server(ASocketName, ListenError);
  if (!ListenError.empty() && AHandlers.Warn) {
    AHandlers.Warn(ListenError + "; --quit and the settings options cannot reach this relay");
  }

  HANDLE Waits[2];
  DWORD Count = 0;
  if (Stop != nullptr) {
    Waits[Count++] = Stop;
  }
  const DWORD ConnectedIndex = Count;
  if (Server.Connected() != nullptr) {
    Waits[Count++] = Server.Connected();
  }

  auto NextTick = TSteadyClock::now() + kTick;
  for (;;) {
    const auto Timeout = static_cast<DWORD>(MillisecondsUntil(NextTick));
    const DWORD Ready = Count > 0 ? ::WaitForMultipleObjects(Count, Waits, FALSE, Timeout)
                                  : (::Sleep(Timeout), WAIT_TIMEOUT);
    if (Ready == WAIT_FAILED) {
      return;
    }
    if (Stop != nullptr && Ready == WAIT_OBJECT_0) {
      return;  // Ctrl+C, Ctrl+Break, the console closing
    }
    if (Server.Connected() != nullptr && Ready == WAIT_OBJECT_0 + ConnectedIndex &&
        Server.Answer(AHandlers)) {
      return;
    }
    if (TSteadyClock::now() >= NextTick) {
      AHandlers.Tick();
      // A tick late by more than a period is not made up for: ageing counts ticks, and a
      // burst would age the tables faster than time passes.
      NextTick += kTick;
      if (NextTick < TSteadyClock::now()) {
        NextTick = TSteadyClock::now() + kTick;
      }
    }
  }
}

}  // namespace kelvo
