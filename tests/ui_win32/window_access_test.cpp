// The Win32 window for keyboard and screen-reader users and at other dpis: the names the
// standard controls' accessibility reads (window texts), copying rows with Ctrl+C and the
// context menu, F1 and Esc, a per-monitor dpi change, labels that fit their texts, About's
// version line and the banner's line.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include "app/relay_host.h"
#include "present/main_window_design.h"
#include "tables/nat_info.h"
#include "ui_win32/lamp_panel.h"
#include "ui_win32/report_list.h"
#include "ui_win32/status_lists.h"
#include "ui_win32/win32_text.h"
#include "win32_test_support.h"

namespace kelvo::test {
namespace {

// WM_KEYF1: what the system posts to the focused window for a press of F1 (not in the headers).
constexpr UINT kKeyF1 = 0x004D;

// The text the tooltip control owned by AOwner shows for the child ATool ("" without one).
std::wstring ToolTipText(HWND AOwner, HWND ATool) {
  struct TSearch {
    HWND Owner;
    HWND Tip = nullptr;
  } search{AOwner};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND AWindow, LPARAM ASearch) -> BOOL {
        auto& found = *reinterpret_cast<TSearch*>(ASearch);
        wchar_t name[64] = {};
        GetClassNameW(AWindow, name, 64);
        if (std::wstring(name) == TOOLTIPS_CLASSW && GetWindow(AWindow, GW_OWNER) == found.Owner) {
          found.Tip = AWindow;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.Tip == nullptr) {
    return {};
  }
  wchar_t text[256] = {};
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = AOwner;
  tool.uId = reinterpret_cast<UINT_PTR>(ATool);
  tool.lpszText = text;
  SendMessageW(search.Tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  return text;
}

std::wstring ClipboardText(HWND AOwner) {
  std::wstring text;
  if (!OpenClipboard(AOwner)) {
    return L"<clipboard busy>";
  }
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void EmptyTheClipboard(HWND AOwner) {
  if (OpenClipboard(AOwner)) {
    EmptyClipboard();
    CloseClipboard();
  }
}

void SelectRows(HWND AList, std::initializer_list<int> ARows) {
  LVITEMW none{};
  none.stateMask = LVIS_SELECTED;
  SendMessageW(AList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  for (int row : ARows) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(AList, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
  }
}

// Ctrl+C on the list: the key goes to the list as typed keys do, with Ctrl held.
void PressCtrlC(HWND AList) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  const BYTE before = keys[VK_CONTROL];
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(AList, WM_KEYDOWN, 'C', 0);
  keys[VK_CONTROL] = before;
  SetKeyboardState(keys);
}

class WindowAccessTest : public ::testing::Test {
 protected:
  WindowAccessTest() { fRig.Window().ShowMainWindow(); }
  HWND Child(int AId) { return fRig.Window().Child(AId); }
  void AddEntry(std::unique_ptr<TNATInfoList> TAddressTables::*ATable, std::int32_t ANAD,
                std::int32_t AAlias, const std::string& AHost, std::uint16_t APort,
                std::int32_t ATimeout) {
    TAddressTables& tables = fRig.Window().Host().Tables();
    auto entry = std::make_unique<TNATInfo>(ANAD, AHost, APort, ATimeout);
    entry->SetNADAlias(AAlias);
    const TAddressTables::TLock lock(tables);
    (tables.*ATable)->Add(std::move(entry));
  }
  TWindowRig fRig;
};

TEST_F(WindowAccessTest, ListsLampsGaugeAndLabelsCarryTheirNames) {
  EXPECT_EQ(WindowTextUtf8(Child(idGauge1)), "Message rate") << "before the first tick";
  EXPECT_EQ(WindowTextUtf8(Child(idListView1)), "Applications (LAN)");
  EXPECT_EQ(WindowTextUtf8(Child(idListView2)), "Controllers (WAN)");
  struct TLampCase {
    int Id;
    TLamp Lamp;
    TLedColor Color;
    const char* Name;
  };
  const TLampCase lamps[] = {
      {idimgLANRx, TLamp::LANRx, TLedColor::Red, "LAN receive"},
      {idimgWANRx, TLamp::WANRx, TLedColor::Red, "WAN receive"},
      {idimgLANTx, TLamp::LANTx, TLedColor::Green, "LAN transmit"},
      {idimgWANTx, TLamp::WANTx, TLedColor::Green, "WAN transmit"},
  };
  for (const TLampCase& lamp : lamps) {
    SCOPED_TRACE(lamp.Name);
    EXPECT_EQ(WindowTextUtf8(Child(lamp.Id)), std::string(lamp.Name) + ": idle");
    fRig.Window().SetLed(lamp.Lamp, lamp.Color);
    EXPECT_EQ(WindowTextUtf8(Child(lamp.Id)), std::string(lamp.Name) + ": active");
    ASSERT_TRUE(PumpUntil([&] { return WindowTextUtf8(Child(lamp.Id)).ends_with(": idle"); }));
  }
  fRig.Window().Status().ShowRate(25);
  EXPECT_EQ(WindowTextUtf8(Child(idGauge1)), "Message rate: 25 msg/sec");
  EXPECT_EQ(SendMessageW(Child(idGauge1), PBM_GETPOS, 0, 0), 20);
  // The address and the error line are statics: their text is their name.
  EXPECT_EQ(WindowTextUtf8(Child(idlblError)), "Error opening port 8442!");
  // Its tooltip says why the port cannot be had; the status tick follows the relay.
  fRig.Window().ShowPortErrorReason("cannot bind 0.0.0.0:8442: taken");
  EXPECT_EQ(ToolTipText(fRig.Window().Handle(), Child(idlblError)),
            L"cannot bind 0.0.0.0:8442: taken");
  fRig.Window().timSystemTimer();
  EXPECT_EQ(ToolTipText(fRig.Window().Handle(), Child(idlblError)),
            Widen(fRig.Window().Host().NetworkStatus().Error));
  if (fRig.Window().Host().Endpoint().IsOpen()) {
    EXPECT_FALSE(WindowTextUtf8(Child(idlblLocalIP)).empty()) << "the bound address";
  }
}

TEST_F(WindowAccessTest, CtrlCAndContextMenuCopySelectedOrAllRows) {
  AddEntry(&TAddressTables::fStaticTable, 1001, 1001, "localhost", 8442, -1);
  AddEntry(&TAddressTables::fPushTable, 2000, 2000, "127.0.0.3", 9001, 598);
  AddEntry(&TAddressTables::fPushTable, 100, 101, "127.0.0.4", 9002, 600);
  fRig.Window().timSystemTimer();
  HWND list = Child(idListView2);
  const std::wstring titles = L"No.\tNAD\tIP address:port\tTimeout\r\n";
  const std::wstring row1 = L"1.\t1001\tlocalhost:8442\tstatic\r\n";
  const std::wstring row2 = L"2.\t2000\t127.0.0.3:9001\t598\r\n";
  const std::wstring row3 = L"3.\t100/101\t127.0.0.4:9002\t600\r\n";

  EmptyTheClipboard(fRig.Handle());
  PressCtrlC(list);
  EXPECT_EQ(ClipboardText(fRig.Handle()), titles + row1 + row2 + row3) << "no selection: all";
  SelectRows(list, {2, 0});
  EXPECT_EQ(SelectedRows(list), (std::vector<int>{0, 2})) << "several rows can be selected";
  PressCtrlC(list);
  EXPECT_EQ(ClipboardText(fRig.Handle()), titles + row1 + row3);
  EmptyTheClipboard(fRig.Handle());
  SendMessageW(list, WM_KEYDOWN, 'C', 0);  // C without Ctrl copies nothing
  EXPECT_EQ(ClipboardText(fRig.Handle()), L"");

  // The context menu: one item, "Copy", which copies the same way.
  SelectRows(list, {1});
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
      PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
      PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
    }
  });
  RECT place{};
  GetWindowRect(list, &place);
  SendMessageW(fRig.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
               MAKELPARAM(place.left + 20, place.top + 40));
  KillTimer(nullptr, timer);
  EXPECT_EQ(items, (std::vector<std::wstring>{L"Copy"}));
  EXPECT_EQ(ClipboardText(fRig.Handle()), titles + row2);
}

TEST_F(WindowAccessTest, F1OpensHelpAndEscHidesAsTheCloseBoxDoes) {
  bool helpShown = false;
  {
    TShowingScript script({[&](TModalForm& AForm) {
      helpShown = &AForm == &fRig.Help();
      Click(AForm.Item(IDCANCEL));
    }});
    // The system turns F1 into WM_KEYF1 for the focused control, whose default handling asks
    // for help up the parent chain.
    SetFocus(Child(idListView1));
    PostMessageW(Child(idListView1), kKeyF1, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return script.Ran() == 1; }));
  }
  EXPECT_TRUE(helpShown);

  // Esc through the program's message loop, which hands keys to the dialog manager first.
  ASSERT_TRUE(IsWindowVisible(fRig.Handle()));
  SetFocus(Child(idListView2));
  PostMessageW(Child(idListView2), WM_KEYDOWN, VK_ESCAPE, 0);
  MSG message{};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (IsWindowVisible(fRig.Handle()) && std::chrono::steady_clock::now() < end) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageW(fRig.Handle(), &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    Sleep(5);
  }
  EXPECT_FALSE(IsWindowVisible(fRig.Handle()));
  EXPECT_TRUE(IsWindow(fRig.Handle()));
  EXPECT_TRUE(fRig.Window().Host().Endpoint().IsOpen()) << "hidden, still relaying";
}

