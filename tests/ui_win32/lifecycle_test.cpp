// The window's life in the notification area: the icon and its messages, closing that only
// hides, "Exit" and the end of the session that save the settings, the show request of a
// second start, and the error handler that never shows a dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <shellapi.h>

#include <fstream>

#include "app/relay_host.h"
#include "ui_win32/app_exception.h"
#include "ui_win32/tray_icon.h"
#include "win32_test_support.h"

namespace kelvo::test {
namespace {

class LifecycleTest : public ::testing::Test {
 protected:
  TWindowRig fRig;
  HWND Window() { return fRig.Handle(); }
  bool Visible() { return IsWindowVisible(Window()) != FALSE; }
  void Hide() {
    ShowWindow(Window(), SW_HIDE);
    ASSERT_FALSE(Visible());
  }
};

TEST_F(LifecycleTest, IconAddedWithItsCallbackAndTip) {
  const TTrayIcon& tray = fRig.Window().Tray();
  EXPECT_TRUE(tray.Added());
  const NOTIFYICONDATAW& data = tray.Data();
  EXPECT_EQ(data.hWnd, Window());
  EXPECT_EQ(data.uID, 0u);
  EXPECT_EQ(data.uFlags, 7u) << "message, icon and tip";
  EXPECT_EQ(data.uCallbackMessage, 1026u);
  EXPECT_STREQ(data.szTip, L"KelvoRelay");
  EXPECT_NE(data.hIcon, nullptr);

  // While the relay cannot listen the icon is the alert variant from the resources.
  TTrayIcon& icon = fRig.Window().Tray();
  const HICON plain = data.hIcon;
  icon.SetAlert(true);
  EXPECT_NE(icon.Data().hIcon, plain);
  EXPECT_NE(icon.Data().hIcon, nullptr);
  icon.SetAlert(false);
  EXPECT_EQ(icon.Data().hIcon, plain);
}

TEST_F(LifecycleTest, LeftButtonShowsOnlyOtherMouseMessagesAreIgnored) {
  Hide();
  // Button released, double click, movement, middle button.
  for (LPARAM ignored : {514, 515, 512, 519, 520}) {
    SendMessageW(Window(), 1026, 0, ignored);
    EXPECT_FALSE(Visible()) << "mouse message " << ignored;
  }
  SendMessageW(Window(), 1026, 0, 513);
  EXPECT_TRUE(Visible());
}

TEST_F(LifecycleTest, RightButtonOpensRestoreAndExitThenPostsWmNull) {
  Hide();
  // The menu runs its own loop inside the SendMessage; a timer inside that loop reads the
  // menu that is open and closes it.
  static std::vector<std::wstring> items;
  items.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR, DWORD) {
    if (HWND popup = FindWindowW(L"#32768", nullptr)) {
      auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
      for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        items.emplace_back(text);
      }
    }
    EndMenu();
  });
  SendMessageW(Window(), 1026, 0, 516);
  KillTimer(nullptr, timer);
  EXPECT_EQ(items, (std::vector<std::wstring>{L"Restore", L"Exit"}));
  MSG message{};
  EXPECT_TRUE(PeekMessageW(&message, Window(), WM_NULL, WM_NULL, PM_REMOVE))
      << "WM_NULL posted after the menu closed";
  EXPECT_FALSE(Visible()) << "dismissing the menu changes nothing";
}

