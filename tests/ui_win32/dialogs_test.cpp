// The dialogs under Wine: their places at 96 dpi, OK and Cancel (and Esc, and the close box),
// Setup's apply sequence through the main window, About's links and Help's read-me.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <fstream>

#include "app/relay_host.h"
#include "ui_win32/report_list.h"
#include "ui_win32/shell_open.h"
#include "ui_win32/win32_text.h"
#include "win32_test_support.h"

namespace kelvo::test {
namespace {

struct TPlace {
  int Id;
  const char* Name;
  TBounds Bounds;
  // A label keeps its designed corner (its right edge when right-aligned, its width following
  // its text) and may grow to fit its text where the substituted font is wider than the
  // designed one.
  // A field right of a label keeps its right edge and gives way to a wider caption.
  enum { Fixed, Label, RightLabel, LeftOfRight, Field } Kind = Fixed;
};

void ExpectPlaces(const TModalForm& AForm, std::initializer_list<TPlace> APlaces, int AWidth,
                  int AHeight) {
  RECT client{};
  GetClientRect(AForm.Handle(), &client);
  EXPECT_EQ(client.right, AWidth);
  EXPECT_EQ(client.bottom, AHeight);
  for (const TPlace& place : APlaces) {
    SCOPED_TRACE(place.Name);
    HWND control = AForm.Item(place.Id);
    ASSERT_NE(control, nullptr);
    const TBounds bounds = ChildBounds(control);
    switch (place.Kind) {
      case TPlace::Fixed:
        EXPECT_EQ(bounds, place.Bounds);
        break;
      case TPlace::Label:
        EXPECT_EQ(bounds.Left, place.Bounds.Left);
        EXPECT_GE(bounds.Width, place.Bounds.Width);
        break;
      case TPlace::RightLabel:
        EXPECT_EQ(bounds.Right(), place.Bounds.Right());
        EXPECT_GT(bounds.Width, 0);
        break;
      case TPlace::Field:
        EXPECT_EQ(bounds.Right(), place.Bounds.Right());
        EXPECT_GE(bounds.Left, place.Bounds.Left);
        break;
      case TPlace::LeftOfRight:
        EXPECT_LE(bounds.Right(), place.Bounds.Right());
        EXPECT_GT(bounds.Width, 0);
        break;
    }
    EXPECT_EQ(bounds.Top, place.Bounds.Top);
    EXPECT_EQ(bounds.Height, place.Bounds.Height);
  }
}

std::string FontFace(HWND AControl, int& AHeight) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(AControl, WM_GETFONT, 0, 0)), sizeof(font),
             &font);
  AHeight = font.lfHeight;
  return Narrow(font.lfFaceName);
}

