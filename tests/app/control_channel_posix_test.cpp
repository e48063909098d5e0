// Where the single-instance record and the local socket live, and that nobody but this user can
// create, hold, answer or refuse them: the private folder, the record's checks, the bounded
// gate, the peer check of both ends of the socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/control_client.h"
#include "app/instance_guard.h"
#include "other_user_posix.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sets (or with nullopt removes) an environment variable for one scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, std::optional<std::string> AValue) : fName(AName) {
    if (const char* old = std::getenv(AName)) {
      fOld = old;
    }
    if (AValue) {
      ::setenv(AName, AValue->c_str(), 1);
    } else {
      ::unsetenv(AName);
    }
  }
  ~TScopedEnv() {
    if (fOld) {
      ::setenv(fName, fOld->c_str(), 1);
    } else {
      ::unsetenv(fName);
    }
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* fName;
  std::optional<std::string> fOld;
};

// A fresh stand-in for /tmp (sticky, open to every user) as TMPDIR, without XDG_RUNTIME_DIR:
// the relay's folder is made in it.
class ControlChannelTest : public ::testing::Test {
 protected:
  ControlChannelTest()
      : fBase(MakeBase()), fTmp("TMPDIR", fBase.string()), fRuntime("XDG_RUNTIME_DIR", {}) {}
  ~ControlChannelTest() override { fs::remove_all(fBase); }

  static fs::path MakeBase() {
    char name[] = "/tmp/kcc_XXXXXX";
    if (::mkdtemp(name) == nullptr || ::chmod(name, 01777) != 0) {
      throw std::runtime_error("cannot make the test folder");
    }
    return name;
  }
  fs::path Folder() const { return fBase / ("kelvorelay-" + std::to_string(::geteuid())); }
  std::string Path(const char* AName) const {
    return "/opt/kelvo channel test " + std::to_string(::getpid()) + "/" + AName + "/kelvorelay";
  }
  // The record's file for APath, as the guard names it.
  fs::path Record(const std::string& APath) const {
    std::string escaped;
    for (const char c : APath) {
      escaped += c == '/' ? std::string("%2F") : c == '%' ? std::string("%25") : std::string(1, c);
    }
    return Folder() / ("kelvorelay." + escaped);
  }

  fs::path fBase;
  TScopedEnv fTmp;
  TScopedEnv fRuntime;
};

bool Refused(TInstanceGuard& AGuard) {
  return AGuard.RestoreIfRunning("TfmMain", "KelvoRelay v1.0.2", 1);
}

