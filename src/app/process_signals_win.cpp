// Console control events stop the relay: the handler runs on a thread of its own and sets the
// stop event. For a console close (and log-off or shut-down) it then keeps the process alive,
// because Windows ends the process as soon as the handler returns; the main thread stops the
// relay, saves the settings and ends the process itself meanwhile.
#include <windows.h>

#include <atomic>

#include "app/console_events.h"
#include "app/process_signals.h"

namespace kelvo {

namespace {

// Created once and kept for the process's life: the handler may run at any moment.
std::atomic<HANDLE> gStopEvent{nullptr};
std::atomic<bool> gHolding{false};

// Generous, yet below the time after which Windows ends a process that does not answer.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI ConsoleControl(DWORD AEvent) {
  if (!gHolding.load()) {
    return FALSE;  // the default: the process ends
  }
  switch (AEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ::SetEvent(gStopEvent.load());
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ::SetEvent(gStopEvent.load());
      ::Sleep(kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void HoldStopRequests() {
  if (gStopEvent.load() == nullptr) {
    gStopEvent.store(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ::SetConsoleCtrlHandler(ConsoleControl, TRUE);
  }
  gHolding.store(gStopEvent.load() != nullptr);
}

void ReleaseStopRequests() {
  gHolding.store(false);
  // A stop that came while held ends the process now, as it would have then.
  if (const HANDLE stop = gStopEvent.load();
      stop != nullptr && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

void* ConsoleStopEvent() {
  return gStopEvent.load();
}

}  // namespace kelvo