// WM_DPICHANGED as a move to a 144-dpi monitor sends it, with a suggested frame that runs off
// the screen: the window stays on the work area, every part stands where the shared rule puts
// it for the client size and dpi, the pictures are the 1.5x drawings and the fonts grow.
TEST_F(WindowAccessTest, PerMonitorDpiChangeRelaysOutAndStaysOnScreen) {
  HWND window = fRig.Handle();
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  for (int dpi : {144, 120, 96}) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    const int width = ScaleFrom96(872 + 16, dpi);
    const int height = ScaleFrom96(456 + 39, dpi);
    RECT suggested{work.right - width / 2, 40, work.right - width / 2 + width, 40 + height};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    PumpFor(std::chrono::milliseconds(20));
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_GE(frame.left, work.left);
    EXPECT_GE(frame.top, work.top);
    EXPECT_LE(frame.right, work.right);
    EXPECT_LE(frame.bottom, work.bottom);
    RECT client{};
    GetClientRect(window, &client);
    const std::vector<TBounds> places = MainWindowLayout(client.right, client.bottom, dpi);
    for (const TPartSpec& part : MainWindowParts()) {
      SCOPED_TRACE(part.Name);
      const TBounds& expected = places[static_cast<std::size_t>(part.Id - idImage1)];
      const TBounds seen = ChildBounds(Child(part.Id));
      EXPECT_EQ(seen.Left, expected.Left);
      EXPECT_EQ(seen.Top, expected.Top);
      if (part.Design.Width != 0 && part.Design.Height != 0 && part.Id != idlblMsgCount) {
        EXPECT_EQ(seen.Width, expected.Width);
        EXPECT_EQ(seen.Height, expected.Height);
      }
    }
    const TPicture* lamp = GetPicture(Child(idimgLANRx));
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(lamp->Width(), dpi == 96 ? 16 : 24) << "the drawing for this dpi";
    EXPECT_EQ(GetPicture(Child(idImage3))->Width(), dpi == 96 ? 111 : 167);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Child(idButton1), WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, -ScaleFrom96(11, dpi));
    // The designed widths, scaled, or narrowed to fit a list kept on the screen: never a
    // horizontal scroll bar for want of room.
    RECT inside{};
    GetClientRect(Child(idListView1), &inside);
    const auto widths = StatusColumnWidths(inside.right, dpi);
    for (int column = 0; column < kStatusColumnCount; ++column) {
      EXPECT_EQ(ColumnWidth(Child(idListView1), column), widths[static_cast<std::size_t>(column)]);
    }
  }
}

