// kelvorelay.exe as the user starts it: a second start shows the first instance's hidden
// window and ends; "Exit" ends the program, and the next start runs normally; --quit, the
// settings options and the status request reach the running window and the running headless
// relay; the window started beside a headless relay attaches to it; start at sign-in
// (--autostart, and --hidden, which it starts the program with).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cwchar>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/control_client.h"
#include "app/instance_guard.h"
#include "app/pipe_io_win.h"
#include "app/status_report.h"
#include "base/windows_text.h"
#include "present/main_window_design.h"
#include "ui_win32/options_dialog.h"
#include "ui_win32/tray_icon.h"

namespace kelvo::test {
namespace {

constexpr DWORD kWaitMs = 30000;

// kelvorelay.exe beside the tests' folder: build-win/bin next to build-win/tests.
std::wstring ProgramPath() {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path(own);
  path.erase(path.find_last_of(L'\\'));
  path.erase(path.find_last_of(L'\\') + 1);
  return path + L"bin\\kelvorelay.exe";
}

class TProgram {
 public:
  explicit TProgram(const std::wstring& AArguments = L"") {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring command =
        L"\"" + ProgramPath() + L"\"" + (AArguments.empty() ? L"" : L" ") + AArguments;
    fStarted = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &fProcess) != FALSE;
  }
  ~TProgram() {
    if (fStarted) {
      if (WaitForSingleObject(fProcess.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(fProcess.hProcess, 9);
        WaitForSingleObject(fProcess.hProcess, kWaitMs);
      }
      CloseHandle(fProcess.hThread);
      CloseHandle(fProcess.hProcess);
    }
  }
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  bool Started() const { return fStarted; }
  // The exit code, or -1 when the process is still running after AWaitMs.
  long ExitCode(DWORD AWaitMs = kWaitMs) const {
    if (WaitForSingleObject(fProcess.hProcess, AWaitMs) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(fProcess.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION fProcess{};
  bool fStarted = false;
};

// Polls (bounded) until the program's main window exists and has the given visibility.
HWND WaitForWindow(bool AVisible, const wchar_t* ACaption = L"KelvoRelay v1.0.2") {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (std::chrono::steady_clock::now() < end) {
    HWND window = FindWindowW(L"TfmMain", ACaption);
    if (window != nullptr && (IsWindowVisible(window) != FALSE) == AVisible) {
      return window;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

TEST(ProgramTest, SecondStartShowsTheHiddenFirstInstanceAndEnds) {
  TProgram first;
  ASSERT_TRUE(first.Started());
  HWND window = WaitForWindow(true);
  ASSERT_NE(window, nullptr) << "the first start shows its window";
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForWindow(false), window) << "closing hides it";

  TProgram second;
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_EQ(WaitForWindow(true), window) << "the first instance shows itself again";
  EXPECT_EQ(first.ExitCode(0), -1) << "and keeps running";

  PostMessageW(window, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(first.ExitCode(), 0);
}

TEST(ProgramTest, ExitEndsTheProgramAndTheNextStartRuns) {
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    TProgram program;
    ASSERT_TRUE(program.Started());
    HWND window = WaitForWindow(true);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_COMMAND, kExitCommand, 0);
    EXPECT_EQ(program.ExitCode(), 0);
    EXPECT_FALSE(IsWindow(window));
  }
}

// The row (1, 2, ...) of the stored static entry AText, or 0.
int StoredStaticRow(const std::wstring& AText) {
  for (int row = 1; row < 1000; ++row) {
    wchar_t value[256] = {};
    DWORD size = sizeof(value);
    const std::wstring name = L"StaticList" + std::to_wstring(row - 1);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Marlowin\\KelvoRelay", name.c_str(),
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
      return 0;
    }
    if (AText == value) {
      return row;
    }
  }
  return 0;
}

long RunCommand(const std::wstring& AArguments) {
  TProgram command(AArguments);
  return command.Started() ? command.ExitCode() : -2;
}

// Runs kelvorelay.exe with AArguments to its end and gives back what it printed on stdout, its
// lines ended by LF; AExitCode receives the exit code (-2: it did not start).
std::string CommandOutput(const std::wstring& AArguments, long& AExitCode) {
  AExitCode = -2;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inherit, 0)) {
    return {};
  }
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + ProgramPath() + L"\" " + AArguments;
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process) != FALSE;
  CloseHandle(writer);
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (started && ReadFile(reader, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    output.append(buffer, read);
  }
  CloseHandle(reader);
  if (started) {
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code)) {
      AExitCode = static_cast<long>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (std::size_t at; (at = output.find("\r\n")) != std::string::npos;) {
    output.erase(at, 1);
  }
  return output;
}

// Polls (bounded) until a relay started from kelvorelay.exe serves its pipe.
bool WaitForPipe() {
  TInstanceGuard guard(WideToUtf8(ProgramPath()));
  const std::wstring pipe = pipe_io::PipeName(guard.ShowRequestName());
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (WaitNamedPipeW(pipe.c_str(), 50)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The running relay's status answer over its pipe.
std::optional<TStatusReport> AskStatus() {
  TInstanceGuard guard(WideToUtf8(ProgramPath()));
  const auto answer =
      SendControlRequest(guard.ShowRequestName(), "status", std::chrono::milliseconds(10000));
  TStatusReport report;
  std::string error;
  if (!answer || !ParseStatusJson(*answer, report, error)) {
    return std::nullopt;
  }
  return report;
}

// Polls (bounded) until APredicate holds.
bool WaitUntil(const std::function<bool()>& APredicate) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::wstring WindowText(HWND AWindow) {
  wchar_t text[256] = {};
  GetWindowTextW(AWindow, text, 256);
  return text;
}

// The same commands reach the window and the headless relay through the instance's pipe.
TEST(ProgramTest, QuitAndTheSettingsOptionsReachTheRunningRelay) {
  const std::wstring entry = L"77,127.0.0.1,9077";
  for (const std::wstring mode : {L"", L"--headless"}) {
    SCOPED_TRACE(mode.empty() ? "window" : "headless");
    TProgram program(mode);
    ASSERT_TRUE(program.Started());
    HWND window = mode.empty() ? WaitForWindow(true) : nullptr;
    ASSERT_TRUE(mode.empty() ? window != nullptr : WaitForPipe());

    // Its status answer says which it is.
    const std::optional<TStatusReport> status = AskStatus();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->Mode, mode.empty() ? "window" : "headless");
    EXPECT_EQ(status->Version, "1.0.2");

    // A change is taken by the running relay and saved at once.
    ASSERT_EQ(StoredStaticRow(entry), 0) << "left over from an earlier run";
    EXPECT_EQ(RunCommand(L"--add-static " + entry), 0);
    const int row = StoredStaticRow(entry);
    EXPECT_NE(row, 0) << "saved while the relay runs";
    const std::optional<TStatusReport> taken = AskStatus();
    ASSERT_TRUE(taken.has_value());
    ASSERT_GE(static_cast<int>(taken->Controllers.size()), row);
    const TStatusRow& listed = taken->Controllers[static_cast<std::size_t>(row - 1)];
    EXPECT_EQ(listed.NADText, "77");
    EXPECT_EQ(listed.Port, 9077);
    EXPECT_TRUE(listed.Static);
    EXPECT_FALSE(listed.Timeout.has_value());
    EXPECT_EQ(RunCommand(L"--remove-static " + std::to_wstring(row)), 0);
    EXPECT_EQ(StoredStaticRow(entry), 0);
    EXPECT_EQ(program.ExitCode(0), -1) << "the relay keeps running";

    // --quit comes back once the relay has ended as "Exit" ends it.
    EXPECT_EQ(RunCommand(L"--quit"), 0);
    EXPECT_EQ(program.ExitCode(), 0);
    EXPECT_TRUE(window == nullptr || !IsWindow(window));
    EXPECT_EQ(RunCommand(L"--quit"), 1) << "nothing runs any more";
  }
}

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

std::optional<std::wstring> RegistryText(const wchar_t* AKey, const wchar_t* AName) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, AKey, AName, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

bool RegistryValueExists(const wchar_t* AKey, const wchar_t* AName) {
  return RegGetValueW(HKEY_CURRENT_USER, AKey, AName, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// Start at sign-in: the Run value "KelvoRelay" holds the quoted path and --hidden; on and off
// may be given again, off when there is nothing is no error, and off takes away that value alone.
TEST(ProgramTest, AutostartWritesTheRunValueAndOffRemovesExactlyIt) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KelvoRelay");
  const std::wstring neighbour = L"\"C:\\Other\\other.exe\" /background";
  RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KelvoRelayTestNeighbour", REG_SZ, neighbour.c_str(),
                  static_cast<DWORD>((neighbour.size() + 1) * sizeof(wchar_t)));

  const std::string on =
      "Start at sign-in: on (HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run, "
      "value KelvoRelay)\n";
  long code = -1;
  EXPECT_EQ(CommandOutput(L"--autostart off", code), "Start at sign-in: off\n");
  EXPECT_EQ(code, 0) << "off when nothing is there";
  EXPECT_FALSE(RegistryValueExists(kRunKey, L"KelvoRelay"));
  for (int time = 0; time < 2; ++time) {
    EXPECT_EQ(CommandOutput(L"--autostart on", code), on);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RegistryText(kRunKey, L"KelvoRelay"), L"\"" + ProgramPath() + L"\" --hidden");
  }
  EXPECT_NE(CommandOutput(L"--show-settings", code).find(on), std::string::npos);

  // Switched off in Task Manager's Startup list: reported, and "on" switches it on again.
  const std::vector<BYTE> switchedOff = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  RegSetKeyValueW(HKEY_CURRENT_USER, kApprovedKey, L"KelvoRelay", REG_BINARY, switchedOff.data(),
                  static_cast<DWORD>(switchedOff.size()));
  EXPECT_NE(CommandOutput(L"--show-settings", code).find("switched off by the desktop"),
            std::string::npos);
  EXPECT_EQ(CommandOutput(L"--autostart on", code), on);
  EXPECT_FALSE(RegistryValueExists(kApprovedKey, L"KelvoRelay"));
  EXPECT_EQ(RunCommand(L"--autostart yes"), 2);

  for (int time = 0; time < 2; ++time) {
    EXPECT_EQ(CommandOutput(L"--autostart off", code), "Start at sign-in: off\n");
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(RegistryValueExists(kRunKey, L"KelvoRelay"));
    EXPECT_EQ(RegistryText(kRunKey, L"KelvoRelayTestNeighbour"), neighbour);
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KelvoRelayTestNeighbour");
}

// --hidden: the program runs with its icon and without its window until "Restore".
TEST(ProgramTest, HiddenStartKeepsTheWindowInTheNotificationAreaUntilRestore) {
  TProgram program(L"--hidden");
  ASSERT_TRUE(program.Started());
  HWND window = nullptr;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (window == nullptr && std::chrono::steady_clock::now() < end) {
    window = FindWindowW(L"TfmMain", L"KelvoRelay v1.0.2");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(window, nullptr);
  // Answered only from the message loop, which runs after the window would have been shown.
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, kWaitMs, &answer), 0);
  EXPECT_FALSE(IsWindowVisible(window));
  // The shell knows the icon by its window and identifier 0.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof(icon);
  icon.hWnd = window;
  icon.uID = 0;
  icon.uFlags = NIF_TIP;
  wcscpy(icon.szTip, L"KelvoRelay");
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon)) << "the icon is in the notification area";

