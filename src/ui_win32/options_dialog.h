// The Setup dialog: adapter choice, static controller list and debug switch. It edits a working
// copy of the static list and hands the result back only on OK. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "present/setup_working_copy.h"
#include "tables/nat_info_list.h"
#include "ui_win32/modal_form.h"

namespace kelvo {

class TfmEditNAT;

class TfmOptions : public TModalForm {
 public:
  enum TId : int {
    idcbEthAdapter = 301,
    idcbCreateDebugLogs,
    idButton1,
    idButton2,
    idButton3,
    idlvStatic,
    idLabel1,
    idLabel2,
    idGroupBox1
  };
  // btnOK is IDOK, btnCancel is IDCANCEL.

  // AEditNAT is the program's one entry editor; it must outlive this dialog.
  explicit TfmOptions(TfmEditNAT& AEditNAT);
  ~TfmOptions() override;

  // The table to copy at the next showing (the caller's private copy of the relay's table).
  void SetStaticList(std::unique_ptr<TNATInfoList> AStaticList);
  // After OK: the edited table; null after a cancelled showing.
  std::unique_ptr<TNATInfoList> TakeStaticList();

  // In: the adapter in use; out after OK: the chosen one, empty when none is chosen.
  std::string EthernetAdapterID;
  bool CreateDebugLogs = false;

  // The actions behind Button1 ("Add"), Button2 ("Delete") and Button3 ("Edit").
  void acAddExecute();
  void acEditExecute();
  void acDeleteExecute();
  const TSetupWorkingCopy& WorkingCopy() const { return fWorking; }

 protected:
  void CreateControls() override;
  void FormShow() override;
  bool Command(int AId, int ACode) override;
  bool Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam, INT_PTR& AResult) override;
  void Closing(INT_PTR AResult) override;

 private:
  void cbEthAdapterChange();
  void ActionList1Update();
  void btnOKClick();
  void RefreshStaticList();

  TfmEditNAT& fEditNAT;
  HWND fHint = nullptr;  // the adapter list's tooltip
  std::wstring fHintText;
  std::unique_ptr<TNATInfoList> StaticList;
  // The adapters of this showing and LocalStaticList, held from showing until OK or Cancel.
  TSetupWorkingCopy fWorking;
};

}  // namespace kelvo
