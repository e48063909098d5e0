#include "ui_qt/qt_relay_view.h"

#include <QMetaObject>

namespace kelvo {

TQtRelayView::TQtRelayView(QObject* AParent) : QObject(AParent) {
  setObjectName(QStringLiteral("RelayView"));
}

bool TQtRelayView::PostLamp(TLamp ALamp) {
  return QMetaObject::invokeMethod(
      this, [this, ALamp] { emit LampRequested(ALamp, TakeLamp(ALamp)); }, Qt::QueuedConnection);
}

bool TQtRelayView::PostCounters() {
  return QMetaObject::invokeMethod(
      this,
      [this] {
        const TCounterValues values = TakeCounters();
        if (values.ReqCount) {
          emit ReqCountShown(*values.ReqCount);
        }
        if (values.AckCount) {
          emit AckCountShown(*values.AckCount);
        }
      },
      Qt::QueuedConnection);
}

void TQtRelayView::LocalIPChanged(const std::string& AAddress) {
  emit LocalIPShown(QString::fromStdString(AAddress));
}

void TQtRelayView::PortErrorChanged(bool AVisible) {
  emit PortErrorShown(AVisible);
}

}  // namespace kelvo
