// The small modal editor for one static controller entry: it only collects three texts; the
// Setup dialog converts them and changes its working copy of the list. OK is enabled only for
// texts that convert to what was typed (EntryTextsAcceptable). GUI thread only.
#pragma once

#include <QString>

#include "present/editor_conversions.h"
#include "ui_qt/centred_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace kelvo {

class TfmEditNAT : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TfmEditNAT(QWidget* AParent = nullptr);

  // The three fields' texts; the caller converts them (ConvertNAD, ConvertPort).
  TEntryTexts Texts() const;
  void SetTexts(const TEntryTexts& ATexts);

  // Children of the dialog (Qt parent-child ownership).
  QLineEdit* edNAD;
  QLineEdit* edHost;
  QLineEdit* edPort;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* btnOK;
  QPushButton* Button2;
  // Set by the caller before each showing: false adds a new entry, true changes one.
  bool EditMode = false;

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  void FormShow();
  void edNADChange();
};

}  // namespace kelvo
