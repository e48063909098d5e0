// The Setup dialog: adapter choice, static controller list and debug switch. It edits a working
// copy of the static list and hands the result back only on OK. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "present/setup_working_copy.h"
#include "tables/nat_info_list.h"
#include "ui_qt/centred_dialog.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QShowEvent;
class QTableWidget;

namespace kelvo {

class TfmEditNAT;
class TGroupFrame;

class TfmOptions : public TCentredDialog {
  Q_OBJECT

 public:
  // AEditNAT is the program's one entry editor; it must outlive this dialog.
  explicit TfmOptions(TfmEditNAT& AEditNAT, QWidget* AParent = nullptr);
  ~TfmOptions() override;

  // The table to copy at the next showing (the caller's private copy of the relay's table).
  void SetStaticList(std::unique_ptr<TNATInfoList> AStaticList);
  // After OK: the edited table; null after a cancelled showing.
  std::unique_ptr<TNATInfoList> TakeStaticList();

  // In: the adapter in use; out after OK: the chosen one, empty when none is chosen.
  std::string EthernetAdapterID;
  bool CreateDebugLogs = false;

  // Children of the dialog (Qt parent-child ownership).
  QWidget* Panel1;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  TGroupFrame* GroupBox1;
  QLabel* Label1;
  QComboBox* cbEthAdapter;
  QCheckBox* cbCreateDebugLogs;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QLabel* Label2;
  QTableWidget* lvStatic;
  // ActionList1
  QAction* acAdd;
  QAction* acDelete;
  QAction* acEdit;

 protected:
  void showEvent(QShowEvent* AEvent) override;
  // Every way of closing passes here; anything but OK drops the working copy.
  void done(int AResult) override;

 private:
  void FormShow();
  void cbEthAdapterChange();
  void ActionList1Update();
  void acAddExecute();
  void acEditExecute();
  void acDeleteExecute();
  void btnOKClick();
  void btnCancelClick();
  void RefreshStaticList();
  int SelectedRow() const;

  TfmEditNAT& fEditNAT;
  std::unique_ptr<TNATInfoList> StaticList;
  // The adapters of this showing and LocalStaticList, held from showing until OK or Cancel.
  TSetupWorkingCopy fWorkingCopy;
};

}  // namespace kelvo
