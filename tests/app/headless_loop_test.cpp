// The headless loop with its clients: silent, slow and foreign ones never hold up the ageing
// tick, the other clients or a stop request.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/control_client.h"
#include "app/headless_loop.h"
#include "other_user_posix.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// A connected client socket, or -1.
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

// What comes back on AFd within ATimeout, up to the end of the connection.
std::string ReadAll(int AFd, std::chrono::milliseconds ATimeout) {
  std::string text;
  const auto end = TClock::now() + ATimeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now());
    pollfd readable{AFd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
      return text;
    }
    char buffer[256];
    const ssize_t n = ::read(AFd, buffer, sizeof buffer);
    if (n <= 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// The loop on a thread of its own with handlers that count ticks and answer "quit" and
// "add-static ..." lines; the stop and reload signals are held back in every thread, as main()
// holds them.
class HeadlessLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/khl_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    fDir = dir;
    fSocket = (fDir / "relay.sock").string();
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &signals, &fPreviousMask), 0);

    fHandlers.Tick = [this] { ++fTicks; };
    fHandlers.Reload = [] {};
    fHandlers.Request = [this](const std::string& ALine, bool& AStop) {
      fLast = ALine;
      ++fRequests;
      AStop = ALine == "quit";
      return std::string(ALine == "1025" ? "" : "0 ok");
    };
    fHandlers.Warn = [](const std::string& AText) { ADD_FAILURE() << AText; };
    fLoop = std::thread([this] {
      RunHeadlessLoop(fSocket, fHandlers);
      fEnded = TClock::now();
      fDone = true;
    });
    for (int i = 0; i < 200 && !fs::exists(fSocket); ++i) {
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(fs::exists(fSocket));
  }
  void TearDown() override {
    if (fLoop.joinable()) {
      if (!fDone) {
        ::kill(::getpid(), SIGTERM);
      }
      fLoop.join();
    }
    // Nothing the test raised is left for the next one.
    sigset_t pending;
    const timespec none{0, 0};
    sigemptyset(&pending);
    sigaddset(&pending, SIGTERM);
    while (::sigtimedwait(&pending, nullptr, &none) > 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &fPreviousMask, nullptr);
    fs::remove_all(fDir);
  }
  bool WaitDone(std::chrono::milliseconds ATimeout) {
    const auto end = TClock::now() + ATimeout;
    while (!fDone && TClock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    return fDone;
  }

  fs::path fDir;
  std::string fSocket;
  sigset_t fPreviousMask{};
  THeadlessHandlers fHandlers;
  std::atomic<int> fTicks{0};
  std::atomic<int> fRequests{0};
  std::string fLast;  // read after the loop has answered
  std::atomic<bool> fDone{false};
  TClock::time_point fEnded;
  std::thread fLoop;
};

