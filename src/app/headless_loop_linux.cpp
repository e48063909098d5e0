// The loop on Linux: one poll over a signalfd (the signals stay blocked in every thread, see
// process_signals_posix.cpp), the listening local socket and every connected client, with the
// ageing tick (or the nearest client deadline) as timeout. A client is read and answered as
// its bytes come, never waited for: a silent one holds nothing up and is dropped at its
// deadline.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "app/control_requests.h"
#include "app/headless_loop.h"
#include "app/runtime_folder_posix.h"
#include "app/tick_schedule.h"
#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"
#include "base/wait_time.h"
#include "net/network_watcher.h"
#include "net/network_watcher_linux.h"

namespace kelvo {

namespace {

using TSteadyClock = std::chrono::steady_clock;
// From its connection to the end of its answer a client gets this long (the clients are this
// program's own short commands).
constexpr std::chrono::milliseconds kClientTime(1000);
// Clients served at once; past it the longest idle one makes room for a new one.
constexpr std::size_t kMaxClients = 16;

// The listening socket, in the user's private folder; the guard has admitted only us, so a
// socket file left by a killed instance is ours to replace. Removed again when the loop ends.
class TListener {
 public:
  TListener(const std::string& AName, std::string& AError) : fName(AName) {
    if (AName.empty()) {
      std::string why;
      PrivateRuntimeFolder(why);
      AError = "no folder of this user's own for the instance record and the local socket (" + why +
               "): another start is not refused";
      return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (AName.size() >= sizeof(address.sun_path)) {
      AError = "the socket name " + AName + " is too long";
      return;
    }
    std::memcpy(address.sun_path, AName.c_str(), AName.size() + 1);
    TFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen()) {
      AError = std::string("cannot create the local socket: ") + ErrnoText(errno);
      return;
    }
    unlink(AName.c_str());
    // Only this user may talk to the relay. The socket gets its mode right after bind rather
    // than through umask, which is the whole process's: the listener may be creating the debug
    // log at this moment. Until then the folder, this user's alone, keeps everyone else out.
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(AName.c_str(), 0600) != 0 || listen(fd.Get(), 8) != 0) {
      AError = "cannot listen on " + AName + ": " + ErrnoText(errno);
      return;
    }
    fFd = std::move(fd);
  }
  ~TListener() {
    if (fFd.IsOpen()) {
      fFd.Reset();
      unlink(fName.c_str());
    }
  }
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;
  int Fd() const { return fFd.Get(); }

 private:
  std::string fName;
  TFd fFd;
};

// One connected client: what it sent so far, the answer still to go out, its deadline.
struct TClient {
  explicit TClient(int AFd) : Fd(AFd), Deadline(TSteadyClock::now() + kClientTime) {}
  TFd Fd;
  TSteadyClock::time_point Deadline;
  std::string Received;
  std::string Answer;     // the part not sent yet
  bool Answered = false;  // the request has been handled; only Answer is left to send
  bool StopAfter = false;
  bool Done = false;  // to be closed
};

class TControlLoop {
 public:
  TControlLoop(const TListener& AListener, const THeadlessHandlers& AHandlers)
      : fListener(AListener), fHandlers(AHandlers) {
    if (!fWatcher.Error().empty() && fHandlers.Warn) {
      fHandlers.Warn(fWatcher.Error() + "; network changes are noticed by a re-check every 2 s");
    }
  }

  // The poll set's fixed descriptors come first, named by these slots; one entry per client
  // follows them.
  enum TSlot : std::size_t { slSignals, slListener, slWatcher, slFixed };

  // Runs until a stop signal, or a stop request whose answer is out.
  void Run(int ASignalFd);

 private:
  // Reads what the client sent; handles its request once it is whole.
  void Receive(TClient& AClient);
  void Handle(TClient& AClient, const std::string& ALine);
  // Sends what the socket takes now.
  void Send(TClient& AClient);
  void Accept();
  // False when the loop must end.
  bool HandleSignals(int ASignalFd);

