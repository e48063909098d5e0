#include "ui_win32/about_window.h"

#include "app/version.h"
#include "present/about_design.h"
#include "present/picture_scale.h"
#include "ui_win32/shell_open.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

TfmAbout::TfmAbout() : TModalForm({L"About", 347, 134}) {}

TfmAbout::~TfmAbout() = default;

void TfmAbout::CreateControls() {
  SetFont(CreateDesignFont(L"Arial", 11, Dpi()));
  fNameFont.Reset(CreateDesignFont(L"Arial", 24, Dpi(), true));
  fVersionFont.Reset(CreateDesignFont(L"Arial", 19, Dpi()));
  fWhite.Reset(CreateSolidBrush(RGB(255, 255, 255)));
  RegisterPictureClass();

  HWND image = AddControl(kPictureClass, L"", 0, idImage1, {16, 16, 96, 96});
  fLogo = std::make_unique<TPicture>(
      Widen(ScaledPictureName("ABOUTLOGO", PictureScaleFor(Dpi() / 96.0))).c_str());
  SetPicture(image, fLogo.get());
  const DWORD label = SS_RIGHT | SS_NOPREFIX;
  HWND name = AddControl(L"STATIC", L"ProgramName", label, idlblProgramName, {170, 16, 162, 29});
  SendMessageW(name, WM_SETFONT, reinterpret_cast<WPARAM>(fNameFont.Get()), FALSE);
  AddControl(L"STATIC", L"version", label, idLabel3, {248, 54, 36, 14});
  HWND version = AddControl(L"STATIC", L"0.0.0", label, idlblVersionNum, {289, 47, 43, 22});
  SendMessageW(version, WM_SETFONT, reinterpret_cast<WPARAM>(fVersionFont.Get()), FALSE);
  AddControl(L"STATIC", L"\u00A9 Marlowin. All rights reserved.", label, idLabel2,
             {143, 74, 189, 14});
  // The links report clicks (SS_NOTIFY) and show the hand cursor.
  AddControl(L"STATIC", L"www.marlowin.com", label | SS_NOTIFY, idLabel5, {200, 90, 132, 14});
  AddControl(L"STATIC", L"info@marlowin.com", label | SS_NOTIFY, idLabel6, {231, 106, 101, 14});
  FormCreate();
  for (int id : {idlblProgramName, idLabel3, idlblVersionNum, idLabel2, idLabel5, idLabel6}) {
    FitRightAligned(Item(id));
    GrowHeightToText(Item(id));  // the title's "y" stays whole
  }
  // "version" keeps its gap before the number, however wide the face draws the number.
  TBounds word = ChildBounds(Item(idLabel3));
  word.Left = VersionWordRight(ChildBounds(Item(idlblVersionNum)).Left, Dpi()) - word.Width;
  PlaceWindow(Item(idLabel3), word);
}

void TfmAbout::FormCreate() {
  SetWindowTextUtf8(Item(idlblVersionNum), GetVersionText(3));
  SetWindowTextUtf8(Item(idlblProgramName), kApplicationTitle);
}

void TfmAbout::Label5Click(HWND ASender) {
  if (ASender != Item(idLabel5) && ASender != Item(idLabel6)) {
    return;
  }
  const std::wstring text = WindowText(ASender);
  ShellOpen(Handle(), text.find(L'@') != std::wstring::npos ? L"mailto: " + text : text);
}

bool TfmAbout::Command(int AId, int ACode) {
  if ((AId == idLabel5 || AId == idLabel6) && ACode == STN_CLICKED) {
    Label5Click(Item(AId));
    return true;
  }
  // FormKeyDown: Esc (IDCANCEL from the dialog manager) closes; Enter does nothing here.
  if (AId == IDOK) {
    return true;
  }
  return TModalForm::Command(AId, ACode);
}

bool TfmAbout::Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam, INT_PTR& AResult) {
  switch (AMessage) {
    case WM_CTLCOLORDLG:
      AResult = reinterpret_cast<INT_PTR>(fWhite.Get());
      return true;
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(AWParam);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(ALParam));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, id == idLabel5 || id == idLabel6 ? RGB(0x80, 0x80, 0x80) : RGB(0, 0, 0));
      AResult = reinterpret_cast<INT_PTR>(fWhite.Get());
      return true;
    }
    case WM_SETCURSOR: {
      const auto over = reinterpret_cast<HWND>(AWParam);
      if (over == Item(idLabel5) || over == Item(idLabel6)) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
        AResult = TRUE;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

}  // namespace kelvo
