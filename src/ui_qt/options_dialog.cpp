#include "ui_qt/options_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <string>
#include <vector>

#include "app/relay_host.h"
#include "present/label_room.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/form_helpers.h"
#include "ui_qt/group_frame.h"

namespace kelvo {

namespace {

// The button shows the action's caption and enabled state and runs it when clicked.
void BindButtonToAction(QPushButton* AButton, QAction* AAction) {
  auto follow = [AButton, AAction] {
    AButton->setText(AAction->text());
    AButton->setEnabled(AAction->isEnabled());
  };
  follow();
  QObject::connect(AAction, &QAction::changed, AButton, follow);
  QObject::connect(AButton, &QPushButton::clicked, AAction, &QAction::trigger);
}

QTableWidgetItem* MakeCell(const QString& AText) {
  auto* item = new QTableWidgetItem(AText);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

// Report-style list: whole rows, one at most, grid lines, nothing editable or sortable.
void SetUpReportList(QTableWidget* AList) {
  AList->setColumnCount(static_cast<int>(kStaticColumns.size()));
  for (int column = 0; column < AList->columnCount(); ++column) {
    const TStaticColumnLook& look = kStaticColumns[static_cast<std::size_t>(column)];
    AList->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromLatin1(look.Caption)));
    AList->setColumnWidth(column, look.Width);
  }
  QHeaderView* header = AList->horizontalHeader();
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  AList->verticalHeader()->hide();
  AList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  AList->verticalHeader()->setDefaultSectionSize(17);
  AList->setShowGrid(true);
  AList->setSelectionBehavior(QAbstractItemView::SelectRows);
  AList->setSelectionMode(QAbstractItemView::SingleSelection);
  AList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  AList->setSortingEnabled(false);
  AList->setWordWrap(false);
  AList->setTabKeyNavigation(false);
}

}  // namespace

TfmOptions::TfmOptions(TfmEditNAT& AEditNAT, QWidget* AParent)
    : TCentredDialog(AParent),
      Panel1(MakeChild<QWidget>(this, "Panel1", 0, 322, 428, 39)),
      btnOK(MakeChild<QPushButton>(Panel1, "btnOK", 267, 7, 75, 25)),
      btnCancel(MakeChild<QPushButton>(Panel1, "btnCancel", 347, 7, 75, 25)),
      GroupBox1(MakeChild<TGroupFrame>(this, "GroupBox1", 8, 8, 412, 305)),
      Label1(MakeChild<QLabel>(GroupBox1, "Label1", 16, 19, 82, 13)),
      cbEthAdapter(MakeChild<QComboBox>(GroupBox1, "cbEthAdapter", 104, 16, 299, 21)),
      cbCreateDebugLogs(MakeChild<QCheckBox>(GroupBox1, "cbCreateDebugLogs", 16, 278, 119, 17)),
      Button1(MakeChild<QPushButton>(GroupBox1, "Button1", 328, 83, 75, 25)),
      Button2(MakeChild<QPushButton>(GroupBox1, "Button2", 328, 114, 75, 25)),
      Button3(MakeChild<QPushButton>(GroupBox1, "Button3", 328, 145, 75, 25)),
      Label2(MakeChild<QLabel>(GroupBox1, "Label2", 16, 64, 58, 13)),
      lvStatic(MakeChild<QTableWidget>(GroupBox1, "lvStatic", 16, 83, 306, 182)),
      acAdd(new QAction(QStringLiteral("Add"), this)),
      acDelete(new QAction(QStringLiteral("Delete"), this)),
      acEdit(new QAction(QStringLiteral("Edit"), this)),
      fEditNAT(AEditNAT) {
  setObjectName(QStringLiteral("fmOptions"));
  setWindowTitle(QStringLiteral("Setup"));
  SetFixedDialogFrame(this, 428, 361);
  setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));

  btnOK->setText(QStringLiteral("&OK"));
  btnOK->setDefault(true);
  btnCancel->setText(QStringLiteral("&Cancel"));
  GroupBox1->setTitle(QStringLiteral("General"));
  Label1->setText(QStringLiteral("&Ethernet adapter:"));
  Label1->setBuddy(cbEthAdapter);
  cbEthAdapter->setEditable(false);
  cbCreateDebugLogs->setText(QStringLiteral("Create debug logs"));
  // An installed program logs into the user's state folder, not beside itself: say where.
  cbCreateDebugLogs->setToolTip(
      QStringLiteral("Written to %1").arg(QString::fromStdString(DebugLogFileName())));
  Label2->setText(QStringLiteral("Static IP list:"));
  FitLabelWidth(Label1);
  FitLabelWidth(Label2);
  FitLabelHeight(Label1);
  FitLabelHeight(Label2);
  {
    // A caption wider than designed pushes the drop-down's left edge along.
    const QRect now = cbEthAdapter->geometry();
    const TBounds place = FieldAfterLabel(Label1->x() + Label1->width(), kLabelFieldGap,
                                          {now.x(), now.y(), now.width(), now.height()});
    cbEthAdapter->setGeometry(place.Left, place.Top, place.Width, place.Height);
  }
  SetUpReportList(lvStatic);

  acAdd->setObjectName(QStringLiteral("acAdd"));
  acDelete->setObjectName(QStringLiteral("acDelete"));
  acEdit->setObjectName(QStringLiteral("acEdit"));
  BindButtonToAction(Button1, acAdd);
  BindButtonToAction(Button2, acDelete);
  BindButtonToAction(Button3, acEdit);

  connect(btnOK, &QPushButton::clicked, this, [this] {
    btnOKClick();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] {
    btnCancelClick();
    reject();
  });
  connect(cbEthAdapter, &QComboBox::currentIndexChanged, this, &TfmOptions::cbEthAdapterChange);
  connect(acAdd, &QAction::triggered, this, &TfmOptions::acAddExecute);
  connect(acEdit, &QAction::triggered, this, &TfmOptions::acEditExecute);
  connect(acDelete, &QAction::triggered, this, &TfmOptions::acDeleteExecute);
  // The enabled state depends only on the selection, so following its changes is enough.
  connect(lvStatic, &QTableWidget::itemSelectionChanged, this, &TfmOptions::ActionList1Update);

  setTabOrder(btnOK, btnCancel);
  setTabOrder(btnCancel, cbEthAdapter);
  setTabOrder(cbEthAdapter, cbCreateDebugLogs);
  setTabOrder(cbCreateDebugLogs, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, lvStatic);

  ActionList1Update();
}