// The dialog frame's centre lies on the main window's.
void ExpectCentredOn(HWND ADialog, HWND AOwner) {
  RECT dialog{};
  RECT owner{};
  GetWindowRect(ADialog, &dialog);
  GetWindowRect(AOwner, &owner);
  EXPECT_NEAR((dialog.left + dialog.right) / 2, (owner.left + owner.right) / 2, 1);
  EXPECT_NEAR((dialog.top + dialog.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
}

class DialogsTest : public ::testing::Test {
 protected:
  DialogsTest() { fRig.Window().ShowMainWindow(); }
  TWindowRig fRig;
};

TEST_F(DialogsTest, EditorPlacesCaptionsAndResults) {
  TfmEditNAT& editor = fRig.EditNAT();
  ExpectPlaces(editor,
               {{TfmEditNAT::idLabel1, "Label1", {8, 11, 54, 13}, TPlace::Label},
                {TfmEditNAT::idedNAD, "edNAD", {74, 8, 71, 21}, TPlace::Field},
                {TfmEditNAT::idLabel2, "Label2", {8, 38, 61, 13}, TPlace::Label},
                {TfmEditNAT::idedHost, "edHost", {74, 35, 127, 21}, TPlace::Field},
                {TfmEditNAT::idLabel3, "Label3", {224, 38, 24, 13}, TPlace::Label},
                {TfmEditNAT::idedPort, "edPort", {254, 35, 59, 21}, TPlace::Field},
                {IDOK, "btnOK", {162, 84, 75, 25}},
                {IDCANCEL, "Button2", {243, 84, 75, 25}}},
               326, 116);
  int height = 0;
  EXPECT_EQ(FontFace(editor.Item(TfmEditNAT::idedNAD), height), "Tahoma");
  EXPECT_EQ(height, -11) << "8 points at 96 dpi";
  for (int id : {TfmEditNAT::idedNAD, TfmEditNAT::idedPort}) {
    EXPECT_TRUE(GetWindowLongPtrW(editor.Item(id), GWL_STYLE) & ES_NUMBER);
  }

  struct TCase {
    const char* Name;
    bool EditMode;
    std::function<void(TModalForm&)> Close;
    INT_PTR Result;
    const wchar_t* Caption;
  };
  const TCase cases[] = {
      {"OK", false, [](TModalForm& AForm) { Click(AForm.Item(IDOK)); }, IDOK, L"Add"},
      {"Cancel", true, [](TModalForm& AForm) { Click(AForm.Item(IDCANCEL)); }, IDCANCEL, L"Edit"},
      {"Esc", false,
       [](TModalForm&) {
         PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
         PostMessageW(GetFocus(), WM_KEYUP, VK_ESCAPE, 0);
       },
       IDCANCEL, L"Add"},
      {"close box", true,
       [](TModalForm& AForm) { SendMessageW(AForm.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); },
       IDCANCEL, L"Edit"},
  };
  for (const TCase& way : cases) {
    SCOPED_TRACE(way.Name);
    editor.SetFields({"-5", "localhost", "4464"});
    editor.EditMode = way.EditMode;
    std::wstring caption;
    TShowingScript script({[&](TModalForm& AForm) {
      caption = WindowText(AForm.Handle());
      ExpectCentredOn(AForm.Handle(), fRig.Handle());
      way.Close(AForm);
    }});
    EXPECT_EQ(editor.ShowModal(fRig.Handle()), way.Result);
    EXPECT_EQ(caption, way.Caption);
    EXPECT_FALSE(IsWindowVisible(editor.Handle()));
    EXPECT_EQ(editor.Fields().NAD, "-5") << "the caller's negative NAD stays";
  }
}

TEST_F(DialogsTest, EditorOkWaitsForAllThreeFields) {
  TfmEditNAT& editor = fRig.EditNAT();
  editor.SetFields({});
  EXPECT_FALSE(IsWindowEnabled(editor.Item(IDOK)));
  // OK pressed while disabled does nothing; Enter neither; only Cancel ends this showing.
  TShowingScript script({[](TModalForm& AForm) {
    Click(AForm.Item(IDOK));
    SendMessageW(AForm.Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindowVisible(AForm.Handle()));
    SetWindowTextW(AForm.Item(TfmEditNAT::idedNAD), L"1");
    SetWindowTextW(AForm.Item(TfmEditNAT::idedHost), L"h");
    EXPECT_FALSE(IsWindowEnabled(AForm.Item(IDOK)));
    SetWindowTextW(AForm.Item(TfmEditNAT::idedPort), L"2");
    EXPECT_TRUE(IsWindowEnabled(AForm.Item(IDOK)));
    // Only ports 1 to 65535 and NADs in the signed 32-bit range: anything else would be
    // stored as another number than the one typed.
    for (const wchar_t* port : {L"99999", L"65536", L"0"}) {
      SetWindowTextW(AForm.Item(TfmEditNAT::idedPort), port);
      EXPECT_FALSE(IsWindowEnabled(AForm.Item(IDOK))) << Narrow(port);
    }
    SetWindowTextW(AForm.Item(TfmEditNAT::idedPort), L"65535");
    EXPECT_TRUE(IsWindowEnabled(AForm.Item(IDOK)));
    SetWindowTextW(AForm.Item(TfmEditNAT::idedNAD), L"2147483648");
    EXPECT_FALSE(IsWindowEnabled(AForm.Item(IDOK)));
    Click(AForm.Item(IDCANCEL));
  }});
  EXPECT_EQ(editor.ShowModal(fRig.Handle()), IDCANCEL);
  EXPECT_EQ(script.Ran(), 1u);
}

// Every showing starts in the NAD field with its text selected, wherever the last one ended.
TEST_F(DialogsTest, EditorFocusStartsInNADWithItsTextSelected) {
  TfmEditNAT& editor = fRig.EditNAT();
  for (const bool editMode : {false, true, false}) {
    SCOPED_TRACE(editMode ? "Edit" : "Add");
    editor.SetFields({"1001", "controller", "8442"});
    editor.EditMode = editMode;
    HWND focused = nullptr;
    DWORD start = 1;
    DWORD end = 0;
    TShowingScript script({[&](TModalForm& AForm) {
      focused = GetFocus();
      SendMessageW(AForm.Item(TfmEditNAT::idedNAD), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
      SetFocus(AForm.Item(TfmEditNAT::idedHost));  // the field used last this time
      Click(AForm.Item(IDCANCEL));
    }});
    editor.ShowModal(fRig.Handle());
    EXPECT_EQ(focused, editor.Item(TfmEditNAT::idedNAD));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 4u) << "\"1001\" selected";
  }
}

TEST_F(DialogsTest, SetupPlacesAndTabOrder) {
  TfmOptions& setup = fRig.Options();
  ExpectPlaces(setup,
               {{TfmOptions::idGroupBox1, "GroupBox1", {8, 8, 412, 305}},
                {TfmOptions::idLabel1, "Label1", {8 + 16, 8 + 19, 82, 13}, TPlace::Label},
                {TfmOptions::idLabel2, "Label2", {8 + 16, 8 + 64, 58, 13}, TPlace::Label},
                {TfmOptions::idlvStatic, "lvStatic", {8 + 16, 8 + 83, 306, 182}},
                {TfmOptions::idButton1, "Button1", {8 + 328, 8 + 83, 75, 25}},
                {TfmOptions::idButton2, "Button2", {8 + 328, 8 + 114, 75, 25}},
                {TfmOptions::idButton3, "Button3", {8 + 328, 8 + 145, 75, 25}},
                {TfmOptions::idcbCreateDebugLogs,
                 "cbCreateDebugLogs",
                 {8 + 16, 8 + 278, 119, 17},
                 TPlace::Label},  // grows to its caption in a wider face
                {IDOK, "btnOK", {267, 322 + 7, 75, 25}},
                {IDCANCEL, "btnCancel", {347, 322 + 7, 75, 25}}},
               428, 361);
  const TBounds combo = ChildBounds(setup.Item(TfmOptions::idcbEthAdapter));
  EXPECT_GE(combo.Left, 8 + 104);
  EXPECT_EQ(combo.Top, 8 + 16);
  EXPECT_EQ(combo.Right(), 8 + 104 + 299);
  int height = 0;
  EXPECT_EQ(FontFace(setup.Item(IDOK), height), "MS Sans Serif");
  EXPECT_EQ(height, -11);

  const char* const captions[] = {"No.", "NAD", "IP address", "Port"};
  const int widths[] = {36, 80, 120, 66};
  HWND list = setup.Item(TfmOptions::idlvStatic);
  for (int column = 0; column < 4; ++column) {
    EXPECT_EQ(ColumnCaption(list, column), captions[column]);
    EXPECT_EQ(ColumnWidth(list, column), widths[column]);
  }
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_TRUE(style & LVS_NOSORTHEADER);

  // Tab walks btnOK, btnCancel, cbEthAdapter, cbCreateDebugLogs, Button1, Button2, Button3,
  // lvStatic (Delete and Edit are disabled without a selection, so Tab passes them by).
  std::vector<int> order;
  HWND control = setup.Item(IDOK);
  for (int step = 0; step < 8; ++step) {
    order.push_back(GetDlgCtrlID(control));
    control = GetNextDlgTabItem(setup.Handle(), control, FALSE);
  }
  EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, TfmOptions::idcbEthAdapter,
                                     TfmOptions::idcbCreateDebugLogs, TfmOptions::idButton1,
                                     TfmOptions::idlvStatic, IDOK, IDCANCEL}));
}

