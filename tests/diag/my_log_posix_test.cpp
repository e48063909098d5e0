// What other programs can do with the log file while the relay writes it, on POSIX systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "diag/my_log_fixture.h"
#include "diag/time_zone.h"

namespace kelvo {
namespace {

TEST_F(MyLogTest, AnotherWriterHoldingTheFileMakesTheLineFailWithoutLeakingIt) {
  fLog.WriteToFile("a");
  const int Other = ::open(fFile.c_str(), O_WRONLY);
  ASSERT_GE(Other, 0);
  ASSERT_EQ(::flock(Other, LOCK_EX), 0);
  const auto FdsBefore = std::distance(fs::directory_iterator("/proc/self/fd"), {});
  EXPECT_THROW(fLog.WriteToFile("b"), TLogError);
  EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), FdsBefore);
  ::close(Other);
  fLog.WriteToFile("c");
  EXPECT_EQ(Read(fFile), "a\r\nc\r\n");
}

// Whatever is planted at the log's name in a folder that others can write, the relay writes
// nothing through it and empties nothing behind it, and it does not wait for a pipe's reader.
TEST_F(MyLogTest, NothingButAPlainFileOfOursIsWrittenOrEmptied) {
  const std::string Victim = (fDir / "victim").string();
  struct TCase {
    const char* Name;
    std::function<void()> Plant;
  };
  const TCase Cases[] = {
      {"link to a file", [&] { ASSERT_EQ(::symlink(Victim.c_str(), fFile.c_str()), 0); }},
      {"dangling link", [&] { ASSERT_EQ(::symlink((fDir / "absent").c_str(), fFile.c_str()), 0); }},
      {"hard link", [&] { ASSERT_EQ(::link(Victim.c_str(), fFile.c_str()), 0); }},
      {"pipe", [&] { ASSERT_EQ(::mkfifo(fFile.c_str(), 0600), 0); }},
      {"folder", [&] { ASSERT_TRUE(fs::create_directory(fFile)); }},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Put(Victim, "precious\n");
    Case.Plant();
    EXPECT_THROW(fLog.AddLog("payload"), TLogError);
    EXPECT_THROW(fLog.AddLog("payload"), TLogError);
    EXPECT_EQ(Read(Victim), "precious\n");
    EXPECT_FALSE(fs::exists(fDir / "absent"));
    fs::remove_all(fFile);
    fs::remove(Victim);
  }
  // With the planted name gone, the log works again and replaces as a first write does.
  fLog.AddLog("works");
  EXPECT_TRUE(Read(fFile).ends_with("works\r\n"));
}

TEST_F(MyLogTest, TheLogIsThisUsersAloneAlsoWhenAnOlderOneIsReplaced) {
  const mode_t Previous = ::umask(0);
  fLog.WriteToFile("new");
  ::umask(Previous);
  EXPECT_EQ(fs::status(fFile).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // A log that an earlier version left readable by everyone.
  TMyLog NextRun;
  NextRun.SetLogFile(fFile);
  ASSERT_EQ(::chmod(fFile.c_str(), 0644), 0);
  NextRun.WriteToFile("replaced");
  EXPECT_EQ(fs::status(fFile).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Read(fFile), "replaced\r\n");
}

TEST_F(MyLogTest, AnotherUsersFileAtTheLogsNameIsNotWritten) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: a file of another user is made with chown";
  }
  Put(fFile, "theirs\n");
  ASSERT_EQ(::chown(fFile.c_str(), 65534, 65534), 0);
  EXPECT_THROW(fLog.AddLog("payload"), TLogError);
  EXPECT_EQ(Read(fFile), "theirs\n");
}

// The Windows C runtime has no local time before 1970; here the milliseconds of such a time
// must not borrow from the wrong second.
TEST(LogTimeStampTest, TimesBefore1970KeepTheirSecond) {
  const test::TTimeZone Utc("UTC0");
  using namespace std::chrono;
  const auto Before = sys_days{year{1970} / January / 1} - milliseconds{500};
  EXPECT_EQ(FormatLogTimeStamp(Before), "1969-31-12 23:59:59.500 ");
}

}  // namespace
}  // namespace kelvo
