// SIGINT and SIGTERM are blocked in the main thread and taken synchronously with sigtimedwait;
// threads started afterwards inherit the blocked mask and never see them.
#include <pthread.h>
#include <signal.h>

#include <ctime>

#include "app/stop_request.h"

namespace kelvo {

struct TStopRequest::TImpl {
  sigset_t StopSignals;
  sigset_t Previous;
  bool Requested = false;
};

TStopRequest::TStopRequest() : fImpl(std::make_unique<TImpl>()) {
  sigemptyset(&fImpl->StopSignals);
  sigaddset(&fImpl->StopSignals, SIGINT);
  sigaddset(&fImpl->StopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &fImpl->StopSignals, &fImpl->Previous);
}

TStopRequest::~TStopRequest() {
  // A stop that arrives after this point keeps its default meaning: the process ends.
  pthread_sigmask(SIG_SETMASK, &fImpl->Previous, nullptr);
}

bool TStopRequest::Wait(std::chrono::milliseconds AWait) {
  if (fImpl->Requested) {
    return true;
  }
  const auto Seconds = std::chrono::duration_cast<std::chrono::seconds>(AWait);
  const timespec Timeout{static_cast<std::time_t>(Seconds.count()),
                         static_cast<long>((AWait - Seconds).count() * 1'000'000)};
  const int Signal = sigtimedwait(&fImpl->StopSignals, nullptr, &Timeout);
  fImpl->Requested = Signal == SIGINT || Signal == SIGTERM;
  return fImpl->Requested;
}

void TStopRequest::Done() {}

}  // namespace kelvo
