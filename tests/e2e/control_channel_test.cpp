// The running relay's control channel against clients that hang and against another local
// user: held connections delay neither a stop nor a settings change; another user's folder,
// record and socket neither keep the relay from starting nor answer for it. Real processes.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/instance_guard.h"
#include "support/relay_process.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

const TBytes kPayload{0x01, 0x02};

long long Ms(TClock::duration ADuration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(ADuration).count();
}

int Connect(const std::string& ASocket) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, ASocket.c_str(), sizeof(address.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Two clients that connect and say nothing, again as soon as they are dropped.
class THeldConnections {
 public:
  explicit THeldConnections(const std::string& ASocket) {
    for (int i = 0; i < 2; ++i) {
      fThreads.emplace_back([this, ASocket] {
        while (!fStop) {
          const int fd = Connect(ASocket);
          if (fd >= 0) {
            ++fConnections;
            pollfd closed{fd, POLLIN, 0};
            while (!fStop && ::poll(&closed, 1, 50) == 0) {
            }
            ::close(fd);
          } else {
            std::this_thread::sleep_for(5ms);
          }
        }
      });
    }
  }
  ~THeldConnections() {
    fStop = true;
    for (auto& thread : fThreads) {
      thread.join();
    }
  }
  int Connections() const { return fConnections; }

 private:
  std::atomic<bool> fStop{false};
  std::atomic<int> fConnections{0};
  std::vector<std::thread> fThreads;
};

TEST(ControlChannel, HeldConnectionsDelayNeitherAChangeNorAStop) {
  TConfigHome home;
  TUdpPeer controller;
  home.WriteSettings({});
  TRelayProcess relay;
  ASSERT_NE(relay.Start(home, {}).find("listening on"), std::string::npos) << relay.Output();
  const std::string socket = TInstanceGuard(RelayExecutable()).ShowRequestName();
  ASSERT_FALSE(socket.empty());
  const THeldConnections held(socket);
  std::this_thread::sleep_for(300ms);

  const auto asked = TClock::now();
  const TCommandResult added = RunRelayCommand(
      home, {"--add-static", "1001,127.0.0.1," + std::to_string(controller.Port())});
  const auto changeTime = TClock::now() - asked;
  EXPECT_EQ(added.ExitCode, 0) << added.Err;
  EXPECT_LT(changeTime, 1s);
  TUdpPeer app;
  app.SendToRelay(MakeFrame(5, 1001, 0, kPayload));
  EXPECT_EQ(controller.Receive(2s), MakeFrame(5, 1001, 0, kPayload));

  const auto stopping = TClock::now();
  EXPECT_EQ(relay.Stop(SIGTERM), 0) << relay.Output();
  const auto stopTime = TClock::now() - stopping;
  EXPECT_LT(stopTime, 1s);
  std::printf("2 held connections (%d made): --add-static took %lld ms, SIGTERM to exit %lld ms\n",
              held.Connections(), Ms(changeTime), Ms(stopTime));
}

// Another user (a user id that no account has, in a child process) who has made AFolder first
// (0777), planted the records (0666, holding their gate byte) and listens on ASocket, answering
// "0 ok" to anything. Its exit code tells whether anybody sent it a byte.
class TSquatter {
 public:
  TSquatter(const std::string& AFolder, const std::string& ASocket,
            const std::vector<std::string>& ARecords)
      : fRecords(ARecords) {
    int report[2];
    int finish[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(finish, O_CLOEXEC) != 0) {
      return;
    }
    fPid = ::fork();
    if (fPid == 0) {
      ::close(report[0]);
      ::close(finish[1]);
      constexpr uid_t kOther = 61999;
      if (::setgroups(0, nullptr) != 0 || ::setresgid(kOther, kOther, kOther) != 0 ||
          ::setresuid(kOther, kOther, kOther) != 0) {
        ::_exit(99);
      }
      Run(AFolder, ASocket, report[1], finish[0]);
    }
    ::close(report[1]);
    ::close(finish[0]);
    fFinish = finish[1];
    char ready = 0;
    fReady = fPid > 0 && ::read(report[0], &ready, 1) == 1;
    ::close(report[0]);
  }
  ~TSquatter() { Finish(); }
  TSquatter(const TSquatter&) = delete;
  TSquatter& operator=(const TSquatter&) = delete;

  static constexpr uid_t Uid() { return 61999; }
  bool Ready() const { return fReady; }
  // Ends the other user's process; 0 when nobody sent it anything, -1 if it had to be killed.
  int Finish() {
    if (fPid <= 0) {
      return -1;
    }
    ::close(fFinish);
    int status = 0;
    for (int i = 0; i < 300 && ::waitpid(fPid, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    if (::waitpid(fPid, &status, WNOHANG) == 0) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, &status, 0);
    }
    fPid = -1;
    for (const std::string& record : fRecords) {
      ::unlink(record.c_str());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  [[noreturn]] void Run(const std::string& AFolder, const std::string& ASocket, int AReport,
                        int AFinish) {
    ::mkdir(AFolder.c_str(), 0777);
    ::chmod(AFolder.c_str(), 0777);
    struct flock gate {};
    gate.l_type = F_WRLCK;
    gate.l_start = 64;
    gate.l_len = 1;
    for (const std::string& path : fRecords) {
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
      ::fchmod(fd, 0666);
      [[maybe_unused]] const int sized = ::ftruncate(fd, 8);
      ::fcntl(fd, F_OFD_SETLK, &gate);
    }
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, ASocket.c_str(), sizeof(address.sun_path) - 1);
    ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::chmod(ASocket.c_str(), 0777);
    ::listen(listener, 8);
    [[maybe_unused]] const ssize_t ready = ::write(AReport, "r", 1);
    long received = 0;
    for (;;) {
      pollfd fds[2] = {{listener, POLLIN, 0}, {AFinish, POLLIN, 0}};
      ::poll(fds, 2, 1000);
      if (fds[1].revents != 0) {
        break;
      }
      if (fds[0].revents == 0) {
        continue;
      }
      const int client = ::accept(listener, nullptr, nullptr);
      char buffer[512];
      pollfd readable{client, POLLIN, 0};
      while (client >= 0 && ::poll(&readable, 1, 200) > 0) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) {
          break;
        }
        received += n;
      }
      [[maybe_unused]] const ssize_t sent = ::send(client, "0 ok\n", 5, MSG_NOSIGNAL);
      ::close(client);
    }
    ::_exit(received == 0 ? 0 : 1);
  }

  std::vector<std::string> fRecords;
  pid_t fPid = -1;
  int fFinish = -1;
  bool fReady = false;
};