  PostMessageW(window, WM_COMMAND, kRestoreCommand, 0);
  EXPECT_EQ(WaitForWindow(true), window) << "Restore shows the window";
  PostMessageW(window, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

// The window started while the relay runs as a service attaches to it: the relay's rows,
// Setup's OK taken and saved by the relay (commands meanwhile told "busy"), the relay's end
// shown and its return followed, a second start bringing the window forward, and "Exit"
// leaving the relay running.
TEST(ProgramTest, TheWindowAttachesToAHeadlessRelay) {
  const std::wstring entry = L"1001,127.0.0.1,9";
  ASSERT_EQ(RunCommand(L"--add-static " + entry), 0) << "no relay runs: the settings change";
  auto relay = std::make_unique<TProgram>(L"--headless");
  ASSERT_TRUE(WaitForPipe());
  const std::optional<TStatusReport> status = AskStatus();
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->Mode, "headless");
  const int row = StoredStaticRow(entry);
  ASSERT_NE(row, 0);
  ASSERT_GE(static_cast<int>(status->Controllers.size()), row);
  EXPECT_EQ(status->Controllers[static_cast<std::size_t>(row - 1)].NAD, 1001u);

  TProgram view;
  HWND window = WaitForWindow(true, L"KelvoRelay v1.0.2 (service)");
  ASSERT_NE(window, nullptr) << "the window attaches, captioned so";
  HWND list = GetDlgItem(window, idListView2);
  EXPECT_TRUE(WaitUntil([&] {
    return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) ==
           static_cast<LRESULT>(status->Controllers.size());
  })) << "the relay's controllers are listed";
  TProgram second;
  EXPECT_EQ(second.ExitCode(), 0) << "a second start brings the attached window forward";
  EXPECT_EQ(view.ExitCode(0), -1);

