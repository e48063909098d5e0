// The relay's named pipe on Windows: its name per user, session and exact path, the DACL that
// lets this user alone in, several instances that a silent client cannot block, and the
// client's check of who serves. Under Wine every process runs as the same user: what another
// user would meet is shown through the checks themselves (the DACL as read back, a server
// compared with another SID), not by a second user.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/control_client.h"
#include "app/instance_guard.h"
#include "app/pipe_io_win.h"
#include "app/pipe_server_win.h"
#include "base/windows_text.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

std::string UserSidText() {
  std::vector<unsigned char> sid = pipe_io::CurrentUserSid();
  wchar_t* text = nullptr;
  if (sid.empty() || !::ConvertSidToStringSidW(sid.data(), &text)) {
    return {};
  }
  std::string result = WideToUtf8(text);
  ::LocalFree(text);
  return result;
}

std::string UniquePath(const char* AName) {
  return "C:\\Kelvo Pipe Test " + std::to_string(::GetCurrentProcessId()) + "\\" + AName +
         "\\kelvorelay.exe";
}

TEST(PipeName, IsPerUserSessionAndExactPath) {
  std::string error;
  const std::string name = pipe_io::PipeBaseName("C:\\a\\bc.exe", error);
  ASSERT_EQ(error, "");
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const std::string prefix = "kelvorelay-" + UserSidText() + "-" + std::to_string(session) + "-";
  ASSERT_EQ(name.substr(0, prefix.size()), prefix);
  EXPECT_EQ(name.size(), prefix.size() + 16);
  EXPECT_EQ(name.find('\\'), std::string::npos);

  // The instance record's name drops the backslashes; the pipe's must not mix up such paths.
  const char* const others[] = {"C:\\ab\\c.exe", "c:\\a\\bc.exe", "C:\\a\\bc.ex", "C:abbc.exe"};
  for (const char* other : others) {
    EXPECT_NE(pipe_io::PipeBaseName(other, error), name) << other;
  }
  EXPECT_EQ(pipe_io::PipeBaseName("C:\\a\\bc.exe", error), name);
  EXPECT_EQ(TInstanceGuard("C:\\a\\bc.exe").ShowRequestName(), name);
  EXPECT_EQ(TInstanceGuard("C:\\a\\bc.exe").ChannelError(), "");
}

// Serves the pipe on a thread of its own as the headless loop does; the handler answers
// "0 ok" to every line and asks to stop on "quit".
class PipeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    fName = pipe_io::PipeBaseName(
        UniquePath(::testing::UnitTest::GetInstance()->current_test_info()->name()), error);
    fServer = std::make_unique<TPipeServer>(fName, error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(fServer->Events().size(), TPipeServer::kInstances);
    fStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fThread = std::thread([this] { Serve(); });
  }
  void TearDown() override {
    ::SetEvent(fStop);
    fThread.join();
    ::CloseHandle(fStop);
  }
  void Serve() {
    std::vector<HANDLE> waits{fStop};
    waits.insert(waits.end(), fServer->Events().begin(), fServer->Events().end());
    const auto handler = [this](const std::string& ALine, bool& AStop) {
      ++fRequests;
      AStop = ALine == "quit";
      return std::string("0 ok");
    };
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::min(fServer->NextDeadline(), TClock::now() + 100ms) - TClock::now());
      const DWORD ready =
          ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                   static_cast<DWORD>(std::max<long long>(0, left.count())));
      if (ready == WAIT_OBJECT_0 || ready == WAIT_FAILED) {
        return;
      }
      bool stop = false;
      if (ready > WAIT_OBJECT_0 && ready < WAIT_OBJECT_0 + waits.size()) {
        stop = fServer->Serve(ready - WAIT_OBJECT_0 - 1, handler);
      }
      if (fServer->DropLate() || stop) {
        fStopped = true;
      }
    }
  }
  // A client handle as a plain program would open it, without the relay's checks.
  HANDLE Open() const {
    return ::CreateFileW(pipe_io::PipeName(fName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  }

  std::string fName;
  std::unique_ptr<TPipeServer> fServer;
  HANDLE fStop = nullptr;
  std::thread fThread;
  std::atomic<int> fRequests{0};
  std::atomic<bool> fStopped{false};
};

TEST_F(PipeServerTest, SilentClientsBlockNeitherOtherClientsNorAStop) {
  HANDLE silent[TPipeServer::kInstances - 1];
  for (HANDLE& client : silent) {
    client = Open();
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << ::GetLastError();
  }
  const auto asked = TClock::now();
  EXPECT_EQ(SendControlRequest(fName, "add-static 1,a,2", 2s), "0 ok");
  const auto answered = TClock::now() - asked;
  EXPECT_LT(answered, 500ms);
  // Once their time is up the silent ones are dropped and their instances serve again.
  std::this_thread::sleep_for(1500ms);
  for (HANDLE client : silent) {
    char byte = 0;
    DWORD read = 0;
    EXPECT_FALSE(::ReadFile(client, &byte, 1, &read, nullptr));
    ::CloseHandle(client);
  }
  EXPECT_EQ(SendControlRequest(fName, "quit", 2s), "0 ok");
  for (int i = 0; i < 100 && !fStopped; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(fStopped);
  EXPECT_EQ(fRequests, 2);
  std::printf("3 silent pipe clients: a request answered in %lld ms\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(answered).count()));
}

// The pipe's DACL as the system reads it back: one entry, allowing this user.
TEST_F(PipeServerTest, OnlyThisUserMayOpenThePipe) {
  const HANDLE client = Open();
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = ::GetSecurityInfo(client, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, &dacl, nullptr, &descriptor);
  ::CloseHandle(client);
  ASSERT_EQ(result, ERROR_SUCCESS) << WindowsErrorText(result);
  ASSERT_NE(dacl, nullptr) << "no DACL: everybody may open the pipe";
  EXPECT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  std::vector<unsigned char> user = pipe_io::CurrentUserSid();
  EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), user.data()));
  ::LocalFree(descriptor);
}

TEST_F(PipeServerTest, TheClientChecksWhoServesAndTheNameIsNeverShared) {
  const HANDLE client = Open();
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(pipe_io::ServerRunsAs(client, pipe_io::CurrentUserSid()));
  // A server of another user (here: compared with the SID of LocalSystem) is refused.
  PSID system = nullptr;
  ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-5-18", &system));
  const auto* bytes = static_cast<const unsigned char*>(system);
  EXPECT_FALSE(pipe_io::ServerRunsAs(client, {bytes, bytes + ::GetLengthSid(system)}));
  ::LocalFree(system);
  ::CloseHandle(client);

  // A second server on the same name (somebody who came first) is refused.
  std::string error;
  TPipeServer second(fName, error);
  EXPECT_NE(error, "");
  EXPECT_TRUE(second.Events().empty());
}

}  // namespace
}  // namespace kelvo