// Labels and check boxes are at least as wide as their texts in the face the system really
// uses, and About reads "version 1.0.2" with a gap, its title as high as its font.
TEST_F(WindowAccessTest, LabelsFitTheirTexts) {
  struct TControl {
    TModalForm* Form;
    int Id;
    bool CheckBox;
  };
  const TControl controls[] = {
      {&fRig.EditNAT(), TfmEditNAT::idLabel1, false},
      {&fRig.EditNAT(), TfmEditNAT::idLabel2, false},
      {&fRig.EditNAT(), TfmEditNAT::idLabel3, false},
      {&fRig.Options(), TfmOptions::idLabel1, false},
      {&fRig.Options(), TfmOptions::idLabel2, false},
      {&fRig.Options(), TfmOptions::idcbCreateDebugLogs, true},
  };
  for (const TControl& control : controls) {
    HWND item = control.Form->Item(control.Id);
    SCOPED_TRACE(WindowTextUtf8(item));
    const int box = control.CheckBox ? GetSystemMetrics(SM_CXMENUCHECK) : 0;
    EXPECT_GE(ChildBounds(item).Width, TextWidth(item) + box);
  }
  // No caption runs under the field beside it.
  struct TPair {
    TModalForm* Form;
    int Label;
    int Field;
  };
  const TPair pairs[] = {
      {&fRig.EditNAT(), TfmEditNAT::idLabel1, TfmEditNAT::idedNAD},
      {&fRig.EditNAT(), TfmEditNAT::idLabel2, TfmEditNAT::idedHost},
      {&fRig.EditNAT(), TfmEditNAT::idLabel3, TfmEditNAT::idedPort},
      {&fRig.Options(), TfmOptions::idLabel1, TfmOptions::idcbEthAdapter},
  };
  for (const TPair& pair : pairs) {
    HWND label = pair.Form->Item(pair.Label);
    SCOPED_TRACE(WindowTextUtf8(label));
    EXPECT_LE(ChildBounds(label).Left + TextWidth(label),
              ChildBounds(pair.Form->Item(pair.Field)).Left);
  }
  TfmAbout& about = fRig.About();
  const TBounds word = ChildBounds(about.Item(TfmAbout::idLabel3));
  const TBounds number = ChildBounds(about.Item(TfmAbout::idlblVersionNum));
  EXPECT_EQ(WindowTextUtf8(about.Item(TfmAbout::idLabel3)), "version");
  EXPECT_EQ(WindowTextUtf8(about.Item(TfmAbout::idlblVersionNum)), "1.0.2");
  EXPECT_GE(number.Left - word.Right(), 5) << "\"version 1.0.2\", not \"version1.0.2\"";
  EXPECT_LE(word.Right(), 284);
  HWND title = about.Item(TfmAbout::idlblProgramName);
  HDC dc = GetDC(title);
  HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(title, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(title, dc);
  EXPECT_GE(ChildBounds(title).Height, metrics.tmHeight) << "the \"y\" of KelvoRelay stays whole";
}

// The banner's grey line runs whole under the logo.
TEST_F(WindowAccessTest, BannerLineRunsWholeUnderTheLogo) {
  HWND window = fRig.Handle();
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpFor(std::chrono::milliseconds(50));
  HDC dc = GetDC(window);
  int grey = 0;
  int samples = 0;
  for (int x = 4; x < 868; x += 8) {
    ++samples;
    if (GetPixel(dc, x, 27) == RGB(0xA0, 0xA0, 0xA0)) {
      ++grey;
    }
  }
  ReleaseDC(window, dc);
  EXPECT_EQ(grey, samples);
}

}  // namespace
}  // namespace kelvo::test
