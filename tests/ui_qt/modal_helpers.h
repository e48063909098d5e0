// Driving modal dialogs from a test: the action runs inside the dialog's own event loop, and a
// watchdog closes whatever is still modal so that a fault fails the test instead of hanging it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kelvo::test {

inline int ExecWith(QDialog& ADialog, std::function<void()> AAction, bool* ATimedOut = nullptr) {
  QTimer::singleShot(0, &ADialog, std::move(AAction));
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [ATimedOut] {
    if (ATimedOut != nullptr) {
      *ATimedOut = true;
    }
    for (int guard = 0; guard < 10; ++guard) {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) {
        break;
      }
      modal->close();
    }
  });
  watchdog.start(10000);
  return ADialog.exec();
}

}  // namespace kelvo::test
