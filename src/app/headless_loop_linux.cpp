// The loop on Linux: one poll over a signalfd (the signals stay blocked in every thread, see
// process_signals_posix.cpp) and the listening local socket, with the ageing tick as timeout.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/control_requests.h"
#include "app/file_descriptor.h"
#include "app/headless_loop.h"
#include "app/wait_time.h"
#include "net/network_watcher.h"
#include "net/network_watcher_linux.h"

namespace kelvo {

namespace {

using TSteadyClock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTick(100);
// A client gets this long to send its line; meanwhile the loop waits (the clients are this
// program's own short commands).
constexpr std::chrono::milliseconds kRequestTimeout(1000);

// The listening socket; the guard has admitted only us, so a socket file left by a killed
// instance is ours to replace. Removed again when the loop ends.
class TListener {
 public:
  TListener(const std::string& AName, std::string& AError) : fName(AName) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (AName.size() >= sizeof(address.sun_path)) {
      AError = "the socket name " + AName + " is too long";
      return;
    }
    std::memcpy(address.sun_path, AName.c_str(), AName.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      AError = std::string("cannot create the local socket: ") + std::strerror(errno);
      return;
    }
    unlink(AName.c_str());
    // Only this user may talk to the relay: the socket is made with no access for others.
    const mode_t previous = umask(0077);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    umask(previous);
    if (bound != 0 || listen(fd, 8) != 0) {
      AError = "cannot listen on " + AName + ": " + std::strerror(errno);
      close(fd);
      return;
    }
    fFd = fd;
  }
  ~TListener() {
    if (fFd >= 0) {
      close(fFd);
      unlink(fName.c_str());
    }
  }
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;
  int Fd() const { return fFd; }

 private:
  std::string fName;
  int fFd = -1;
};

// Reads one line (or what came before the client closed) within kRequestTimeout.
bool ReadRequestLine(int AFd, std::string& ALine) {
  const auto deadline = TSteadyClock::now() + kRequestTimeout;
  std::string received;
  for (;;) {
    pollfd readable{AFd, POLLIN, 0};
    const int ready = poll(&readable, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return false;
    }
    char buffer[1024];
    const ssize_t n = recv(AFd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n <= 0) {
      ALine = received;  // the bare show request ends with the connection
      return !received.empty();
    }
    received.append(buffer, static_cast<std::size_t>(n));
    if (const std::size_t end = received.find('\n'); end != std::string::npos) {
      ALine = received.substr(0, end);
      return true;
    }
    if (!CouldBeControlRequest(received)) {
      return false;  // not one of our clients
    }
  }
}

void SendAnswer(int AFd, const std::string& AAnswer) {
  const std::string line = AAnswer + "\n";
  std::size_t sent = 0;
  const auto deadline = TSteadyClock::now() + kRequestTimeout;
  while (sent < line.size() && TSteadyClock::now() < deadline) {
    const ssize_t n =
        send(AFd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd writable{AFd, POLLOUT, 0};
      poll(&writable, 1, 100);
    } else {
      return;
    }
  }
}

// Answers every waiting client; true when one asked the loop to stop.
bool AnswerClients(int AListener, const THeadlessHandlers& AHandlers) {
  bool stop = false;
  for (;;) {
    const TFd client(accept4(AListener, nullptr, nullptr, SOCK_CLOEXEC));
    if (client.Get() < 0) {
      return stop;
    }
    std::string line;
    if (!ReadRequestLine(client.Get(), line)) {
      continue;
    }
    const std::string answer = AHandlers.Request(line, stop);
    if (!answer.empty()) {
      SendAnswer(client.Get(), answer);
    }
    if (stop) {
      return true;
    }
  }
}

}  // namespace

void RunHeadlessLoop(const std::string& ASocketName, const THeadlessHandlers& AHandlers) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  // Blocked already since main's first statement; again here so the loop works on its own.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const TFd signalFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));

  std::string listenError;
  const TListener listener(ASocketName, listenError);
  if (!listenError.empty() && AHandlers.Warn) {
    AHandlers.Warn(listenError + "; --quit and the settings options cannot reach this relay");
  }

  TNetworkWatcher watcher;
  if (!watcher.Error().empty() && AHandlers.Warn) {
    AHandlers.Warn(watcher.Error() + "; network changes are noticed by a re-check every 2 s");
  }

  auto nextTick = TSteadyClock::now() + kTick;
  for (;;) {
    pollfd fds[3] = {{signalFd.Get(), POLLIN, 0},
                     {listener.Fd(), POLLIN, 0},
                     {WatcherDescriptor(watcher), POLLIN, 0}};
    const int ready = poll(fds, 3, MillisecondsUntil(nextTick));
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      while (read(signalFd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
          AHandlers.Reload();
        } else {
          return;  // SIGINT, SIGTERM
        }
      }
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0 && AnswerClients(listener.Fd(), AHandlers)) {
      return;
    }
    if (ready > 0 && (fds[2].revents & POLLIN) != 0 && watcher.Drain() &&
        AHandlers.NetworkChanged) {
      AHandlers.NetworkChanged();
    }
    if (TSteadyClock::now() >= nextTick) {
      AHandlers.Tick();
      // A tick late by more than a period is not made up for: ageing counts ticks, and a
      // burst would age the tables faster than time passes.
      nextTick += kTick;
      if (nextTick < TSteadyClock::now()) {
        nextTick = TSteadyClock::now() + kTick;
      }
    }
  }
}

}  // namespace kelvo
