// The loop on Windows: one wait on the console's stop event and on the instances of the named
// pipe that a second start, --quit and the settings options connect to, with the ageing tick
// (or the nearest client deadline) as timeout. No client is ever waited for.
// Windows has no reload signal; the settings options reach the relay through the pipe.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "app/console_events.h"
#include "app/headless_loop.h"
#include "app/pipe_server_win.h"
#include "app/tick_schedule.h"
#include "base/handle_win.h"
#include "base/wait_time.h"
#include "net/network_watcher.h"

namespace kelvo {

namespace {

using TSteadyClock = std::chrono::steady_clock;

}  // namespace

void RunHeadlessLoop(const std::string& ASocketName, const THeadlessHandlers& AHandlers) {
  const HANDLE Stop = static_cast<HANDLE>(ConsoleStopEvent());
  std::string ListenError;
  TPipeServer Server(ASocketName, ListenError);
  if (!ListenError.empty() && AHandlers.Warn) {
    AHandlers.Warn(ListenError + "; --quit and the settings options cannot reach this relay");
  }

  // The watcher's callbacks set this event; the loop takes the change in on its own thread.
  // The watcher is declared after it, so no callback can outlive the event.
  const THandle ChangeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));  // auto-reset
  const HANDLE NetworkEvent = ChangeEvent.Get();
  TNetworkWatcher Watcher([NetworkEvent] {
    if (NetworkEvent != nullptr) {
      ::SetEvent(NetworkEvent);
    }
  });

  // The stop event first, then one event per pipe instance, then the network's.
  std::vector<HANDLE> Waits;
  if (Stop != nullptr) {
    Waits.push_back(Stop);
  }
  const std::size_t FirstPipe = Waits.size();
  Waits.insert(Waits.end(), Server.Events().begin(), Server.Events().end());
  const std::size_t PipeEnd = Waits.size();
  if (NetworkEvent != nullptr) {
    Waits.push_back(NetworkEvent);
  }

  TTickSchedule Ticks(kHeadlessTick, TSteadyClock::now());
  for (;;) {
    const auto Wake = std::min(Ticks.Next(), Server.NextDeadline());
    const auto Timeout = static_cast<DWORD>(MillisecondsUntil(Wake));
    const DWORD Ready = Waits.empty() ? (::Sleep(Timeout), WAIT_TIMEOUT)
                                      : ::WaitForMultipleObjects(static_cast<DWORD>(Waits.size()),
                                                                 Waits.data(), FALSE, Timeout);
    if (Ready == WAIT_FAILED) {
      return;
    }
    if (Stop != nullptr && Ready == WAIT_OBJECT_0) {
      return;  // Ctrl+C, Ctrl+Break, the console closing
    }
    if (Ready >= WAIT_OBJECT_0 + FirstPipe && Ready < WAIT_OBJECT_0 + PipeEnd &&
        Server.Serve(Ready - WAIT_OBJECT_0 - FirstPipe, AHandlers.Request)) {
      return;
    }
    if (NetworkEvent != nullptr && Ready == WAIT_OBJECT_0 + PipeEnd && Watcher.Drain() &&
        AHandlers.NetworkChanged) {
      AHandlers.NetworkChanged();
    }
    if (Server.DropLate()) {
      return;
    }
    if (Ticks.Due(TSteadyClock::now())) {
      AHandlers.Tick();
      Ticks.Advance(TSteadyClock::now());
    }
  }
}

}  // namespace kelvo
