// The file version (the executable's own version resource on Windows) and the names derived
// from the executable.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/relay_host.h"
#include "app/version.h"

namespace kelvo {
namespace {

TEST(VersionText, CutsTheFileVersionToTheRequestedParts) {
  EXPECT_EQ(GetVersionText(0), "");
  EXPECT_EQ(GetVersionText(-1), "");
  EXPECT_EQ(GetVersionText(1), "1");
  EXPECT_EQ(GetVersionText(2), "1.0");
  EXPECT_EQ(GetVersionText(3), "1.0.2");
  EXPECT_EQ(GetVersionText(4), "1.0.2.0");
  EXPECT_EQ(GetVersionText(9), "1.0.2.0");
  EXPECT_EQ(MainWindowCaption(), "KelvoRelay v1.0.2");
  EXPECT_EQ(VersionLine(), "KelvoRelay 1.0.2");
}

TEST(DebugLogFile, LiesBesideTheExecutableWithLogExtension) {
  const std::string executable = ExecutablePath();
  ASSERT_FALSE(executable.empty());
  // On Linux the test executable has no extension and ".log" is appended; on Windows ".exe"
  // is replaced.
  const std::string::size_type exe = executable.size() - 4;
  const bool hasExe = executable.size() > 4 && executable.compare(exe, 4, ".exe") == 0;
  EXPECT_EQ(DebugLogFileName(), hasExe ? executable.substr(0, exe) + ".log" : executable + ".log");
}

}  // namespace
}  // namespace kelvo
