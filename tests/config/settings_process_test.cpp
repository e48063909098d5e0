// The settings file under real processes: a save killed at random moments, and a relay that
// meets a settings file it cannot read.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "config/registry_store.h"
#include "support/relay_process.h"

extern char** environ;

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kEntries = 3000;
const char* const kHosts[2] = {"10.0.0.1", "10.0.0.2"};

// The helper saving kEntries entries on AHost, with its stdout on a pipe.
class THelper {
 public:
  THelper(const fs::path& AFile, const char* AHost) {
    int Pipe[2];
    if (::pipe(Pipe) != 0) {
      throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
    const std::string File = AFile.string();
    const std::string Count = std::to_string(kEntries);
    std::string Program = KELVO_SAVE_HELPER;
    char* Argv[] = {Program.data(), const_cast<char*>(File.c_str()), const_cast<char*>(AHost),
                    const_cast<char*>(Count.c_str()), nullptr};
    const int Error = ::posix_spawn(&fPid, Program.c_str(), &Actions, nullptr, Argv, environ);
    posix_spawn_file_actions_destroy(&Actions);
    ::close(Pipe[1]);
    fOut = Pipe[0];
    if (Error != 0) {
      ::close(fOut);
      throw std::runtime_error("cannot start " + Program);
    }
  }
  ~THelper() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      Reap();
    }
    ::close(fOut);
  }
  THelper(const THelper&) = delete;
  THelper& operator=(const THelper&) = delete;

  // Reads until a line starting with APrefix; its text, or empty at end of output.
  std::string WaitFor(char APrefix) {
    for (;;) {
      const auto Eol = fText.find('\n');
      if (Eol != std::string::npos) {
        const std::string Line = fText.substr(0, Eol);
        fText.erase(0, Eol + 1);
        if (!Line.empty() && Line[0] == APrefix) {
          return Line;
        }
        continue;
      }
      char Buf[256];
      const ssize_t N = ::read(fOut, Buf, sizeof Buf);
      if (N <= 0) {
        return "";
      }
      fText.append(Buf, static_cast<std::size_t>(N));
    }
  }
  void Kill() { ::kill(fPid, SIGKILL); }
  int Reap() {
    int Status = 0;
    ::waitpid(fPid, &Status, 0);
    fPid = -1;
    return Status;
  }

 private:
  pid_t fPid = -1;
  int fOut = -1;
  std::string fText;
};

// Which host the stored list is on: 0 or 1 when all kEntries entries are there and on the same
// host, -1 otherwise.
int StoredList(const fs::path& AFile) {
  TRegistryStore Store(AFile.string());
  if (!Store.OpenKey(false)) {
    return -1;
  }
  for (int Which = 0; Which < 2; ++Which) {
    bool Whole = !Store.ValueExists("StaticList" + std::to_string(kEntries));
    for (int I = 0; Whole && I < kEntries; ++I) {
      const std::string Name = "StaticList" + std::to_string(I);
      Whole = Store.ValueExists(Name) && Store.ReadString(Name) == std::to_string(I) + "," +
                                                                       kHosts[Which] + "," +
                                                                       std::to_string(I + 1);
    }
    if (Whole) {
      return Which;
    }
  }
  return -1;
}

std::vector<std::string> Siblings(const fs::path& AFile) {
  std::vector<std::string> Names;
  for (const auto& Entry : fs::directory_iterator(AFile.parent_path())) {
    if (Entry.path() != AFile) {
      Names.push_back(Entry.path().filename().string());
    }
  }
  return Names;
}

TEST(SettingsSaveKilled, EveryKillLeavesTheOldOrTheNewListWhole) {
  const test::TConfigHome Home;
  const fs::path File = Home.SettingsFile();
  std::chrono::microseconds SaveTime{};
  {
    THelper First(File, kHosts[0]);
    const std::string Done = First.WaitFor('D');
    ASSERT_FALSE(Done.empty());
    SaveTime = std::chrono::microseconds(std::stol(Done.substr(2)));
    ASSERT_EQ(First.Reap(), 0);
  }
  ASSERT_EQ(StoredList(File), 0);

  // Kill points spread over the whole save and a little beyond it, and every other one over
  // its last part, where the file is written and renamed.
  std::mt19937 Random(20261209);
  const long Save = SaveTime.count();
  std::uniform_int_distribution<long> Anywhere(0, Save * 5 / 4 + 100);
  std::uniform_int_distribution<long> Late(Save / 2, Save * 11 / 10 + 100);
  constexpr int kTrials = 40;
  int Old = 0;
  int New = 0;
  int Stored = 0;
  int CutWhileWriting = 0;  // trials that left a temporary file: killed inside the commit
  for (int Trial = 0; Trial < kTrials; ++Trial) {
    const int Next = 1 - Stored;
    const std::size_t LeftBefore = Siblings(File).size();
    THelper Saver(File, kHosts[Next]);
    ASSERT_FALSE(Saver.WaitFor('S').empty());
    const long Delay = Trial % 2 == 0 ? Anywhere(Random) : Late(Random);
    std::this_thread::sleep_for(std::chrono::microseconds(Delay));
    Saver.Kill();
    Saver.Reap();
    const int Now = StoredList(File);
    ASSERT_TRUE(Now == Stored || Now == Next) << "trial " << Trial << ": the list is cut";
    (Now == Stored ? Old : New) += 1;
    CutWhileWriting += Siblings(File).size() > LeftBefore ? 1 : 0;
    Stored = Now;
  }
  std::printf(
      "kill test: %d trials, old list whole %d times, new list whole %d times, "
      "%d killed inside the commit (save of %d entries takes %ld us)\n",
      kTrials, Old, New, CutWhileWriting, kEntries, static_cast<long>(SaveTime.count()));

  // One save that runs to its end removes whatever the killed ones left.
  THelper Last(File, kHosts[0]);
  ASSERT_FALSE(Last.WaitFor('D').empty());
  ASSERT_EQ(Last.Reap(), 0);
  EXPECT_EQ(StoredList(File), 0);
  EXPECT_EQ(Siblings(File), std::vector<std::string>{});
}

