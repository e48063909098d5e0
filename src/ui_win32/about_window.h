// The About window: the program's name and version and the maker's addresses; the web address
// and the e-mail address open through the shell. GUI thread only.
#pragma once

#include <memory>

#include "ui_win32/modal_form.h"
#include "ui_win32/picture.h"

namespace kelvo {

class TfmAbout : public TModalForm {
 public:
  enum TId : int {
    idImage1 = 401,
    idlblProgramName,
    idLabel3,
    idlblVersionNum,
    idLabel2,
    idLabel5,
    idLabel6
  };

  TfmAbout();
  ~TfmAbout() override;

  // The click handler of Label5 and Label6 (any other sender is ignored).
  void Label5Click(HWND ASender);

 protected:
  void CreateControls() override;
  bool Command(int AId, int ACode) override;
  bool Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam, INT_PTR& AResult) override;

 private:
  void FormCreate();

  std::unique_ptr<TPicture> fLogo;
  TGdiObject fNameFont;     // Arial 24 bold
  TGdiObject fVersionFont;  // Arial 19
  TGdiObject fWhite;
};

}  // namespace kelvo
