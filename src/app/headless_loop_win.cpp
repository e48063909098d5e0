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
  const HANDLE stop = static_cast<HANDLE>(ConsoleStopEvent());
  std::string listenError;
  TPipeServer server(ASocketName, listenError);
  if (!listenError.empty() && AHandlers.Warn) {
    AHandlers.Warn(listenError + "; --quit and the settings options cannot reach this relay");
  }

  // The watcher's callbacks set this event; the loop takes the change in on its own thread.
  // The watcher is declared after it, so no callback can outlive the event.
  const THandle changeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));  // auto-reset
  const HANDLE networkEvent = changeEvent.Get();
  TNetworkWatcher watcher([networkEvent] {
    if (networkEvent != nullptr) {
      ::SetEvent(networkEvent);
    }
  });

  // The stop event first, then one event per pipe instance, then the network's.
  std::vector<HANDLE> waits;
  if (stop != nullptr) {
    waits.push_back(stop);
  }
  const std::size_t firstPipe = waits.size();
  waits.insert(waits.end(), server.Events().begin(), server.Events().end());
  const std::size_t pipeEnd = waits.size();
  if (networkEvent != nullptr) {
    waits.push_back(networkEvent);
  }

  TTickSchedule ticks(kHeadlessTick, TSteadyClock::now());
  for (;;) {
    const auto wake = std::min(ticks.Next(), server.NextDeadline());
    const auto timeout = static_cast<DWORD>(MillisecondsUntil(wake));
    const DWORD ready = waits.empty() ? (::Sleep(timeout), WAIT_TIMEOUT)
                                      : ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()),
                                                                 waits.data(), FALSE, timeout);
    if (ready == WAIT_FAILED) {
      return;
    }
    if (stop != nullptr && ready == WAIT_OBJECT_0) {
      return;  // Ctrl+C, Ctrl+Break, the console closing
    }
    if (ready >= WAIT_OBJECT_0 + firstPipe && ready < WAIT_OBJECT_0 + pipeEnd &&
        server.Serve(ready - WAIT_OBJECT_0 - firstPipe, AHandlers.Request)) {
      return;
    }
    if (networkEvent != nullptr && ready == WAIT_OBJECT_0 + pipeEnd && watcher.Drain() &&
        AHandlers.NetworkChanged) {
      AHandlers.NetworkChanged();
    }
    if (server.DropLate()) {
      return;
    }
    if (ticks.Due(TSteadyClock::now())) {
      AHandlers.Tick();
      ticks.Advance(TSteadyClock::now());
    }
  }
}

}  // namespace kelvo
