#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "diag/my_log_fixture.h"
#include "diag/time_zone.h"

namespace kelvo {
namespace {

const std::regex kStampedLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");

TEST_F(MyLogTest, FirstLineReplacesOldFileLaterLinesAppendWithCrLf) {
  Put(fFile, "line of the previous run\r\n");
  fLog.AddLog("one");
  fLog.AddLog("two");
  const std::string Text = Read(fFile);
  ASSERT_EQ(Text.size(), 2 * (24 + 3 + 2)) << Text;
  EXPECT_TRUE(std::regex_match(Text.substr(0, 24), kStampedLine));
  EXPECT_EQ(Text.substr(24, 5), "one\r\n");
  EXPECT_TRUE(std::regex_match(Text.substr(29, 24), kStampedLine));
  EXPECT_EQ(Text.substr(53), "two\r\n");

  // The run's first write is behind us: another file is appended to, not replaced.
  const std::string Other = (fDir / "other.log").string();
  Put(Other, "kept\r\n");
  fLog.SetLogFile(Other);
  fLog.WriteToFile("x");
  EXPECT_EQ(Read(Other), "kept\r\nx\r\n");
}

TEST_F(MyLogTest, AppendModeKeepsThePreviousRun) {
  Put(fFile, "old\r\n");
  fLog.SetAppend(true);
  fLog.WriteToFile("new");
  EXPECT_EQ(Read(fFile), "old\r\nnew\r\n");
}

TEST_F(MyLogTest, DeletedFileIsCreatedAgainWithOnlyTheNewLine) {
  fLog.WriteToFile("a");
  fLog.DeleteFile();
  EXPECT_FALSE(fs::exists(fFile));
  fLog.WriteToFile("b");
  EXPECT_EQ(Read(fFile), "b\r\n");
  fLog.DeleteFile();
  EXPECT_NO_THROW(fLog.DeleteFile());  // nothing left to delete is no error
}

TEST_F(MyLogTest, FailedOpenThrowsAndTheNextGoodWriteStillReplaces) {
  // A plain file where the folder should be cannot be got around, not even as root.
  Put((fDir / "notafolder").string(), "");
  fLog.SetLogFile((fDir / "notafolder" / "x.log").string());
  EXPECT_THROW(fLog.AddLog("lost"), TLogError);

  Put(fFile, "previous run\r\n");
  fLog.SetLogFile(fFile);
  fLog.WriteToFile("first");
  EXPECT_EQ(Read(fFile), "first\r\n");
}

TEST_F(MyLogTest, LinesFromTwoThreadsAreNeitherMixedNorLost) {
  constexpr int kLines = 200;
  auto Writer = [this](char AMark) {
    for (int I = 0; I < kLines; ++I) {
      fLog.AddLog(std::string(50, AMark));
    }
  };
  std::thread T1(Writer, 'x');
  std::thread T2(Writer, 'y');
  T1.join();
  T2.join();
  std::istringstream In(Read(fFile));
  const std::regex Line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (x{50}|y{50})\r)");
  int Count = 0;
  for (std::string L; std::getline(In, L); ++Count) {
    ASSERT_TRUE(std::regex_match(L, Line)) << L;
  }
  EXPECT_EQ(Count, 2 * kLines);
}

TEST_F(MyLogTest, PastTheSizeLimitOneLineSaysSoAndTheLogPausesUntilResumed) {
  // Lines of 24 + 10 + 2 bytes; a limit of 100 holds two of them.
  fLog.SetSizeLimit(100);
  for (int I = 0; I < 5; ++I) {
    EXPECT_NO_THROW(fLog.AddLog("line " + std::to_string(I) + "----"));
  }
  EXPECT_TRUE(fLog.LimitReached());
  std::istringstream In(Read(fFile));
  std::vector<std::string> Lines;
  for (std::string L; std::getline(In, L);) {
    ASSERT_TRUE(L.ends_with('\r')) << L;
    ASSERT_TRUE(std::regex_match(L.substr(0, 24), kStampedLine)) << L;
    Lines.push_back(L.substr(24, L.size() - 25));
  }
  EXPECT_EQ(Lines, (std::vector<std::string>{"line 0----", "line 1----", kDebugLogLimitText}));

  // Resumed (debug logs switched on again): the next line starts a new file.
  fLog.Resume();
  EXPECT_FALSE(fLog.LimitReached());
  fLog.WriteToFile("again");
  EXPECT_EQ(Read(fFile), "again\r\n");
  // Resuming a log that is not paused changes nothing.
  fLog.Resume();
  fLog.WriteToFile("more");
  EXPECT_EQ(Read(fFile), "again\r\nmore\r\n");

  // A limit below what the file holds already: the next line is the limit line.
  fLog.SetSizeLimit(10);
  fLog.WriteToFile("x");
  EXPECT_TRUE(fLog.LimitReached());
  EXPECT_TRUE(Read(fFile).ends_with(std::string(kDebugLogLimitText) + "\r\n"));
}

TEST(LogTimeStampTest, DayStandsBeforeMonthAndAStampEndsWithOneBlank) {
  const test::TTimeZone Utc("UTC0");
  using namespace std::chrono;
  const auto Time =
      sys_days{year{2025} / February / 3} + hours{14} + minutes{5} + seconds{9} + milliseconds{123};
  EXPECT_EQ(FormatLogTimeStamp(Time), "2025-03-02 14:05:09.123 ");
}

}  // namespace
}  // namespace kelvo
