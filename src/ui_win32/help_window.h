// The Help window: the read-me beside the executable, read once per run. GUI thread only.
#pragma once

#include <string>
#include <string_view>

#include "ui_win32/modal_form.h"

namespace kelvo {

// The read-me's bytes as text for a multi-line edit: the encoding follows the byte-order mark
// (UTF-8, UTF-16 LE, UTF-16 BE), without one the code page ACodePage (the system's ANSI code
// page); line ends become CR LF.
std::wstring DecodeReadmeText(std::string_view ABytes, unsigned ACodePage);

class TfmHelp : public TModalForm {
 public:
  enum TId : int { idMemo1 = 501 };
  // Button1 ("Close") is IDCANCEL: the default button and the cancel button.

  TfmHelp();

  // The full name of the file to show.
  void SetHelpFile(const std::string& AFileName) { fHelpFile = AFileName; }
  const std::string& HelpFile() const { return fHelpFile; }

 protected:
  void CreateControls() override;
  void FormShow() override;
  bool Command(int AId, int ACode) override;
  void Resized(int AWidth, int AHeight) override;

 private:
  std::string fHelpFile;
};

}  // namespace kelvo
