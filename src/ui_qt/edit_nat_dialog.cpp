#include "ui_qt/edit_nat_dialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QValidator>

#include "present/label_room.h"
#include "ui_qt/form_helpers.h"

namespace kelvo {

namespace {

// Filters every change of a field's text by a rule that judges the text it would hold.
class TFieldValidator : public QValidator {
 public:
  using TRule = TFieldAcceptance (*)(std::string_view);
  TFieldValidator(TRule ARule, QObject* AParent) : QValidator(AParent), fRule(ARule) {}

  State validate(QString& AInput, int& /*APosition*/) const override {
    switch (fRule(AInput.toStdString())) {
      case TFieldAcceptance::Acceptable:
        return Acceptable;
      case TFieldAcceptance::Intermediate:
        return Intermediate;
      case TFieldAcceptance::Invalid:
        break;
    }
    return Invalid;
  }

 private:
  TRule fRule;
};

}  // namespace

TfmEditNAT::TfmEditNAT(QWidget* AParent)
    : TCentredDialog(AParent),
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
    FitLabelHeight(label);
  }
  // A caption wider than designed pushes its field's left edge along; NAD and host stay
  // aligned under each other.
  const auto rightOf = [](const QWidget* AWidget) { return AWidget->x() + AWidget->width(); };
  const auto giveWay = [](QWidget* AField, int ACaptionRight) {
    const QRect now = AField->geometry();
    const TBounds place = FieldAfterLabel(ACaptionRight, kLabelFieldGap,
                                          {now.x(), now.y(), now.width(), now.height()});
    AField->setGeometry(place.Left, place.Top, place.Width, place.Height);
  };
  const int captionsRight = std::max(rightOf(Label1), rightOf(Label2));
  giveWay(edNAD, captionsRight);
  giveWay(edHost, captionsRight);
  giveWay(edPort, rightOf(Label3));
  // Typing adds digits; the caller's own negative NAD must stay acceptable, or Qt would stop
  // filtering the field altogether.
  edNAD->setValidator(new TFieldValidator(&NADFieldAcceptance, edNAD));
  edPort->setValidator(new TFieldValidator(&PortFieldAcceptance, edPort));

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

TEntryTexts TfmEditNAT::Texts() const {
  return {edNAD->text().toStdString(), edHost->text().toStdString(), edPort->text().toStdString()};
}

void TfmEditNAT::SetTexts(const TEntryTexts& ATexts) {
  edNAD->setText(QString::fromStdString(ATexts.NAD));
  edHost->setText(QString::fromStdString(ATexts.Host));
  edPort->setText(QString::fromStdString(ATexts.Port));
}

void TfmEditNAT::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!AEvent->spontaneous()) {
    FormShow();
  }
}

void TfmEditNAT::FormShow() {
  setWindowTitle(EditMode ? QStringLiteral("Edit") : QStringLiteral("Add"));
  // Every showing starts in the NAD field with its text selected, whatever field the last one
  // ended in: a NAD typed at once replaces what is there instead of landing in Host.
  edNAD->setFocus(Qt::OtherFocusReason);
  edNAD->selectAll();
}

void TfmEditNAT::edNADChange() {
  btnOK->setEnabled(EntryTextsAcceptable(Texts()));
}

}  // namespace kelvo
