// A modal dialog that every showing, the first included, places centred on its owner window
// (the window of its parent), frame on frame, and never clamps to the screen's edge.
// GUI thread only.
#pragma once

#include <QDialog>

namespace kelvo {

class TCentredDialog : public QDialog {
  Q_OBJECT

 public:
  using QDialog::QDialog;

  void setVisible(bool AVisible) override;

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void CentreOnOwner();

  bool fShownBefore = false;
};

}  // namespace kelvo
