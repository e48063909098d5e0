#include <signal.h>

#include "app/process_signals.h"

namespace kelvo {

namespace {

sigset_t StopAndReloadSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

void HoldStopRequests() {
  // Blocked here, every thread started later inherits the mask: only the headless loop (via
  // its signal descriptor) or the window's notifier ever takes these signals.
  const sigset_t signals = StopAndReloadSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void ReleaseStopRequests() {
  const sigset_t signals = StopAndReloadSignals();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace kelvo
