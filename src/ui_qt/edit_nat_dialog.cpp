#include "ui_qt/edit_nat_dialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include "ui_qt/form_helpers.h"

namespace kelvo {

namespace {

// Typing is limited to digits; texts set by the caller (a negative NAD) are not filtered.
void MakeDigitsOnly(QLineEdit* AEdit) {
  AEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), AEdit));
}

}  // namespace

TfmEditNAT::TfmEditNAT(QWidget* AParent)
    : QDialog(AParent),
      edNAD(MakeChild<QLineEdit>(this, "edNAD", 74, 8, 71, 21)),
      edHost(MakeChild<QLineEdit>(this, "edHost", 74, 35, 127, 21)),
      edPort(MakeChild<QLineEdit>(this, "edPort", 254, 35, 59, 21)),
      Label1(MakeChild<QLabel>(this, "Label1", 8, 11, 54, 13)),
      Label2(MakeChild<QLabel>(this, "Label2", 8, 38, 61, 13)),
      Label3(MakeChild<QLabel>(this, "Label3", 224, 38, 24, 13)),
      btnOK(MakeChild<QPushButton>(this, "btnOK", 162, 84, 75, 25)),
      Button2(MakeChild<QPushButton>(this, "Button2", 243, 84, 75, 25)) {
  setObjectName(QStringLiteral("fmEditNAT"));
  SetFixedDialogFrame(this, 326, 116);
  setFont(DesignFont(QStringLiteral("Tahoma"), 11));

  Label1->setText(QStringLiteral("Kelvo NAD:"));
  Label2->setText(QStringLiteral("Host (ip/url):"));
  Label3->setText(QStringLiteral("Port:"));
  for (QLabel* label : {Label1, Label2, Label3}) {
    FitLabelWidth(label);
  }
  MakeDigitsOnly(edNAD);
  MakeDigitsOnly(edPort);

  btnOK->setText(QStringLiteral("OK"));
  btnOK->setDefault(true);
  btnOK->setEnabled(false);
  Button2->setText(QStringLiteral("Cancel"));
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  for (QLineEdit* edit : {edNAD, edHost, edPort}) {
    connect(edit, &QLineEdit::textChanged, this, &TfmEditNAT::edNADChange);
  }

  setTabOrder(edNAD, edHost);
  setTabOrder(edHost, edPort);
  setTabOrder(edPort, btnOK);
  setTabOrder(btnOK, Button2);
}

std::int32_t TfmEditNAT::ConvertNAD(const QString& AText) {
  bool ok = false;
  const int value = AText.toInt(&ok, 10);
  return ok ? static_cast<std::int32_t>(value) : 1;
}

std::uint16_t TfmEditNAT::ConvertPort(const QString& AText) {
  // The number is read as a signed 32-bit value and then cut to its low 16 bits, so
  // 65536 gives 0; a number that does not even fit 32 bits counts as no number.
  bool ok = false;
  const int value = AText.toInt(&ok, 10);
  if (!ok) {
    return 1;
  }
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

void TfmEditNAT::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!AEvent->spontaneous()) {
    FormShow();
  }
}

void TfmEditNAT::FormShow() {
  setWindowTitle(EditMode ? QStringLiteral("Edit") : QStringLiteral("Add"));
}

void TfmEditNAT::edNADChange() {
  // The conversions accept any text, but an entry without a NAD, host or port is almost
  // certainly a slip, so OK waits until all three hold something.
  btnOK->setEnabled(!edNAD->text().isEmpty() && !edHost->text().isEmpty() &&
                    !edPort->text().isEmpty());
}

}  // namespace kelvo