TEST_F(LifecycleTest, RestoreShowsAndTaskbarRestartAddsTheIconAgain) {
  Hide();
  SendMessageW(Window(), WM_COMMAND, kRestoreCommand, 0);
  EXPECT_TRUE(Visible());
  fRig.Window().Tray().Remove();  // as a new taskbar knows nothing of the icon
  SendMessageW(Window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(fRig.Window().Tray().Added());
}

TEST_F(LifecycleTest, CloseBoxAltF4AndCloseButtonOnlyHide) {
  struct TCloseWay {
    const char* Name;
    void (*Close)(HWND);
  };
  const TCloseWay ways[] = {
      {"WM_CLOSE", [](HWND AWindow) { SendMessageW(AWindow, WM_CLOSE, 0, 0); }},
      {"SC_CLOSE", [](HWND AWindow) { SendMessageW(AWindow, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Close button", [](HWND AWindow) { Click(GetDlgItem(AWindow, idButton3)); }},
  };
  for (const TCloseWay& way : ways) {
    SCOPED_TRACE(way.Name);
    fRig.Window().ShowMainWindow();
    ASSERT_TRUE(Visible());
    way.Close(Window());
    PumpFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(Visible());
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_TRUE(fRig.Window().Host().Endpoint().IsOpen()) << "the relay keeps running";
  }
}

TEST_F(LifecycleTest, ShowRequestShowsAHiddenWindowAndRestoresAMinimizedOne) {
  Hide();
  SendMessageW(Window(), 1025, 0, 0);
  EXPECT_TRUE(Visible());
  ShowWindow(Window(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(Window()));
  SendMessageW(Window(), 1025, 0, 0);
  EXPECT_FALSE(IsIconic(Window()));
  // Showing through the icon leaves a minimized window minimized.
  ShowWindow(Window(), SW_MINIMIZE);
  SendMessageW(Window(), 1026, 0, 513);
  EXPECT_TRUE(IsIconic(Window()));
}

TEST_F(LifecycleTest, ExitEndsTheLoopSavesTheSettingsAndRemovesTheIcon) {
  fRig.Window().SetLeft(123);
  fRig.Window().SetTop(77);
  SendMessageW(Window(), WM_COMMAND, kExitCommand, 0);
  EXPECT_TRUE(fRig.Window().Exiting());
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop ends";
  fRig.Window().FormDestroy();
  EXPECT_FALSE(fRig.Window().Tray().Added());
  EXPECT_FALSE(fRig.Window().Host().Endpoint().IsOpen());
  TRegistryStore settings(kTestSettingsKey);
  ASSERT_TRUE(settings.OpenKey(false));
  EXPECT_EQ(settings.ReadInteger("Left"), 123);
  EXPECT_EQ(settings.ReadInteger("Top"), 77);
}

TEST_F(LifecycleTest, LogoffIsNeverRefusedAndTheEndOfTheSessionSaves) {
  fRig.Window().SetTop(55);
  EXPECT_EQ(SendMessageW(Window(), WM_QUERYENDSESSION, 0, 0), TRUE);
  EXPECT_TRUE(fRig.Window().Tray().Added()) << "only asked, nothing ended yet";
  SendMessageW(Window(), WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(fRig.Window().Tray().Added());
  TRegistryStore settings(kTestSettingsKey);
  ASSERT_TRUE(settings.OpenKey(false));
  EXPECT_EQ(settings.ReadInteger("Top"), 55);
}

// A handler error goes to the debug log while it is on, and is dropped otherwise; never a
// dialog, and the window whose handler failed still opens.
TEST(AppOnExceptionTest, AnUnreadableReadmeIsLoggedOnlyWhileDebugLogsAreOn) {
  for (const bool debugLogs : {true, false}) {
    SCOPED_TRACE(debugLogs ? "debug logs on" : "debug logs off");
    TWindowRig rig(debugLogs);
    const std::string logFile = rig.Log().LogFile();
    DeleteFileA(logFile.c_str());
    const std::string readme = logFile + ".readme.txt";
    std::ofstream(readme) << "text";
    // Held open for writing by another program: Help cannot open it.
    HANDLE writer = CreateFileA(readme.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    rig.Help().SetHelpFile(readme);
    TShowingScript script({[](TModalForm& AForm) { AForm.CloseWith(IDCANCEL); }});
    EXPECT_EQ(rig.Help().ShowModal(rig.Handle()), IDCANCEL);
    EXPECT_EQ(script.Ran(), 1u) << "the window still opened";
    CloseHandle(writer);
    EXPECT_EQ(GetWindowTextLengthW(rig.Help().Item(TfmHelp::idMemo1)), 0);
    std::ifstream log(logFile);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find(readme) != std::string::npos, debugLogs) << text;
    DeleteFileA(readme.c_str());
  }
}

}  // namespace
}  // namespace kelvo::test
