// The single-instance guard on Windows: inside one process (each guard object stands for one
// start) and against helper processes, which are this test executable started again in a
// helper mode.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/instance_guard.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

// Every test uses executable paths of its own, so leftovers of one cannot touch another.
std::string TestPath(const char* AName) {
  return "C:\\Kelvo Guard Test " + std::to_string(::GetCurrentProcessId()) + "\\" + AName +
         "\\kelvorelay.exe";
}

bool Refused(TInstanceGuard& AGuard, int ALimit = 1) {
  return AGuard.RestoreIfRunning("TfmMain", "KelvoRelay v1.0.2", ALimit);
}

// Count in the record, read the way a third program would: -1 when the record is gone.
int RecordCount(const std::string& ABlockName) {
  const HANDLE Block = ::OpenFileMappingA(FILE_MAP_READ, FALSE, ABlockName.c_str());
  if (Block == nullptr) {
    return -1;
  }
  int Count = -1;
  if (const void* View = ::MapViewOfFile(Block, FILE_MAP_READ, 0, 0, 8)) {
    const auto* Bytes = static_cast<const unsigned char*>(View);
    Count = Bytes[4] | (Bytes[5] << 8) | (Bytes[6] << 16) | (Bytes[7] << 24);
    ::UnmapViewOfFile(View);
  }
  ::CloseHandle(Block);
  return Count;
}

TEST(InstanceGuardWin, TheRecordIsNamedFromThePathWithoutBackslashes) {
  const std::string Path = TestPath("name");
  TInstanceGuard First(Path);
  ASSERT_FALSE(Refused(First));
  std::string Name;
  for (const char C : Path) {
    if (C != '\\') {
      Name += C;
    }
  }
  EXPECT_EQ(RecordCount(Name), 1);
  EXPECT_EQ(RecordCount(Path), -1);
}

TEST(InstanceGuardWin, LimitsCountAndPathsAsTheyShould) {
  const std::string Path = TestPath("limits");
  {
    TInstanceGuard First(Path), Second(Path), Third(Path);
    EXPECT_FALSE(Refused(First, 2));
    EXPECT_FALSE(Refused(Second, 2));
    EXPECT_TRUE(Refused(Third, 2));
  }
  {
    // All of them ended: the next start runs normally.
    TInstanceGuard Again(Path);
    EXPECT_FALSE(Refused(Again));
    // A refused start gives nothing back when it ends, an admitted one does.
    {
      TInstanceGuard Refuse(Path);
      EXPECT_TRUE(Refused(Refuse));
    }
    TInstanceGuard StillRefused(Path);
    EXPECT_TRUE(Refused(StillRefused));
    // Another folder, or the same path in other letter case, is another executable.
    TInstanceGuard Elsewhere(TestPath("limits-elsewhere"));
    EXPECT_FALSE(Refused(Elsewhere));
    std::string Upper = Path;
    Upper[Upper.size() - 5] = 'E';  // ...kelvorelay.Exe
    TInstanceGuard OtherCase(Upper);
    EXPECT_FALSE(Refused(OtherCase));
  }
}

// Helper mode: try once for the path in KELVO_GUARD_TRY and end with 3 when refused, 0 when
// admitted; with KELVO_GUARD_HOLD stay admitted until killed.
TEST(InstanceGuardHelper, RunsOnlyWhenStartedByTheTwoProcessTests) {
  const char* Try = std::getenv("KELVO_GUARD_TRY");
  const char* Hold = std::getenv("KELVO_GUARD_HOLD");
  if (Try == nullptr && Hold == nullptr) {
    GTEST_SKIP() << "helper mode of the two-process tests";
  }
  TInstanceGuard Guard(Try != nullptr ? Try : Hold);
  const bool WasRefused = Refused(Guard);
  if (Hold != nullptr && !WasRefused) {
    ::Sleep(30000);
  }
  ::ExitProcess(WasRefused ? 3 : 0);
}

// Starts this executable in helper mode with AVariable=APath.
PROCESS_INFORMATION StartHelper(const char* AVariable, const std::string& APath) {
  char Exe[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, Exe, MAX_PATH);
  std::string CommandLine =
      std::string("\"") + Exe + "\" --gtest_filter=InstanceGuardHelper.* --gtest_brief=1";
  ::SetEnvironmentVariableA(AVariable, APath.c_str());
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process{};
  const BOOL Started = ::CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &Startup, &Process);
  ::SetEnvironmentVariableA(AVariable, nullptr);
  EXPECT_TRUE(Started) << ::GetLastError();
  return Process;
}

DWORD WaitForExit(PROCESS_INFORMATION& AProcess, DWORD ATimeoutMs = 20000) {
  DWORD Code = 0xFFFFFFFF;
  if (::WaitForSingleObject(AProcess.hProcess, ATimeoutMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(AProcess.hProcess, &Code);
  } else {
    ::TerminateProcess(AProcess.hProcess, 1);
  }
  ::CloseHandle(AProcess.hThread);
  ::CloseHandle(AProcess.hProcess);
  return Code;
}

TEST(InstanceGuardWin, ASecondProcessIsRefusedWhileTheFirstRuns) {
  const std::string Path = TestPath("two processes");
  {
    TInstanceGuard First(Path);
    ASSERT_FALSE(Refused(First));
    auto Second = StartHelper("KELVO_GUARD_TRY", Path);
    EXPECT_EQ(WaitForExit(Second), 3u);
  }
  auto Next = StartHelper("KELVO_GUARD_TRY", Path);
  EXPECT_EQ(WaitForExit(Next), 0u);
}

TEST(InstanceGuardWin, AKilledInstanceDoesNotBlockTheNextStart) {
  const std::string Path = TestPath("killed");
  std::string Name;
  for (const char C : Path) {
    if (C != '\\') {
      Name += C;
    }
  }
  auto Holder = StartHelper("KELVO_GUARD_HOLD", Path);
  const auto Deadline = std::chrono::steady_clock::now() + 20s;
  while (RecordCount(Name) != 1 && std::chrono::steady_clock::now() < Deadline) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(RecordCount(Name), 1);
  {
    // A refused start ends at once, and with it its handle of the record.
    TInstanceGuard WhileHeld(Path);
    EXPECT_TRUE(Refused(WhileHeld));
  }
  ::TerminateProcess(Holder.hProcess, 9);
  WaitForExit(Holder);
  // The killed holder was the last to have the record open: the system removed it.
  TInstanceGuard After(Path);
  EXPECT_FALSE(Refused(After));
}

}  // namespace
}  // namespace kelvo