// Setup through the main window's button: the nested showings are scripted in order.
class SetupApplyTest : public DialogsTest {
 protected:
  int StaticCount() {
    TAddressTables& tables = fRig.Window().Host().Tables();
    const TAddressTables::TLock lock(tables);
    return tables.fStaticTable->Count();
  }
  static void FillAndOK(TModalForm& AEditor, const wchar_t* ANAD, const wchar_t* AHost,
                        const wchar_t* APort) {
    SetWindowTextW(AEditor.Item(TfmEditNAT::idedNAD), ANAD);
    SetWindowTextW(AEditor.Item(TfmEditNAT::idedHost), AHost);
    SetWindowTextW(AEditor.Item(TfmEditNAT::idedPort), APort);
    Click(AEditor.Item(IDOK));
  }
};

TEST_F(SetupApplyTest, AddThenOkInstallsTheEntryAndSavesIt) {
  std::vector<std::string> rows;
  TShowingScript script({
      [&](TModalForm& ASetup) {
        ExpectCentredOn(ASetup.Handle(), fRig.Handle());
        EXPECT_FALSE(IsWindowEnabled(ASetup.Item(TfmOptions::idButton2))) << "no selection";
        Click(ASetup.Item(TfmOptions::idButton1));  // Add: the editor's showing runs next
        HWND list = ASetup.Item(TfmOptions::idlvStatic);
        for (int column = 0; column < 4; ++column) {
          rows.push_back(CellText(list, 0, column));
        }
        EXPECT_FALSE(IsWindowEnabled(ASetup.Item(TfmOptions::idButton3))) << "no row selected";
        Click(ASetup.Item(IDOK));
      },
      [](TModalForm& AEditor) { FillAndOK(AEditor, L"1001", L"localhost", L"4464"); },
  });
  Click(fRig.Window().Child(idButton1));
  EXPECT_EQ(script.Ran(), 2u);
  EXPECT_EQ(rows, (std::vector<std::string>{"1.", "1001", "localhost", "4464"}));
  EXPECT_EQ(StaticCount(), 1);
  fRig.Window().timSystemTimer();
  EXPECT_EQ(CellText(fRig.Window().Child(idListView2), 0, 3), "static");
  TRegistryStore settings(kTestSettingsKey);
  ASSERT_TRUE(settings.OpenKey(false));
  EXPECT_TRUE(settings.ValueExists("StaticList0")) << "saved at OK";
  EXPECT_TRUE(fRig.Window().Host().Endpoint().IsOpen()) << "restarted";
}

