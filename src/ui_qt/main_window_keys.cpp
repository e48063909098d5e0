#include "ui_qt/main_window_keys.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QShortcut>
#include <QTableView>
#include <QWidget>
#include <vector>

#include "present/list_copy.h"
#include "ui_qt/main_window_layout.h"
#include "ui_qt/status_model.h"

namespace kelvo {

namespace {

// The line end of the desktop's own programs (this front-end runs on Linux).
constexpr char kLineEnd[] = "\n";

void AddCopyAction(QTableView* AList) {
  auto* copy = new QAction(QStringLiteral("Copy"), AList);  // owned by the list
  copy->setObjectName(AList->objectName() + QStringLiteral("Copy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, AList,
                   [AList] { TMainWindowKeys::CopyRows(*AList); });
  AList->addAction(copy);
  // The list's context menu holds its actions: "Copy".
  AList->setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace

TMainWindowKeys::TMainWindowKeys(QWidget& AWindow, const TMainWindowUi& AUi, QAction& AHelp,
                                 QAction& AClose)
    : QObject(&AWindow) {
  setObjectName(QStringLiteral("MainWindowKeys"));
  AddCopyAction(AUi.ListView1);
  AddCopyAction(AUi.ListView2);
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), &AWindow);  // owned by the window
  help->setObjectName(QStringLiteral("F1"));
  connect(help, &QShortcut::activated, &AHelp, &QAction::trigger);
  auto* hide = new QShortcut(QKeySequence(Qt::Key_Escape), &AWindow);
  hide->setObjectName(QStringLiteral("Esc"));
  connect(hide, &QShortcut::activated, &AClose, &QAction::trigger);
}

QString TMainWindowKeys::CopyText(const QTableView& AList) {
  const auto* model = qobject_cast<const TStatusModel*>(AList.model());
  if (model == nullptr) {
    return {};
  }
  std::vector<int> selected;
  if (const QItemSelectionModel* selection = AList.selectionModel()) {
    for (const QModelIndex& index : selection->selectedRows()) {
      selected.push_back(index.row());
    }
  }
  return QString::fromStdString(StatusRowsCopyText(model->Rows(), selected, kLineEnd));
}

void TMainWindowKeys::CopyRows(const QTableView& AList) {
  QGuiApplication::clipboard()->setText(CopyText(AList));
}

}  // namespace kelvo