// Both the window and --headless load through the same host code; the headless start stands
// for both here.
TEST(UnreadableSettingsFile, IsReportedOnceAndLeftAsItIs) {
  const test::TConfigHome Home;
  const std::string Bytes = "Windows Registry Editor Version 4.00\r\n\r\n\"Top\"=dword:1\r\n";
  std::ofstream(Home.SettingsFile(), std::ios::binary) << Bytes;
  test::TRelayProcess Relay;
  Relay.Start(Home, {});
  Relay.Stop(SIGTERM);
  const std::string Output = Relay.Output();
  const std::string Line = "kelvorelay: Cannot read the settings file '" +
                           Home.SettingsFile().string() +
                           "': line 1 is neither \"Windows Registry Editor Version 5.00\" nor "
                           "\"REGEDIT4\"; going on without stored settings\n";
  const auto First = Output.find(Line);
  EXPECT_NE(First, std::string::npos) << Output;
  EXPECT_EQ(Output.find(Line, First + 1), std::string::npos) << Output;
  EXPECT_EQ(Home.ReadSettings(), Bytes);
}

// Something other than a settings file at the settings path: --show-settings, the start and
// SIGHUP each give the usual one-line reason at once, the relay relays without the stored
// settings, SIGTERM ends it, and what stands at the path is left as it was.
TEST(OddSettingsPath, NeitherHangsNorAbortsAndIsLeftAsItIs) {
  struct TCase {
    const char* Label;
    void (*Plant)(const fs::path&);
    const char* Reason;
  };
  const TCase Cases[] = {
      {"pipe", [](const fs::path& AFile) { ::mkfifo(AFile.c_str(), 0600); }, "not a regular file"},
      {"link to /dev/zero", [](const fs::path& AFile) { fs::create_symlink("/dev/zero", AFile); },
       "not a regular file"},
      {"over 64 MiB",
       [](const fs::path& AFile) {
         std::ofstream(AFile, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n";
         fs::resize_file(AFile, 64 * 1024 * 1024 + 1);
       },
       "larger than 64 MiB"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Label);
    const test::TConfigHome Home;
    fs::create_directories(Home.SettingsFile().parent_path());
    fs::remove(Home.SettingsFile());
    C.Plant(Home.SettingsFile());
    const auto Kind = fs::symlink_status(Home.SettingsFile()).type();
    const std::string Line =
        "Cannot read the settings file '" + Home.SettingsFile().string() + "': " + C.Reason;

    const auto Asked = std::chrono::steady_clock::now();
    const test::TCommandResult Shown = test::RunRelayCommand(Home, {"--show-settings"});
    EXPECT_LT(std::chrono::steady_clock::now() - Asked, 5s);
    EXPECT_EQ(Shown.ExitCode, 1);
    EXPECT_EQ(Shown.Err, "kelvorelay: " + Line + "\n");

    test::TRelayProcess Relay;
    const std::string Ready = Relay.Start(Home, {});
    EXPECT_NE(Ready.find("listening on"), std::string::npos) << Relay.Output();
    EXPECT_NE(Relay.Output().find(Line + "; going on without stored settings"), std::string::npos)
        << Relay.Output();
    const std::size_t Before = Relay.Output().size();
    ::kill(Relay.Pid(), SIGHUP);
    EXPECT_TRUE(Relay.WaitForOutput(Line, Before, 5s)) << Relay.Output();
    const auto Stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(Relay.Stop(SIGTERM), 0) << Relay.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - Stopping, 2s);
    EXPECT_EQ(fs::symlink_status(Home.SettingsFile()).type(), Kind);
    if (Kind == fs::file_type::regular) {
      EXPECT_EQ(fs::file_size(Home.SettingsFile()), 64u * 1024 * 1024 + 1);
    }
  }
}

}  // namespace
}  // namespace kelvo