// The audit's attack, replayed: before the relay's first start another user makes the folder
// in /tmp (here a stand-in as TMPDIR, without XDG_RUNTIME_DIR), plants the record there and at
// its old place in /dev/shm (holding its gate byte), and listens where the socket would be,
// answering "0 ok" to anything.
TEST(ControlChannel, AnotherUserNeitherKeepsTheRelayFromStartingNorAnswersForIt) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: the test acts as a second local user";
  }
  char baseName[] = "/tmp/kcce_XXXXXX";
  ASSERT_NE(::mkdtemp(baseName), nullptr);
  const fs::path base = baseName;
  ::chmod(baseName, 01777);
  const std::vector<std::string> env = {"TMPDIR=" + base.string(), "XDG_RUNTIME_DIR"};

  // The socket's and the record's names, as a relay of this user would have them.
  const std::string executable = RelayExecutable();
  std::string socketName;
  {
    char other[] = "/tmp/kccn_XXXXXX";
    ASSERT_NE(::mkdtemp(other), nullptr);
    const char* tmp = std::getenv("TMPDIR");
    const std::string oldTmp = tmp != nullptr ? tmp : "";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string oldRuntime = runtime != nullptr ? runtime : "";
    ::setenv("TMPDIR", other, 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    socketName = fs::path(TInstanceGuard(executable).ShowRequestName()).filename().string();
    oldTmp.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", oldTmp.c_str(), 1);
    if (!oldRuntime.empty()) {
      ::setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
    }
    fs::remove_all(other);
  }
  std::string escaped;
  for (const char c : executable) {
    escaped += c == '/' ? std::string("%2F") : c == '%' ? std::string("%25") : std::string(1, c);
  }
  const std::string folder = (base / ("kelvorelay-" + std::to_string(::geteuid()))).string();
  const std::string socket = folder + "/" + socketName;
  const std::string record = folder + "/kelvorelay." + escaped;
  const std::string oldRecord =
      "/dev/shm/kelvorelay." + std::to_string(::geteuid()) + "." + escaped;

  TSquatter squatter(folder, socket, {record, oldRecord});
  ASSERT_TRUE(squatter.Ready());

  TConfigHome home;
  TUdpPeer controller;
  home.WriteSettings({"1001,127.0.0.1," + std::to_string(controller.Port())});
  TRelayProcess relay;
  const auto started = TClock::now();
  const std::string line = relay.StartProgram(
      executable, {"--headless"}, home, {"listening on", "Error opening port"}, {env, "", ""});
  const auto startTime = TClock::now() - started;
  EXPECT_NE(line.find("listening on"), std::string::npos) << relay.Output();
  EXPECT_TRUE(
      relay.WaitForOutput(folder + " belongs to user " + std::to_string(TSquatter::Uid()), 0, 2s))
      << relay.Output();
  TUdpPeer app;
  app.SendToRelay(MakeFrame(5, 1001, 0, kPayload));
  EXPECT_EQ(controller.Receive(2s), MakeFrame(5, 1001, 0, kPayload)) << "the relay relays";

  // The settings options cannot tell whether a relay runs: they refuse, and say why.
  const TCommandResult added =
      RunRelayCommand(home, {"--add-static", "7,127.0.0.1,9"}, {env, "", ""});
  EXPECT_EQ(added.ExitCode, 1);
  EXPECT_NE(added.Err.find("belongs to user"), std::string::npos) << added.Err;
  EXPECT_EQ(home.ReadSettings().find("7,127.0.0.1,9"), std::string::npos);
  EXPECT_EQ(relay.Stop(SIGTERM), 0) << relay.Output();

  EXPECT_EQ(squatter.Finish(), 0) << "the squatter was sent something";
  fs::remove_all(base);
  std::printf("start beside another user's folder, record and socket: listening after %lld ms\n",
              Ms(startTime));
}

}  // namespace
}  // namespace kelvo::test
