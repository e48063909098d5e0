#include "ui_win32/options_dialog.h"

#include <commctrl.h>

#include <optional>

#include "present/label_room.h"
#include "ui_win32/edit_nat_dialog.h"
#include "ui_win32/report_list.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

// GroupBox1's corner: the controls inside it are designed relative to it, and Panel1 (the
// bottom strip with the buttons) starts 39 pixels above the bottom edge.
constexpr int kGroupLeft = 8;
constexpr int kGroupTop = 8;
constexpr int kPanelTop = 361 - 39;

TBounds InGroup(int ALeft, int ATop, int AWidth, int AHeight) {
  return {kGroupLeft + ALeft, kGroupTop + ATop, AWidth, AHeight};
}

}  // namespace

TfmOptions::TfmOptions(TfmEditNAT& AEditNAT)
    : TModalForm({L"Setup", 428, 361}), fEditNAT(AEditNAT) {}

// FormDestroy: the adapter list goes with the working copy.
TfmOptions::~TfmOptions() = default;

void TfmOptions::SetStaticList(std::unique_ptr<TNATInfoList> AStaticList) {
  StaticList = std::move(AStaticList);
}

std::unique_ptr<TNATInfoList> TfmOptions::TakeStaticList() {
  return std::move(StaticList);
}

void TfmOptions::CreateControls() {
  SetFont(CreatePointFont(L"MS Sans Serif", 8, Dpi()));
  // Creation order is the tab order (btnOK, btnCancel, then the group's controls); each label
  // comes right before the control its access key moves to, and the frame comes last so that
  // it lies beneath its contents.
  AddControl(L"BUTTON", L"&OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, {267, kPanelTop + 7, 75, 25});
  AddControl(L"BUTTON", L"&Cancel", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL,
             {347, kPanelTop + 7, 75, 25});
  AddControl(L"STATIC", L"&Ethernet adapter:", SS_LEFT, idLabel1, InGroup(16, 19, 82, 13));
  // A drop-down's window height includes its opened list; the closed box is 21 high.
  HWND combo = AddControl(L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                          idcbEthAdapter, InGroup(104, 16, 299, 21 + 160));
  AddControl(L"BUTTON", L"Create debug logs", WS_TABSTOP | BS_AUTOCHECKBOX, idcbCreateDebugLogs,
             InGroup(16, 278, 119, 17));
  AddControl(L"BUTTON", L"Add", WS_TABSTOP | BS_PUSHBUTTON, idButton1, InGroup(328, 83, 75, 25));
  AddControl(L"BUTTON", L"Delete", WS_TABSTOP | BS_PUSHBUTTON, idButton2,
             InGroup(328, 114, 75, 25));
  AddControl(L"BUTTON", L"Edit", WS_TABSTOP | BS_PUSHBUTTON, idButton3, InGroup(328, 145, 75, 25));
  AddControl(L"STATIC", L"Static IP list:", SS_LEFT | SS_NOPREFIX, idLabel2,
             InGroup(16, 64, 58, 13));
  AddReportColumns(CreateReportList(Handle(), idlvStatic, InGroup(16, 83, 306, 182), Dpi(), Font(),
                                    false, false),
                   kStaticColumns, Dpi());
  AddControl(L"BUTTON", L"General", BS_GROUPBOX, idGroupBox1, {kGroupLeft, kGroupTop, 412, 305});
  GrowToText(Item(idLabel1), false);
  GrowToText(Item(idLabel2), false);
  GrowCheckBoxToText(Item(idcbCreateDebugLogs));
  // A caption wider than designed pushes the drop-down's left edge along (its window height is
  // that of the opened list).
  TBounds adapters = FieldAfterLabel(ChildBounds(Item(idLabel1)).Right(),
                                     ScaleFrom96(kLabelFieldGap, Dpi()), ChildBounds(combo));
  adapters.Height = ScaleFrom96(21 + 160, Dpi());
  PlaceWindow(combo, adapters);

  // The adapter list shows its hint (the selected line) as a tooltip.
  fHint = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                          0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(fHint, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  ActionList1Update();
}

void TfmOptions::FormShow() {
  // Adapters enumerated anew; the working copy made from the lent table.
  fWorking.Begin(StaticList.get(), EthernetAdapterID);
  HWND combo = Item(idcbEthAdapter);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& line : fWorking.AdapterLines()) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(line).c_str()));
  }
  // -1 (not among the adapters) leaves no line selected and the list empty.
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(fWorking.SelectedAdapterIndex()), 0);
  cbEthAdapterChange();
  SendMessageW(Item(idcbCreateDebugLogs), BM_SETCHECK,
               CreateDebugLogs ? BST_CHECKED : BST_UNCHECKED, 0);
  RefreshStaticList();
  SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDOK)), TRUE);
}

