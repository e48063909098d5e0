#include "ui_qt/kelvo_application.h"

#include <exception>

namespace kelvo {

TKelvoApplication::TKelvoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TKelvoApplication::ReportException(const std::string& AMessage) const {
  if (!fOnException) {
    return;
  }
  try {
    fOnException(AMessage);
  } catch (...) {
    // Nowhere left to report it; the program goes on.
  }
}

bool TKelvoApplication::notify(QObject* AReceiver, QEvent* AEvent) {
  try {
    return QApplication::notify(AReceiver, AEvent);
  } catch (const std::exception& error) {
    ReportException(error.what());
  } catch (...) {
    ReportException("Unknown error");
  }
  return false;
}

}  // namespace kelvo