// A host that does not resolve now is kept: through Setup's OK into the relay (empty IP), into
// the saved settings, and back out of them at the next load.
TEST_F(SetupApplyTest, UnresolvableHostKeptThroughOkSaveAndLoad) {
  std::vector<std::string> rows;
  TShowingScript script({
      [&](TModalForm& ASetup) {
        Click(ASetup.Item(TfmOptions::idButton1));
        HWND list = ASetup.Item(TfmOptions::idlvStatic);
        for (int column = 0; column < 4; ++column) {
          rows.push_back(CellText(list, 0, column));
        }
        Click(ASetup.Item(IDOK));
      },
      [](TModalForm& AEditor) {
        FillAndOK(AEditor, L"1001", L"no-such-controller.invalid", L"8442");
      },
  });
  Click(fRig.Window().Child(idButton1));
  ASSERT_EQ(script.Ran(), 2u);
  EXPECT_EQ(rows, (std::vector<std::string>{"1.", "1001", "no-such-controller.invalid", "8442"}));
  TAddressTables& tables = fRig.Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    ASSERT_EQ(tables.fStaticTable->Count(), 1);
    EXPECT_EQ(tables.fStaticTable->Items(0)->IP(), "");
  }
  {
    TRegistryStore settings(kTestSettingsKey);
    ASSERT_TRUE(settings.OpenKey(false));
    EXPECT_EQ(settings.ReadString("StaticList0"), "1001,no-such-controller.invalid,8442");
    settings.CloseKey();
  }
  // The next load: the table emptied here comes back from the settings.
  {
    const TAddressTables::TLock lock(tables);
    tables.fStaticTable->Clear();
  }
  std::string error;
  ASSERT_TRUE(fRig.Window().Host().ReloadSettings(error)) << error;
  const TAddressTables::TLock lock(tables);
  ASSERT_EQ(tables.fStaticTable->Count(), 1);
  EXPECT_EQ(tables.fStaticTable->Items(0)->NAD(), 1001);
  EXPECT_EQ(tables.fStaticTable->Items(0)->Host(), "no-such-controller.invalid");
  EXPECT_EQ(tables.fStaticTable->Items(0)->Port(), 8442);
}

