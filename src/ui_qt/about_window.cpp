#include "ui_qt/about_window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>

#include "app/version.h"
#include "present/about_design.h"
#include "ui_qt/form_helpers.h"
#include "ui_qt/gui_pictures.h"
#include "ui_qt/shell_open.h"

namespace kelvo {

namespace {

const QString kArial = QStringLiteral("Arial");

void MakeLink(QLabel* ALabel, const QString& AText) {
  ALabel->setText(AText);
  ALabel->setFont(DesignFont(kArial, 11));
  QPalette palette = ALabel->palette();
  palette.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  ALabel->setPalette(palette);
  ALabel->setCursor(Qt::PointingHandCursor);
}

}  // namespace

TfmAbout::TfmAbout(QWidget* AParent)
    : TCentredDialog(AParent),
      Image1(MakeChild<QLabel>(this, "Image1", 16, 16, 96, 96)),
      lblProgramName(MakeChild<QLabel>(this, "lblProgramName", 170, 16, 162, 29)),
      Label3(MakeChild<QLabel>(this, "Label3", 248, 54, 36, 14)),
      lblVersionNum(MakeChild<QLabel>(this, "lblVersionNum", 289, 47, 43, 22)),
      Label2(MakeChild<QLabel>(this, "Label2", 143, 74, 189, 14)),
      Label5(MakeChild<QLabel>(this, "Label5", 200, 90, 132, 14)),
      Label6(MakeChild<QLabel>(this, "Label6", 231, 106, 101, 14)) {
  setObjectName(QStringLiteral("fmAbout"));
  setWindowTitle(QStringLiteral("About"));
  SetFixedDialogFrame(this, 347, 134);
  setFont(DesignFont(kArial, 11));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);

  // The program's icon at the size of this window's picture.
  Image1->setPixmap(LoadPicture(QStringLiteral("about_logo.png")));
  lblProgramName->setFont(DesignFont(kArial, 24, true));
  lblProgramName->setText(QStringLiteral("ProgramName"));
  Label3->setText(QStringLiteral("version"));
  lblVersionNum->setFont(DesignFont(kArial, 19));
  lblVersionNum->setText(QStringLiteral("0.0.0"));
  Label2->setText(QStringLiteral("\u00A9 Marlowin. All rights reserved."));
  MakeLink(Label5, QStringLiteral("www.marlowin.com"));
  MakeLink(Label6, QStringLiteral("info@marlowin.com"));
  for (QLabel* label : {lblProgramName, Label3, lblVersionNum, Label2, Label5, Label6}) {
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  }
  Label5->installEventFilter(this);
  Label6->installEventFilter(this);

  FormCreate();
  for (QLabel* label : {lblProgramName, Label3, lblVersionNum, Label2, Label5, Label6}) {
    FitLabelWidth(label);
    FitLabelHeight(label);  // the title's descenders ("y") stay inside its box
  }
  PlaceVersionWord();
}

void TfmAbout::PlaceVersionWord() {
  // "version" keeps its gap before the number, however wide the face draws the number.
  const QRect number = lblVersionNum->geometry();
  const int numberTextLeft = number.x() + number.width() -
                             lblVersionNum->fontMetrics().horizontalAdvance(lblVersionNum->text());
  const int wordRight = VersionWordRight(numberTextLeft, 96);
  QRect word = Label3->geometry();
  word.moveLeft(wordRight - word.width());
  Label3->setGeometry(word);
}

void TfmAbout::FormCreate() {
  lblVersionNum->setText(QString::fromStdString(GetVersionText(3)));
  lblProgramName->setText(QString::fromUtf8(kApplicationTitle));
}

bool TfmAbout::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if ((AWatched == Label5 || AWatched == Label6) && AEvent->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(AEvent)->button() == Qt::LeftButton) {
    Label5Click(AWatched);
    return true;
  }
  return TCentredDialog::eventFilter(AWatched, AEvent);
}

void TfmAbout::Label5Click(QObject* ASender) {
  const auto* label = qobject_cast<const QLabel*>(ASender);
  if (label == nullptr) {
    return;
  }
  const QString text = label->text();
  ShellOpen(text.contains(QLatin1Char('@')) ? QStringLiteral("mailto: ") + text : text);
}

void TfmAbout::keyPressEvent(QKeyEvent* AEvent) {
  // FormKeyDown: Esc closes, every other key is ignored.
  if (AEvent->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  AEvent->ignore();
}

}  // namespace kelvo
