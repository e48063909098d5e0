// Where the debug log goes: beside the executable, or the user's state folder when the
// executable's folder cannot be written.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/debug_log_location.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

// Sets or unsets one environment variable for the life of the object.
class TEnvVar {
 public:
  TEnvVar(const char* AName, const char* AValue) : fName(AName) {
    if (const char* old = ::getenv(AName)) {
      fOld = old;
    }
    if (AValue != nullptr) {
      ::setenv(AName, AValue, 1);
    } else {
      ::unsetenv(AName);
    }
  }
  ~TEnvVar() {
    if (fOld) {
      ::setenv(fName, fOld->c_str(), 1);
    } else {
      ::unsetenv(fName);
    }
  }
  TEnvVar(const TEnvVar&) = delete;
  TEnvVar& operator=(const TEnvVar&) = delete;

 private:
  const char* fName;
  std::optional<std::string> fOld;
};

class TTempFolder {
 public:
  TTempFolder() {
    char name[] = "/tmp/kelvo_log_XXXXXX";
    if (::mkdtemp(name) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    fDir = name;
  }
  ~TTempFolder() {
    std::error_code error;
    fs::remove_all(fDir, error);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const fs::path& Dir() const { return fDir; }

 private:
  fs::path fDir;
};

TEST(DebugLogLocation, NameBesideTheExecutableReplacesOnlyTheFileExtension) {
  struct TCase {
    const char* Executable;
    const char* Log;
  };
  const TCase cases[] = {
      {"/usr/bin/kelvorelay", "/usr/bin/kelvorelay.log"},
      {"/opt/KelvoRelay/kelvorelay.exe", "/opt/KelvoRelay/kelvorelay.log"},
      {"/home/u/relay.v2/kelvorelay", "/home/u/relay.v2/kelvorelay.log"},
      {"/home/u/.hidden/kelvo.relay.bin", "/home/u/.hidden/kelvo.relay.log"},
      {"kelvorelay", "kelvorelay.log"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(LogFileBesideExecutable(c.Executable), c.Log) << c.Executable;
  }
}

TEST(DebugLogLocation, StateFolderFollowsTheXdgRules) {
  struct TCase {
    const char* StateHome;  // null: unset
    const char* Home;
    std::string Expected;
  };
  const TCase cases[] = {
      {"/var/tmp/state", "/home/u", "/var/tmp/state"},
      {nullptr, "/home/u", "/home/u/.local/state"},
      {"", "/home/u", "/home/u/.local/state"},
      // Relative values are ignored.
      {"state", "/home/u", "/home/u/.local/state"},
  };
  for (const TCase& c : cases) {
    const TEnvVar state("XDG_STATE_HOME", c.StateHome);
    const TEnvVar home("HOME", c.Home);
    EXPECT_EQ(UserStateFolder(), c.Expected) << (c.StateHome ? c.StateHome : "(unset)");
  }
}

TEST(DebugLogLocation, WritableFolderKeepsTheLogBesideTheExecutable) {
  const TTempFolder bin, state;
  const std::string executable = (bin.Dir() / "kelvorelay").string();
  EXPECT_EQ(DebugLogFileNameFor(executable, state.Dir().string()), executable + ".log");
  EXPECT_FALSE(fs::exists(state.Dir() / "Marlowin"));
}

TEST(DebugLogLocation, UnwritableFolderMovesTheLogToAPrivateStateFolder) {
  const TTempFolder state;
  // A folder that does not exist cannot be written by anyone, root included.
  const fs::path stateHome = state.Dir() / "new" / "state";
  const std::string name =
      DebugLogFileNameFor("/nonexistent/kelvo/bin/kelvorelay", stateHome.string());
  EXPECT_EQ(name, (stateHome / "Marlowin" / "kelvorelay.log").string());

  for (const fs::path& level : {stateHome.parent_path(), stateHome, stateHome / "Marlowin"}) {
    struct stat info {};
    ASSERT_EQ(::stat(level.c_str(), &info), 0) << level;
    EXPECT_EQ(info.st_mode & 07777, 0700u) << level;
  }
  // A second start finds the folder in place and names the same file.
  EXPECT_EQ(DebugLogFileNameFor("/nonexistent/kelvo/bin/kelvorelay", stateHome.string()), name);
}

}  // namespace
}  // namespace kelvo