TEST_F(SetupApplyTest, CancelAfterAddingLeavesTheRelayAlone) {
  for (const bool closeBox : {false, true}) {
    TShowingScript script({
        [&](TModalForm& ASetup) {
          Click(ASetup.Item(TfmOptions::idButton1));
          EXPECT_EQ(SendMessageW(ASetup.Item(TfmOptions::idlvStatic), LVM_GETITEMCOUNT, 0, 0), 1);
          if (closeBox) {
            SendMessageW(ASetup.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
          } else {
            Click(ASetup.Item(IDCANCEL));
          }
        },
        [](TModalForm& AEditor) { FillAndOK(AEditor, L"5", L"127.0.0.1", L"1"); },
    });
    Click(fRig.Window().Child(idButton1));
    EXPECT_EQ(script.Ran(), 2u);
    EXPECT_EQ(StaticCount(), 0);
    TRegistryStore settings(kTestSettingsKey);
    EXPECT_FALSE(settings.OpenKey(false) && settings.ValueExists("StaticList0"));
  }
}

TEST_F(SetupApplyTest, EditAndDeleteWorkOnTheSelectedRow) {
  TShowingScript script({
      [&](TModalForm& ASetup) {
        Click(ASetup.Item(TfmOptions::idButton1));
        Click(ASetup.Item(TfmOptions::idButton1));
        HWND list = ASetup.Item(TfmOptions::idlvStatic);
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED;
        state.state = LVIS_SELECTED;
        SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
        EXPECT_TRUE(IsWindowEnabled(ASetup.Item(TfmOptions::idButton3)));
        Click(ASetup.Item(TfmOptions::idButton3));  // Edit row 1
        EXPECT_EQ(CellText(list, 0, 1), "4294967295") << "a negative NAD shows unsigned";
        SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
        Click(ASetup.Item(TfmOptions::idButton2));  // Delete row 2, no question asked
        EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 1);
        Click(ASetup.Item(IDOK));
      },
      [](TModalForm& AEditor) { FillAndOK(AEditor, L"10", L"127.0.0.1", L"10"); },
      [](TModalForm& AEditor) { FillAndOK(AEditor, L"20", L"127.0.0.1", L"20"); },
      [](TModalForm& AEditor) {
        EXPECT_EQ(WindowText(AEditor.Handle()), L"Edit");
        EXPECT_EQ(WindowTextUtf8(AEditor.Item(TfmEditNAT::idedNAD)), "10");
        SetWindowTextW(AEditor.Item(TfmEditNAT::idedNAD), L"-1");
        Click(AEditor.Item(IDOK));
      },
  });
  Click(fRig.Window().Child(idButton1));
  ASSERT_EQ(script.Ran(), 4u);
  TAddressTables& tables = fRig.Window().Host().Tables();
  const TAddressTables::TLock lock(tables);
  ASSERT_EQ(tables.fStaticTable->Count(), 1);
  EXPECT_EQ(tables.fStaticTable->Items(0)->NAD(), -1);
  EXPECT_EQ(tables.fStaticTable->Items(0)->NADAlias(), -1) << "the alias follows the NAD";
}