void TfmOptions::cbEthAdapterChange() {
  fHintText = WindowText(Item(idcbEthAdapter));
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(Item(idcbEthAdapter));
  tool.lpszText = fHintText.data();
  SendMessageW(fHint, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfmOptions::ActionList1Update() {
  const BOOL selected = SelectedRow(Item(idlvStatic)) >= 0 ? TRUE : FALSE;
  EnableWindow(Item(idButton2), selected);  // acDelete
  EnableWindow(Item(idButton3), selected);  // acEdit
  EnableWindow(Item(idButton1), TRUE);      // acAdd
}

void TfmOptions::RefreshStaticList() {
  HWND list = Item(idlvStatic);
  {
    TRedrawSuspended suspended(list);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (int row = 0; row < fWorking.RowCount(); ++row) {
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = row;
      for (int column = 0; column < static_cast<int>(kStaticColumns.size()); ++column) {
        std::wstring text = Widen(fWorking.CellText(row, static_cast<TStaticColumn>(column)));
        item.iSubItem = column;
        item.pszText = text.data();
        SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW,
                     column == 0 ? 0 : static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
      }
    }
  }
  // A rebuild leaves no row selected.
  ActionList1Update();
}

void TfmOptions::acAddExecute() {
  fEditNAT.SetFields({});
  fEditNAT.EditMode = false;
  if (fEditNAT.ShowModal(Handle()) != IDOK) {
    return;
  }
  // A host that does not resolve now is added all the same, with an empty IP.
  fWorking.Add(fEditNAT.Fields());
  RefreshStaticList();
}

void TfmOptions::acEditExecute() {
  const std::optional<TEntryTexts> texts = fWorking.EditTexts(SelectedRow(Item(idlvStatic)));
  if (!texts) {
    return;
  }
  const int row = SelectedRow(Item(idlvStatic));
  fEditNAT.SetFields(*texts);
  fEditNAT.EditMode = true;
  if (fEditNAT.ShowModal(Handle()) != IDOK) {
    return;
  }
  fWorking.Edit(row, fEditNAT.Fields());
  RefreshStaticList();
}

void TfmOptions::acDeleteExecute() {
  // No confirmation question.
  if (fWorking.Delete(SelectedRow(Item(idlvStatic)))) {
    RefreshStaticList();
  }
}

void TfmOptions::btnOKClick() {
  const auto index = static_cast<int>(SendMessageW(Item(idcbEthAdapter), CB_GETCURSEL, 0, 0));
  const bool debugLogs = SendMessageW(Item(idcbCreateDebugLogs), BM_GETCHECK, 0, 0) == BST_CHECKED;
  TSetupResult result = fWorking.Accept(index, debugLogs);
  EthernetAdapterID = result.EthernetAdapterID;
  CreateDebugLogs = result.CreateDebugLogs;
  // The working copy becomes the result; the lent copy it was made from goes.
  StaticList = std::move(result.StaticList);
}

void TfmOptions::Closing(INT_PTR AResult) {
  if (AResult == IDOK) {
    btnOKClick();
    return;
  }
  // Cancel, Esc and the close box: the edits are dropped, and so is the lent copy, which the
  // caller never reads back after a cancel.
  fWorking.Cancel();
  StaticList.reset();
}

bool TfmOptions::Command(int AId, int ACode) {
  if (ACode == BN_CLICKED) {
    switch (AId) {
      case idButton1:
        acAddExecute();
        return true;
      case idButton2:
        acDeleteExecute();
        return true;
      case idButton3:
        acEditExecute();
        return true;
      default:
        break;
    }
  }
  if (AId == idcbEthAdapter && ACode == CBN_SELCHANGE) {
    cbEthAdapterChange();
    return true;
  }
  return TModalForm::Command(AId, ACode);
}

bool TfmOptions::Message(UINT AMessage, WPARAM /*AWParam*/, LPARAM ALParam, INT_PTR& AResult) {
  if (AMessage == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(ALParam);
    if (header->idFrom == idlvStatic && header->code == LVN_ITEMCHANGED) {
      // The actions' enabled state depends only on the selection.
      ActionList1Update();
      AResult = 0;
      return true;
    }
  }
  return false;
}

}  // namespace kelvo
