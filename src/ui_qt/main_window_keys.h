// The main window's keyboard and copying: F1 opens Help, Esc hides the window as its close box
// does, and each status list copies its selected rows (all rows when none is selected) with
// Ctrl+C or its context menu's "Copy", as tab-separated text with the column titles.
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>

class QAction;
class QTableView;
class QWidget;

namespace kelvo {

struct TMainWindowUi;

class TMainWindowKeys : public QObject {
  Q_OBJECT

 public:
  // A child of AWindow; AHelp and AClose are the window's acHelp and acClose.
  TMainWindowKeys(QWidget& AWindow, const TMainWindowUi& AUi, QAction& AHelp, QAction& AClose);

  // What Copy puts on the clipboard for AList (ListView1 or ListView2).
  static QString CopyText(const QTableView& AList);
  // Copy of AList: the text goes to the clipboard.
  static void CopyRows(const QTableView& AList);
};

}  // namespace kelvo