TEST_F(ControlChannelTest, RecordAndSocketLiveInAFolderOfThisUsersAlone) {
  const std::string path = Path("folder");
  {
    const mode_t previous = ::umask(0);  // a lax umask changes nothing
    TInstanceGuard first(path);
    ::umask(previous);
    ASSERT_FALSE(Refused(first));
    EXPECT_EQ(first.ChannelError(), "");
    EXPECT_EQ(fs::path(first.ShowRequestName()).parent_path(), Folder());
    struct stat info {};
    ASSERT_EQ(::lstat(Folder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::lstat(Record(path).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    TInstanceGuard second(path);
    EXPECT_TRUE(Refused(second));
  }
  EXPECT_FALSE(fs::exists(Record(path))) << "the last instance removes the record";

  // A runtime folder that others may use is passed over; a private one is taken.
  const fs::path runtime = fBase / "run";
  fs::create_directory(runtime);
  ::chmod(runtime.c_str(), 0755);
  {
    const TScopedEnv env("XDG_RUNTIME_DIR", runtime.string());
    EXPECT_EQ(fs::path(TInstanceGuard(path).ShowRequestName()).parent_path(), Folder());
    ::chmod(runtime.c_str(), 0700);
    EXPECT_EQ(fs::path(TInstanceGuard(path).ShowRequestName()).parent_path(), runtime);
  }
}

// A folder of the name that is not this user's private one is never used; the start runs
// anyway (unguarded, and it says why), while a settings change refuses to guess.
TEST_F(ControlChannelTest, AFolderThatIsNotPrivateIsRefusedAndTheStartStillRuns) {
  struct TCase {
    const char* Label;
    void (*Plant)(const fs::path&);
    const char* Reason;
  };
  const TCase cases[] = {
      {"open to others",
       [](const fs::path& AFolder) {
         fs::create_directory(AFolder);
         ::chmod(AFolder.c_str(), 0755);
       },
       "can be used by other users (mode 0755)"},
      {"a link to a private folder",
       [](const fs::path& AFolder) {
         fs::create_directory(AFolder.string() + ".real");
         ::chmod((AFolder.string() + ".real").c_str(), 0700);
         fs::create_directory_symlink(AFolder.string() + ".real", AFolder);
       },
       "is a symbolic link"},
      {"a file", [](const fs::path& AFolder) { std::ofstream(AFolder) << "x"; }, "is not a folder"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    fs::remove_all(Folder());
    fs::remove_all(Folder().string() + ".real");
    c.Plant(Folder());
    const std::string path = Path("refused");
    TInstanceGuard guard(path);
    EXPECT_EQ(guard.ChannelError(), Folder().string() + " " + c.Reason);
    EXPECT_EQ(guard.ShowRequestName(), "");
    EXPECT_FALSE(Refused(guard));
    EXPECT_TRUE(guard.AnyRunning());
    TInstanceGuard command(path);
    EXPECT_FALSE(command.AnyRunning());
    EXPECT_THROW(command.Admit(1), TInstanceGuardError);
    EXPECT_EQ(SendControlRequest(guard.ShowRequestName(), "quit", 200ms), std::nullopt);
  }
}

TEST_F(ControlChannelTest, ARecordThatIsALinkOrOpenToOthersIsNotUsed) {
  const std::string path = Path("record");
  { TInstanceGuard make(path); }  // makes the folder
  const fs::path victim = fBase / "victim";
  std::ofstream(victim) << "intact";
  fs::create_symlink(victim, Record(path));
  {
    TInstanceGuard guard(path);
    EXPECT_THROW(guard.Admit(1), TInstanceGuardError);
  }
  std::ifstream in(victim);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "intact");
  EXPECT_EQ(fs::file_size(victim), 6u);

  fs::remove(Record(path));
  std::ofstream(Record(path)) << "12345678";
  ::chmod(Record(path).c_str(), 0666);
  TInstanceGuard guard(path);
  try {
    guard.Admit(1);
    ADD_FAILURE() << "admitted";
  } catch (const TInstanceGuardError& error) {
    EXPECT_NE(std::string(error.what()).find("is not this user's alone"), std::string::npos)
        << error.what();
  }
}

// A process of this user that hangs while holding the record's gate keeps a start waiting a
// few seconds at most, and a stop request ends the wait at once.
TEST_F(ControlChannelTest, AHeldGateIsWaitedForBrieflyAndAStopRequestEndsTheWait) {
  const std::string path = Path("gate");
  { TInstanceGuard make(path); }
  const int holder = ::open(Record(path).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(holder, 0);
  struct flock gate {};
  gate.l_type = F_WRLCK;
  gate.l_whence = SEEK_SET;
  gate.l_start = 64;
  gate.l_len = 1;
  ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &gate), 0);

  auto started = std::chrono::steady_clock::now();
  {
    TInstanceGuard guard(path);
    EXPECT_THROW(guard.Admit(1), TInstanceGuardError);
  }
  const auto bounded = std::chrono::steady_clock::now() - started;
  EXPECT_GE(bounded, 2s);
  EXPECT_LE(bounded, 5s);

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigset_t previous;
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &stop, &previous), 0);
  ::kill(::getpid(), SIGTERM);  // held back, as main() holds it from its first statement
  started = std::chrono::steady_clock::now();
  {
    TInstanceGuard guard(path);
    EXPECT_THROW(guard.Admit(1), TInstanceGuardError);
  }
  EXPECT_LE(std::chrono::steady_clock::now() - started, 500ms);
  const timespec none{0, 0};
  EXPECT_EQ(::sigtimedwait(&stop, nullptr, &none), SIGTERM);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(holder);
}

