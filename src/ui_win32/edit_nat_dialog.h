// The small modal editor for one static controller entry: it only collects three texts; the
// Setup dialog converts them and changes its working copy of the list. GUI thread only.
#pragma once

#include <string>

#include "present/editor_conversions.h"

#include "ui_win32/modal_form.h"

namespace kelvo {

class TfmEditNAT : public TModalForm {
 public:
  enum TId : int { idedNAD = 201, idedHost, idedPort, idLabel1, idLabel2, idLabel3 };
  // btnOK is IDOK, Button2 is IDCANCEL.

  TfmEditNAT();

  // The three fields (edNAD, edHost, edPort); setting them runs edNADChange as typing does.
  // The caller converts them (ConvertNAD, ConvertPort) after OK.
  void SetFields(const TEntryTexts& ATexts);
  TEntryTexts Fields() const;

  // Set by the caller before each showing: false adds a new entry, true changes one.
  bool EditMode = false;

 protected:
  void CreateControls() override;
  void FormShow() override;
  bool Command(int AId, int ACode) override;

 private:
  void edNADChange();
};

}  // namespace kelvo
