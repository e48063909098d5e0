#include <gtest/gtest.h>

#include <array>

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
}

TCommandLine Parse(std::initializer_list<const char*> AArgs) {
  std::vector<std::string> storage{"kelvorelay"};
  storage.insert(storage.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (auto& arg : storage) {
    argv.push_back(arg.data());
  }
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, KnowsItsOptionsAndRefusesOthers) {
  const TCommandLine none = Parse({});
  EXPECT_FALSE(none.Headless);
  EXPECT_FALSE(none.DebugLog);
  EXPECT_TRUE(none.Error.empty());

  const TCommandLine both = Parse({"--debug-log", "--headless"});
  EXPECT_TRUE(both.Headless);
  EXPECT_TRUE(both.DebugLog);

  EXPECT_TRUE(Parse({"-h"}).ShowHelp);
  EXPECT_NE(Parse({"--headles"}).Error.find("--headles"), std::string::npos);
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
