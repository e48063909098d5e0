// Console control events stop the relay: the handler runs on a thread of its own, sets the
// stop event and, for a console close (and log-off or shut-down), waits until the relay has
// stopped and saved its settings, because Windows ends the process once the handler returns.
#include <windows.h>

#include <atomic>

#include "app/stop_request.h"

namespace kelvo {

namespace {

// The handler is a plain function; it reaches the one live object through these.
std::atomic<HANDLE> gStopEvent{nullptr};
std::atomic<HANDLE> gDoneEvent{nullptr};

// Generous, yet below the time after which Windows ends a process that does not answer.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI ConsoleControl(DWORD AEvent) {
  const HANDLE Stop = gStopEvent.load();
  if (Stop == nullptr) {
    return FALSE;
  }
  switch (AEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ::SetEvent(Stop);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ::SetEvent(Stop);
      if (const HANDLE Done = gDoneEvent.load(); Done != nullptr) {
        ::WaitForSingleObject(Done, kCloseGraceMs);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct TStopRequest::TImpl {
  HANDLE Stop = nullptr;
  HANDLE Done = nullptr;
};

TStopRequest::TStopRequest() : fImpl(std::make_unique<TImpl>()) {
  fImpl->Stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  fImpl->Done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  gStopEvent.store(fImpl->Stop);
  gDoneEvent.store(fImpl->Done);
  ::SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

TStopRequest::~TStopRequest() {
  ::SetConsoleCtrlHandler(ConsoleControl, FALSE);
  gStopEvent.store(nullptr);
  gDoneEvent.store(nullptr);
  // A handler still waiting for Done has been released by Done (or times out); the events
  // stay valid for it until here.
  if (fImpl->Done != nullptr) {
    ::SetEvent(fImpl->Done);
    ::CloseHandle(fImpl->Done);
  }
  if (fImpl->Stop != nullptr) {
    ::CloseHandle(fImpl->Stop);
  }
}

bool TStopRequest::Wait(std::chrono::milliseconds AWait) {
  if (fImpl->Stop == nullptr) {
    ::Sleep(static_cast<DWORD>(AWait.count()));
    return false;
  }
  return ::WaitForSingleObject(fImpl->Stop, static_cast<DWORD>(AWait.count())) == WAIT_OBJECT_0;
}

void TStopRequest::Done() {
  if (fImpl->Done != nullptr) {
    ::SetEvent(fImpl->Done);
  }
}

}  // namespace kelvo