TEST_F(DialogsTest, AboutShowsNameAndVersionAndOpensItsLinks) {
  TfmAbout& about = fRig.About();
  ExpectPlaces(
      about,
      {{TfmAbout::idImage1, "Image1", {16, 16, 96, 96}},
       {TfmAbout::idlblProgramName, "lblProgramName", {170, 16, 162, 29}, TPlace::RightLabel},
       // "version" ends at its designed edge or, where the number is drawn wider, further
       // left (a gap before the number is kept).
       {TfmAbout::idLabel3, "Label3", {248, 54, 36, 14}, TPlace::LeftOfRight},
       {TfmAbout::idlblVersionNum, "lblVersionNum", {289, 47, 43, 22}, TPlace::RightLabel},
       {TfmAbout::idLabel2, "Label2", {143, 74, 189, 14}, TPlace::RightLabel},
       {TfmAbout::idLabel5, "Label5", {200, 90, 132, 14}, TPlace::RightLabel},
       {TfmAbout::idLabel6, "Label6", {231, 106, 101, 14}, TPlace::RightLabel}},
      347, 134);
  EXPECT_EQ(WindowTextUtf8(about.Item(TfmAbout::idlblProgramName)), "KelvoRelay");
  EXPECT_EQ(WindowTextUtf8(about.Item(TfmAbout::idLabel3)), "version");
  EXPECT_EQ(WindowTextUtf8(about.Item(TfmAbout::idlblVersionNum)), "1.0.2");

  std::vector<std::wstring> opened;
  const TShellOpener previous = SetShellOpener([&](HWND AParent, const std::wstring& AText) {
    EXPECT_EQ(AParent, about.Handle());
    opened.push_back(AText);
  });
  TShowingScript script({[&](TModalForm& AForm) {
    ExpectCentredOn(AForm.Handle(), fRig.Handle());
    SendMessageW(AForm.Handle(), WM_COMMAND, MAKEWPARAM(TfmAbout::idLabel5, STN_CLICKED),
                 reinterpret_cast<LPARAM>(AForm.Item(TfmAbout::idLabel5)));
    SendMessageW(AForm.Handle(), WM_COMMAND, MAKEWPARAM(TfmAbout::idLabel6, STN_CLICKED),
                 reinterpret_cast<LPARAM>(AForm.Item(TfmAbout::idLabel6)));
    about.Label5Click(AForm.Item(TfmAbout::idLabel3));  // not a link: ignored
    SendMessageW(AForm.Handle(), WM_COMMAND, IDOK, 0);  // Enter does not close it
    EXPECT_TRUE(IsWindowVisible(AForm.Handle()));
    PostMessageW(AForm.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
  }});
  Click(fRig.Window().Child(idButton2));
  SetShellOpener(previous);
  EXPECT_EQ(script.Ran(), 1u);
  EXPECT_FALSE(IsWindowVisible(about.Handle())) << "Esc closed it";
  EXPECT_EQ(opened, (std::vector<std::wstring>{L"www.marlowin.com", L"mailto: info@marlowin.com"}));
}

TEST(ReadmeTextTest, EncodingFollowsTheByteOrderMark) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::wstring Text;
  };
  const TCase cases[] = {
      {"UTF-8 mark",
       "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
       "e\n",
       L"Gr\u00FC\u00DFe\r\n"},
      {"UTF-16 LE mark", std::string("\xFF\xFEG\0\xFC\0\n\0", 8), L"G\u00FC\r\n"},
      {"UTF-16 BE mark", std::string("\xFE\xFF\0G\0\xFC\0\n", 8), L"G\u00FC\r\n"},
      {"no mark: ANSI 1252", "caf\xE9\r\nx\ry", L"caf\u00E9\r\nx\r\ny"},
      {"empty", "", L""},
  };
  for (const TCase& sample : cases) {
    SCOPED_TRACE(sample.Name);
    EXPECT_EQ(DecodeReadmeText(sample.Bytes, 1252), sample.Text);
  }
}

TEST_F(DialogsTest, HelpReadsTheReadmeOncePerRunAndTriesAgainWhileItIsMissing) {
  TfmHelp& help = fRig.Help();
  const std::string file = fRig.Log().LogFile() + ".help.txt";
  DeleteFileA(file.c_str());
  help.SetHelpFile(file);
  auto showAndRead = [&] {
    std::string text;
    TShowingScript script({[&](TModalForm& AForm) {
      text = WindowTextUtf8(AForm.Item(TfmHelp::idMemo1));
      Click(AForm.Item(IDCANCEL));  // "Close"
    }});
    EXPECT_EQ(help.ShowModal(fRig.Handle()), IDCANCEL);
    return text;
  };
  EXPECT_EQ(showAndRead(), "") << "missing: empty, no message";
  std::ofstream(file, std::ios::binary) << "first\n";
  EXPECT_EQ(showAndRead(), "first\r\n");
  std::ofstream(file, std::ios::binary) << "second\n";
  EXPECT_EQ(showAndRead(), "first\r\n") << "read once per run";
  DeleteFileA(file.c_str());

  // Resizable, no minimize box; the memo grows and the button keeps to the corner.
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(help.Handle(), GWL_STYLE));
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_MINIMIZEBOX);
  ExpectPlaces(
      help,
      {{TfmHelp::idMemo1, "Memo1", {8, 8, 460, 416}}, {IDCANCEL, "Button1", {392, 430, 75, 25}}},
      475, 463);
  SetClientSize(help.Handle(), 600, 500);
  EXPECT_EQ(ChildBounds(help.Item(TfmHelp::idMemo1)), (TBounds{8, 8, 585, 453}));
  EXPECT_EQ(ChildBounds(help.Item(IDCANCEL)), (TBounds{517, 467, 75, 25}));
}

}  // namespace
}  // namespace kelvo::test