// Clients that connect and say nothing, again as soon as they are dropped, on threads of
// their own; stopped and joined with the scope.
class TSilentClients {
 public:
  TSilentClients(const std::string& ASocket, int ACount) {
    for (int i = 0; i < ACount; ++i) {
      fThreads.emplace_back([this, ASocket] {
        while (!fStop) {
          const int fd = Connect(ASocket);
          if (fd < 0) {
            std::this_thread::sleep_for(5ms);
            continue;
          }
          ++fConnections;
          ReadAll(fd, 3s);  // until the loop drops it
          ::close(fd);
        }
      });
    }
  }
  ~TSilentClients() {
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

long long Ms(TClock::duration ADuration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(ADuration).count();
}

TEST_F(HeadlessLoopTest, SilentClientsHoldUpNeitherTheTickNorOtherClientsNorAStop) {
  const TSilentClients silent(fSocket, 4);
  std::this_thread::sleep_for(200ms);
  const int ticksBefore = fTicks;
  const auto measured = TClock::now();

  // A request is answered at once, and a request sent a byte at a time still counts.
  const auto asked = TClock::now();
  EXPECT_EQ(SendControlRequest(fSocket, "add-static 1,a,2", 2s), "0 ok");
  const auto answered = TClock::now() - asked;
  EXPECT_LT(answered, 300ms);
  const int slow = Connect(fSocket);
  for (const char c : std::string("add-static 9,b,8\n")) {
    EXPECT_EQ(::write(slow, &c, 1), 1);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(ReadAll(slow, 2s), "0 ok\n");
  ::close(slow);
  EXPECT_EQ(fLast, "add-static 9,b,8");

  std::this_thread::sleep_for(1s);
  const double ticksPerSecond =
      (fTicks - ticksBefore) / std::chrono::duration<double>(TClock::now() - measured).count();
  EXPECT_GE(ticksPerSecond, 8.0);

  const auto stopAsked = TClock::now();
  ::kill(::getpid(), SIGTERM);
  ASSERT_TRUE(WaitDone(2s));
  const auto stopDelay = fEnded - stopAsked;
  EXPECT_LT(stopDelay, 200ms);
  std::printf(
      "4 silent clients (%d connections): request answered in %lld ms, %.1f ticks/s, stopped "
      "%lld ms after SIGTERM\n",
      silent.Connections(), Ms(answered), ticksPerSecond, Ms(stopDelay));
}

// More idle connections than the loop serves at once: the longest idle one makes room.
TEST_F(HeadlessLoopTest, IdleConnectionsBeyondTheBoundDoNotKeepARequestOut) {
  std::vector<int> idle;
  for (int i = 0; i < 24; ++i) {
    idle.push_back(Connect(fSocket));
    std::this_thread::sleep_for(2ms);
  }
  const auto asked = TClock::now();
  EXPECT_EQ(SendControlRequest(fSocket, "add-static 1,a,2", 2s), "0 ok");
  EXPECT_LT(TClock::now() - asked, 300ms);
  for (const int fd : idle) {
    ::close(fd);
  }
}

TEST_F(HeadlessLoopTest, ASilentClientIsDroppedAndForeignBytesEndTheConnection) {
  const int silentFd = Connect(fSocket);
  const auto connected = TClock::now();
  EXPECT_EQ(ReadAll(silentFd, 3s), "");  // closed by the loop, unanswered
  const auto held = TClock::now() - connected;
  EXPECT_GE(held, 800ms);
  EXPECT_LE(held, 1500ms);
  ::close(silentFd);

  const int foreign = Connect(fSocket);
  ASSERT_EQ(::write(foreign, "GET / HTTP/1.0\r\n", 16), 16);
  const auto sent = TClock::now();
  EXPECT_EQ(ReadAll(foreign, 2s), "");
  EXPECT_LT(TClock::now() - sent, 500ms);
  ::close(foreign);

  // The bare show request ends with the connection and gets no answer.
  const int show = Connect(fSocket);
  ASSERT_EQ(::write(show, "1025", 4), 4);
  ::shutdown(show, SHUT_WR);
  EXPECT_EQ(ReadAll(show, 2s), "");
  ::close(show);
  EXPECT_EQ(fRequests, 1);
  EXPECT_EQ(fLast, "1025");
  EXPECT_FALSE(fDone);
}

TEST_F(HeadlessLoopTest, AQuitIsAnsweredBeforeTheLoopEnds) {
  EXPECT_EQ(SendControlRequest(fSocket, "quit", 2s), "0 ok");
  EXPECT_TRUE(WaitDone(1s));
  EXPECT_FALSE(fs::exists(fSocket)) << "the socket goes with the loop";
}

TEST_F(HeadlessLoopTest, AClientOfAnotherUserIsNotServed) {
  std::string why;
  if (!test::CanActAsOtherUser(why)) {
    GTEST_SKIP() << why;
  }
  // Opened up, so that only the loop's own check stands in the way.
  ::chmod(fDir.c_str(), 0777);
  ::chmod(fSocket.c_str(), 0777);
  // The loop's thread runs on: the child makes only calls that are safe after fork.
  const char* socket = fSocket.c_str();
  const int answered = test::RunAsOtherUser([socket] {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket, sizeof(address.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      return 2;
    }
    // The loop may have closed the connection already.
    [[maybe_unused]] const ssize_t sent = ::send(fd, "quit\n", 5, MSG_NOSIGNAL);
    pollfd readable{fd, POLLIN, 0};
    char answer[16];
    return ::poll(&readable, 1, 2000) > 0 && ::read(fd, answer, sizeof answer) > 0 ? 1 : 0;
  });
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(fRequests, 0);
  EXPECT_FALSE(fDone);
}

// The process umask, as the kernel reports it, or -1.
int ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("Umask:")) {
      return std::stoi(line.substr(6), nullptr, 8);
    }
  }
  return -1;
}

// The socket is this user's alone however lax the umask, and the umask, which every thread
// shares, is never changed to get there: the listener may create the debug log meanwhile.
TEST_F(HeadlessLoopTest, TheSocketIsPrivateWithoutChangingTheProcessUmask) {
  ASSERT_EQ(SendControlRequest(fSocket, "quit", 2s), "0 ok");
  ASSERT_TRUE(WaitDone(1s));
  fLoop.join();
  if (ProcessUmask() < 0) {
    GTEST_SKIP() << "needs /proc/self/status with a Umask line";
  }
  const mode_t previous = ::umask(0);
  std::atomic<bool> watching{true};
  std::atomic<int> seen{0};
  std::thread watcher([&] {
    while (watching) {
      if (const int mask = ProcessUmask(); mask != 0) {
        seen = mask;
      }
    }
  });
  // Bounded: 30 starts, or 5 seconds.
  const auto end = TClock::now() + 5s;
  for (int i = 0; i < 30 && TClock::now() < end; ++i) {
    fDone = false;
    std::thread loop([this] {
      RunHeadlessLoop(fSocket, fHandlers);
      fDone = true;
    });
    for (int j = 0; j < 200 && !fs::exists(fSocket); ++j) {
      std::this_thread::sleep_for(1ms);
    }
    struct stat info {};
    const bool made = ::stat(fSocket.c_str(), &info) == 0;
    EXPECT_TRUE(made) << i;
    if (made) {
      EXPECT_TRUE(S_ISSOCK(info.st_mode));
      EXPECT_EQ(info.st_mode & 0600, 0600u) << i;  // this user reads and writes
      EXPECT_EQ(info.st_mode & 077, 0u) << i;      // nobody else anything
    }
    EXPECT_EQ(SendControlRequest(fSocket, "quit", 2s), "0 ok");
    loop.join();
  }
  watching = false;
  watcher.join();
  ::umask(previous);
  EXPECT_EQ(seen, 0) << "another thread saw the umask changed";
}

}  // namespace
}  // namespace kelvo