// Listens as the other user on ASocket (mode 0777), answers every client "0 ok" and reports
// how many bytes it was sent when it is told to finish.
void Squat(const std::string& ASocket, int AReport, int AFinish) {
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, ASocket.c_str(), sizeof(address.sun_path) - 1);
  ::unlink(ASocket.c_str());
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(ASocket.c_str(), 0777) != 0 || ::listen(listener, 8) != 0) {
    ::dprintf(AReport, "failed %d\n", errno);
    return;
  }
  ::dprintf(AReport, "listening\n");
  long received = 0;
  for (;;) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {AFinish, POLLIN, 0}};
    ::poll(fds, 2, 1000);
    if (fds[1].revents != 0) {
      break;
    }
    const int client = ::accept(listener, nullptr, nullptr);
    if (client < 0) {
      continue;
    }
    pollfd readable{client, POLLIN, 0};
    char buffer[512];
    while (::poll(&readable, 1, 200) > 0) {
      const ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      received += n;
    }
    [[maybe_unused]] const ssize_t sent = ::send(client, "0 ok\n", 5, MSG_NOSIGNAL);
    ::close(client);
  }
  ::dprintf(AReport, "received %ld\n", received);
}

// The audit's cases: another user makes the folder first (0777, with a record of theirs and a
// socket that answers "0 ok"); or listens where a client of ours might connect.
TEST_F(ControlChannelTest, AnotherUserCanNeitherBlockNorAnswerForTheRelay) {
  std::string why;
  if (!test::CanActAsOtherUser(why)) {
    GTEST_SKIP() << why;
  }
  const std::string path = Path("other user");
  // Named here: in the child the user, and so the folder's name, is another.
  const std::string folder = Folder().string();
  const std::string socket = folder + "/squatted.sock";
  const fs::path record = Record(path);
  test::TOtherUserProcess squatter([&](int AReport, int AFinish) {
    ::mkdir(folder.c_str(), 0777);
    ::chmod(folder.c_str(), 0777);
    const int planted = ::open(record.c_str(), O_RDWR | O_CREAT, 0666);
    ::fchmod(planted, 0666);
    [[maybe_unused]] const int resized = ::ftruncate(planted, 8);
    Squat(socket, AReport, AFinish);
  });
  ASSERT_EQ(squatter.ReadLine(), "listening");

  // The start runs, unguarded, and says why; nothing is sent to the squatter.
  TInstanceGuard relay(path);
  EXPECT_EQ(relay.ChannelError(),
            Folder().string() + " belongs to user " + std::to_string(test::OtherUserId()));
  EXPECT_FALSE(Refused(relay));
  EXPECT_EQ(relay.ShowRequestName(), "");
  TInstanceGuard command(path);
  EXPECT_THROW(command.Admit(1), TInstanceGuardError);

  // A client of ours that reaches the squatter's socket sends it nothing and takes no answer.
  EXPECT_EQ(SendControlRequest(socket, "add-static 5,127.0.0.1,9", 1s), std::nullopt);
  EXPECT_EQ(squatter.Finish(), 0);
  EXPECT_EQ(squatter.ReadLine(), "received 0");
}

TEST_F(ControlChannelTest, AnotherUserCannotReachTheRecordOrTheSocketOfTheRelay) {
  std::string why;
  if (!test::CanActAsOtherUser(why)) {
    GTEST_SKIP() << why;
  }
  const std::string path = Path("reach");
  TInstanceGuard relay(path);
  ASSERT_FALSE(Refused(relay));
  const std::string record = Record(path).string();
  const std::string planted = (Folder() / "planted").string();
  const std::string socket = relay.ShowRequestName();
  // The socket file need not exist: the folder alone keeps the other user out.
  EXPECT_EQ(test::RunAsOtherUser([&] { return ::open(record.c_str(), O_RDONLY) < 0 ? errno : 0; }),
            EACCES);
  EXPECT_EQ(test::RunAsOtherUser([&] {
              const int fd = ::open(planted.c_str(), O_RDWR | O_CREAT, 0666);
              return fd < 0 ? errno : 0;
            }),
            EACCES);
  EXPECT_EQ(test::RunAsOtherUser([&] {
              const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
              sockaddr_un address{};
              address.sun_family = AF_UNIX;
              std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
              return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0
                         ? errno
                         : 0;
            }),
            EACCES);
  TInstanceGuard second(path);
  EXPECT_TRUE(Refused(second));
}

}  // namespace
}  // namespace kelvo