  const TListener& fListener;
  const THeadlessHandlers& fHandlers;
  TNetworkWatcher fWatcher;  // links and addresses of the machine
  std::vector<std::unique_ptr<TClient>> fClients;
  bool fStop = false;  // a stop request's answer is out (or cannot go out)
};

void TControlLoop::Receive(TClient& AClient) {
  for (;;) {
    char buffer[16384];
    const ssize_t n = recv(AClient.Fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      AClient.Done = errno != EAGAIN && errno != EWOULDBLOCK;
      return;
    }
    if (n == 0) {
      // The bare show request ends with the connection rather than a line end.
      if (AClient.Received.empty() || !CouldBeControlRequest(AClient.Received)) {
        AClient.Done = true;
      } else {
        Handle(AClient, AClient.Received);
      }
      return;
    }
    // A "setup" line may be megabytes long: look for its end only in what just came, and
    // copy it once.
    const std::size_t searched = AClient.Received.size();
    AClient.Received.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = AClient.Received.find('\n', searched);
    const std::string_view line = std::string_view(AClient.Received).substr(0, end);
    if (!CouldBeControlRequest(line)) {
      AClient.Done = true;  // not one of our clients
      return;
    }
    if (end != std::string::npos) {
      Handle(AClient, std::string(line));
      return;
    }
  }
}

void TControlLoop::Handle(TClient& AClient, const std::string& ALine) {
  AClient.Answered = true;
  bool stop = false;
  const std::string answer = fHandlers.Request(ALine, stop);
  AClient.StopAfter = stop;
  if (answer.empty()) {
    AClient.Done = true;
    fStop = fStop || stop;
    return;
  }
  AClient.Answer = answer + "\n";
  Send(AClient);
}

void TControlLoop::Send(TClient& AClient) {
  while (!AClient.Answer.empty()) {
    const ssize_t n = send(AClient.Fd.Get(), AClient.Answer.data(), AClient.Answer.size(),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;  // the rest when the socket takes it
    }
    if (n <= 0) {
      break;  // the client is gone
    }
    AClient.Answer.erase(0, static_cast<std::size_t>(n));
  }
  AClient.Done = true;
  fStop = fStop || AClient.StopAfter;
}

void TControlLoop::Accept() {
  for (;;) {
    auto client = std::make_unique<TClient>(
        accept4(fListener.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (client->Fd.Get() < 0) {
      return;
    }
    // The folder lets nobody else in; a client of another user (root) is not served either.
    if (std::string why; !PeerIsThisUser(client->Fd.Get(), why)) {
      continue;
    }
    if (fClients.size() >= kMaxClients) {
      // Full: the client that has waited longest without a request makes room, so a burst of
      // idle connections cannot keep a real request out until their time is up.
      const auto idle =
          std::min_element(fClients.begin(), fClients.end(), [](const auto& A, const auto& B) {
            return (A->Answered ? 1 : 0) < (B->Answered ? 1 : 0) ||
                   (A->Answered == B->Answered && A->Deadline < B->Deadline);
          });
      if ((*idle)->Answered) {
        continue;  // every client is being answered: this one tries again
      }
      fClients.erase(idle);
    }
    fClients.push_back(std::move(client));
  }
}

bool TControlLoop::HandleSignals(int ASignalFd) {
  signalfd_siginfo info{};
  while (read(ASignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo != SIGHUP) {
      return false;  // SIGINT, SIGTERM
    }
    fHandlers.Reload();
  }
  return true;
}

void TControlLoop::Run(int ASignalFd) {
  std::vector<pollfd> fds(slFixed);
  TTickSchedule ticks(kHeadlessTick, TSteadyClock::now());
  for (;;) {
    fds.resize(slFixed);
    fds[slSignals] = {ASignalFd, POLLIN, 0};
    fds[slListener] = {fListener.Fd(), POLLIN, 0};
    fds[slWatcher] = {WatcherDescriptor(fWatcher), POLLIN, 0};
    auto wake = ticks.Next();
    for (const auto& client : fClients) {
      fds.push_back({client->Fd.Get(), static_cast<short>(client->Answered ? POLLOUT : POLLIN), 0});
      wake = std::min(wake, client->Deadline);
    }
    const int ready = poll(fds.data(), fds.size(), MillisecondsUntil(wake));
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (ready > 0 && (fds[slSignals].revents & POLLIN) != 0 && !HandleSignals(ASignalFd)) {
      return;
    }
    if (ready > 0 && (fds[slWatcher].revents & POLLIN) != 0 && fWatcher.Drain() &&
        fHandlers.NetworkChanged) {
      fHandlers.NetworkChanged();
    }
    const auto now = TSteadyClock::now();
    for (std::size_t i = 0; i < fClients.size(); ++i) {
      TClient& client = *fClients[i];
      const short events = ready > 0 ? fds[slFixed + i].revents : 0;
      if (events != 0 && !client.Answered) {
        Receive(client);
      } else if (events != 0) {
        Send(client);
      }
      if (!client.Done && now >= client.Deadline) {
        client.Done = true;
        fStop = fStop || client.StopAfter;
      }
    }
    std::erase_if(fClients, [](const auto& AClient) { return AClient->Done; });
    if (fStop) {
      return;
    }
    if (ready > 0 && (fds[slListener].revents & POLLIN) != 0) {
      Accept();
    }
    if (ticks.Due(TSteadyClock::now())) {
      fHandlers.Tick();
      ticks.Advance(TSteadyClock::now());
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
  TControlLoop(listener, AHandlers).Run(signalFd.Get());
}

}  // namespace kelvo
