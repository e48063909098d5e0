// What other programs can do with the log file while the relay writes it, on POSIX systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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
