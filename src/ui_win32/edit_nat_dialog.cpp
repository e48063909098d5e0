#include "ui_win32/edit_nat_dialog.h"

#include <algorithm>

#include "present/label_room.h"

namespace kelvo {

TfmEditNAT::TfmEditNAT() : TModalForm({L"Add", 326, 116}) {}

void TfmEditNAT::CreateControls() {
  SetFont(CreatePointFont(L"Tahoma", 8, Dpi()));
  // Created in tab order: edNAD, edHost, edPort, btnOK, Button2. Typing in the number fields is
  // limited to digits; texts set by the caller (a negative NAD) are not filtered.
  AddControl(L"STATIC", L"Kelvo NAD:", SS_LEFT, idLabel1, {8, 11, 54, 13});
  AddControl(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, idedNAD, {74, 8, 71, 21},
             WS_EX_CLIENTEDGE);
  AddControl(L"STATIC", L"Host (ip/url):", SS_LEFT, idLabel2, {8, 38, 61, 13});
  AddControl(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, idedHost, {74, 35, 127, 21},
             WS_EX_CLIENTEDGE);
  AddControl(L"STATIC", L"Port:", SS_LEFT, idLabel3, {224, 38, 24, 13});
  AddControl(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, idedPort, {254, 35, 59, 21},
             WS_EX_CLIENTEDGE);
  HWND ok = AddControl(L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, {162, 84, 75, 25});
  AddControl(L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, {243, 84, 75, 25});
  EnableWindow(ok, FALSE);  // until a field holds something
  for (int label : {idLabel1, idLabel2, idLabel3}) {
    GrowToText(Item(label), false);
  }
  // A caption wider than designed pushes its field's left edge along; NAD and host stay
  // aligned under each other.
  const int gap = ScaleFrom96(kLabelFieldGap, Dpi());
  const int captionsRight =
      std::max(ChildBounds(Item(idLabel1)).Right(), ChildBounds(Item(idLabel2)).Right());
  for (int field : {idedNAD, idedHost}) {
    PlaceWindow(Item(field), FieldAfterLabel(captionsRight, gap, ChildBounds(Item(field))));
  }
  PlaceWindow(Item(idedPort), FieldAfterLabel(ChildBounds(Item(idLabel3)).Right(), gap,
                                              ChildBounds(Item(idedPort))));
}

void TfmEditNAT::SetFields(const TEntryTexts& ATexts) {
  Create(nullptr);
  SetWindowTextUtf8(Item(idedNAD), ATexts.NAD);
  SetWindowTextUtf8(Item(idedHost), ATexts.Host);
  SetWindowTextUtf8(Item(idedPort), ATexts.Port);
  edNADChange();
}

TEntryTexts TfmEditNAT::Fields() const {
  return {WindowTextUtf8(Item(idedNAD)), WindowTextUtf8(Item(idedHost)),
          WindowTextUtf8(Item(idedPort))};
}

void TfmEditNAT::FormShow() {
  SetWindowTextW(Handle(), EditMode ? L"Edit" : L"Add");
  SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(idedNAD)), TRUE);
}

bool TfmEditNAT::Command(int AId, int ACode) {
  if ((AId == idedNAD || AId == idedHost || AId == idedPort) && ACode == EN_CHANGE) {
    edNADChange();
    return true;
  }
  if (AId == IDOK && !IsWindowEnabled(Item(IDOK))) {
    return true;  // Enter while OK is disabled does nothing
  }
  return TModalForm::Command(AId, ACode);
}

void TfmEditNAT::edNADChange() {
  EnableWindow(Item(IDOK), EntryTextsAcceptable(Fields()) ? TRUE : FALSE);
}

}  // namespace kelvo