  // Setup over the relay's settings; its OK is saved by the relay.
  const std::wstring key = L"Software\\Marlowin\\KelvoRelay";
  const std::wstring value = L"StaticList" + std::to_wstring(row - 1);
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), value.c_str()), ERROR_SUCCESS);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(idButton1, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, idButton1)));
  HWND setup = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    setup = FindWindowW(L"#32770", L"Setup");
    return setup != nullptr && IsWindowVisible(setup);
  }));
  EXPECT_EQ(RunCommand(L"--add-static 5,127.0.0.1,5"), 1) << "busy while Setup is open";
  SendMessageW(GetDlgItem(setup, TfmOptions::idcbCreateDebugLogs), BM_SETCHECK, BST_CHECKED, 0);
  PostMessageW(setup, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(setup, IDOK)));
  EXPECT_TRUE(WaitUntil([&] { return StoredStaticRow(entry) != 0; })) << "saved by the relay";
  EXPECT_TRUE(WaitUntil([] {
    const auto now = AskStatus();
    return now && now->DebugLog;
  }));
  EXPECT_EQ(StoredStaticRow(L"5,127.0.0.1,5"), 0) << "the busy command changed nothing";

  // The relay ends: the window says so and offers no Setup; it attaches again when it is back.
  HWND error = GetDlgItem(window, idlblError);
  EXPECT_EQ(RunCommand(L"--quit"), 0);
  EXPECT_EQ(relay->ExitCode(), 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(error) != FALSE; }));
  EXPECT_EQ(WindowText(error), L"The relay has ended");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, idButton1)));
  relay = std::make_unique<TProgram>(L"--headless");
  ASSERT_TRUE(WaitForPipe());
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(error) == FALSE; }));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, idButton1)));

  // "Exit" ends the window only.
  PostMessageW(window, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(view.ExitCode(), 0);
  EXPECT_EQ(relay->ExitCode(0), -1) << "the relay keeps running";
  EXPECT_TRUE(AskStatus().has_value());
  EXPECT_EQ(RunCommand(L"--remove-static " + std::to_wstring(StoredStaticRow(entry))), 0);
  EXPECT_EQ(RunCommand(L"--quit"), 0);
  EXPECT_EQ(relay->ExitCode(), 0);
}

}  // namespace
}  // namespace kelvo::test