// FormDestroy: the adapter list goes with its unique_ptr.
TfmOptions::~TfmOptions() = default;

void TfmOptions::SetStaticList(std::unique_ptr<TNATInfoList> AStaticList) {
  StaticList = std::move(AStaticList);
}

std::unique_ptr<TNATInfoList> TfmOptions::TakeStaticList() {
  return std::move(StaticList);
}

void TfmOptions::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!AEvent->spontaneous()) {
    FormShow();
  }
}

void TfmOptions::done(int AResult) {
  if (AResult != QDialog::Accepted) {
    // Cancel, Esc and the close box: the edits are dropped, and so is the lent copy, which
    // the caller never reads back after a cancel.
    fWorkingCopy.Cancel();
    StaticList.reset();
  }
  QDialog::done(AResult);
}

void TfmOptions::FormShow() {
  fWorkingCopy.Begin(StaticList.get(), EthernetAdapterID);
  cbEthAdapter->clear();
  for (const std::string& line : fWorkingCopy.AdapterLines()) {
    cbEthAdapter->addItem(QString::fromStdString(line));
  }
  cbEthAdapter->setCurrentIndex(fWorkingCopy.SelectedAdapterIndex());
  cbEthAdapter->setToolTip(cbEthAdapter->currentText());
  cbCreateDebugLogs->setChecked(CreateDebugLogs);
  RefreshStaticList();
}

void TfmOptions::cbEthAdapterChange() {
  cbEthAdapter->setToolTip(cbEthAdapter->currentText());
}

void TfmOptions::ActionList1Update() {
  const bool selected = SelectedRow() >= 0;
  acDelete->setEnabled(selected);
  acEdit->setEnabled(selected);
  acAdd->setEnabled(true);
}

int TfmOptions::SelectedRow() const {
  const QList<QTableWidgetSelectionRange> ranges = lvStatic->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void TfmOptions::RefreshStaticList() {
  lvStatic->setUpdatesEnabled(false);
  lvStatic->clearSelection();
  lvStatic->setRowCount(0);
  const int count = fWorkingCopy.RowCount();
  lvStatic->setRowCount(count);
  for (int row = 0; row < count; ++row) {
    for (int column = 0; column < lvStatic->columnCount(); ++column) {
      lvStatic->setItem(row, column,
                        MakeCell(QString::fromStdString(
                            fWorkingCopy.CellText(row, static_cast<TStaticColumn>(column)))));
    }
  }
  lvStatic->clearSelection();
  lvStatic->setUpdatesEnabled(true);
  ActionList1Update();
}

void TfmOptions::acAddExecute() {
  fEditNAT.SetTexts({});
  fEditNAT.EditMode = false;
  if (fEditNAT.exec() != QDialog::Accepted) {
    return;
  }
  // A host that does not resolve now is added all the same, with an empty IP.
  fWorkingCopy.Add(fEditNAT.Texts());
  RefreshStaticList();
}

void TfmOptions::acEditExecute() {
  const int row = SelectedRow();
  const std::optional<TEntryTexts> texts = fWorkingCopy.EditTexts(row);
  if (!texts) {
    return;
  }
  fEditNAT.SetTexts(*texts);
  fEditNAT.EditMode = true;
  if (fEditNAT.exec() != QDialog::Accepted) {
    return;
  }
  fWorkingCopy.Edit(row, fEditNAT.Texts());
  RefreshStaticList();
}

void TfmOptions::acDeleteExecute() {
  const int row = SelectedRow();
  if (row < 0) {
    return;
  }
  fWorkingCopy.Delete(row);
  RefreshStaticList();
}

void TfmOptions::btnOKClick() {
  TSetupResult result =
      fWorkingCopy.Accept(cbEthAdapter->currentIndex(), cbCreateDebugLogs->isChecked());
  EthernetAdapterID = result.EthernetAdapterID;
  CreateDebugLogs = result.CreateDebugLogs;
  // The working copy becomes the result; the lent copy it was made from goes.
  StaticList = std::move(result.StaticList);
}

void TfmOptions::btnCancelClick() {
  // Nothing to read back; done() drops the working copy for every way of cancelling.
}

}  // namespace kelvo
