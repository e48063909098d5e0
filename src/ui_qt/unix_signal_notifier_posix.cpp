// A signal handler may only do async-signal-safe work: it writes the signal number into one end
// of a socket pair, and the event loop reads it from the other.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include "base/file_descriptor.h"
#include "ui_qt/unix_signal_notifier.h"

namespace kelvo {

namespace {

TFd gSignalFds[2];  // [0] written by the handler, [1] read by the event loop

void HandleSignal(int ASignal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(ASignal);
  [[maybe_unused]] const ssize_t written = write(gSignalFds[0].Get(), &number, 1);
  errno = savedErrno;
}

void InstallHandler(int ASignal, void (*AHandler)(int)) {
  struct sigaction action {};
  action.sa_handler = AHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(ASignal, &action, nullptr);
}

sigset_t HandledSignals() {
  sigset_t handled;
  sigemptyset(&handled);
  sigaddset(&handled, SIGINT);
  sigaddset(&handled, SIGTERM);
  sigaddset(&handled, SIGHUP);
  return handled;
}

}  // namespace

TUnixSignalNotifier::TUnixSignalNotifier(QObject* AParent) : QObject(AParent) {
  setObjectName(QStringLiteral("UnixSignalNotifier"));
  if (gSignalFds[0].IsOpen()) {
    throw std::logic_error("only one signal notifier may exist at a time");
  }
  int pair[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
    throw std::runtime_error("cannot create the signal socket pair");
  }
  TFd writeEnd(pair[0]);
  TFd readEnd(pair[1]);
  fNotifier = new QSocketNotifier(readEnd.Get(), QSocketNotifier::Read, this);
  // Published only now that nothing can fail any more: the handlers write to them.
  gSignalFds[0] = std::move(writeEnd);
  gSignalFds[1] = std::move(readEnd);
  connect(fNotifier, &QSocketNotifier::activated, this, &TUnixSignalNotifier::SocketActivated);
  InstallHandler(SIGINT, HandleSignal);
  InstallHandler(SIGTERM, HandleSignal);
  InstallHandler(SIGHUP, HandleSignal);
  const sigset_t handled = HandledSignals();
  pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
}

TUnixSignalNotifier::~TUnixSignalNotifier() {
  const sigset_t handled = HandledSignals();
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  InstallHandler(SIGINT, SIG_DFL);
  InstallHandler(SIGTERM, SIG_DFL);
  InstallHandler(SIGHUP, SIG_DFL);
  fNotifier->setEnabled(false);
  gSignalFds[0].Reset();
  gSignalFds[1].Reset();
}

void TUnixSignalNotifier::SocketActivated() {
  unsigned char number = 0;
  while (read(gSignalFds[1].Get(), &number, 1) == 1) {
    if (number == SIGHUP) {
      emit ReloadRequested();
    } else {
      emit Triggered(number);
    }
  }
}

}  // namespace kelvo
