// The Help window: shows the read-me beside the executable, read once per run. Created once,
// shown modally. GUI thread only.
#pragma once

#include <QByteArray>
#include <QString>

#include "ui_qt/centred_dialog.h"

class QPlainTextEdit;
class QPushButton;
class QResizeEvent;
class QShowEvent;

namespace kelvo {

// The text of a read-me file's bytes: UTF-8, UTF-16LE or UTF-16BE by byte-order mark; without
// a mark UTF-8 when the bytes are valid UTF-8, otherwise Latin-1 (the 8-bit code page stand-in).
// Line ends of any kind become "\n"; one final line end is dropped.
QString DecodeReadmeText(const QByteArray& ABytes);

class TfmHelp : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TfmHelp(QWidget* AParent = nullptr);

  void SetHelpFile(const QString& AHelpFile) { fHelpFile = AHelpFile; }
  const QString& HelpFile() const { return fHelpFile; }

  // Children of the window (Qt parent-child ownership).
  QPlainTextEdit* Memo1;
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;

 private:
  void FormShow();

  QString fHelpFile;  // full name of the file to show
};

}  // namespace kelvo
