// The About window: program name, version and the maker's addresses. Created once, shown
// modally. GUI thread only.
#pragma once

#include "ui_qt/centred_dialog.h"

class QKeyEvent;
class QLabel;

namespace kelvo {

class TfmAbout : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TfmAbout(QWidget* AParent = nullptr);

  // Children of the window (Qt parent-child ownership).
  QLabel* Image1;
  QLabel* lblProgramName;
  QLabel* Label3;
  QLabel* lblVersionNum;
  QLabel* Label2;
  QLabel* Label5;  // web address
  QLabel* Label6;  // e-mail address

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void FormCreate();
  void PlaceVersionWord();
  void Label5Click(QObject* ASender);
};

}  // namespace kelvo
