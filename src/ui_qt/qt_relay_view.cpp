#include "ui_qt/qt_relay_view.h"

#include <QMetaObject>

namespace kelvo {

TQtRelayView::TQtRelayView(QObject* AParent) : QObject(AParent) {
  setObjectName(QStringLiteral("RelayView"));
}

void TQtRelayView::SetLed(TLamp ALamp, TLedColor AColor) {
  const auto index = static_cast<std::size_t>(ALamp);
  if (index >= kLampCount) {
    return;
  }
  fLampColor[index].store(static_cast<int>(AColor));
  if (!fLampPending[index].exchange(true)) {
    ++fPendingCalls;
    QMetaObject::invokeMethod(
        this, [this, index] { DeliverLamp(index); }, Qt::QueuedConnection);
  }
}

void TQtRelayView::ReqCountChanged(std::int32_t AValue) {
  fReqCount.store(AValue);
  fReqChanged.store(true);
  PostCountersOnce();
}

void TQtRelayView::AckCountChanged(std::int32_t AValue) {
  fAckCount.store(AValue);
  fAckChanged.store(true);
  PostCountersOnce();
}

void TQtRelayView::PostCountersOnce() {
  if (!fCountersPending.exchange(true)) {
    ++fPendingCalls;
    QMetaObject::invokeMethod(
        this, [this] { DeliverCounters(); }, Qt::QueuedConnection);
  }
}

void TQtRelayView::DeliverLamp(std::size_t AIndex) {
  --fPendingCalls;
  fLampPending[AIndex].store(false);
  const auto color = static_cast<TLedColor>(fLampColor[AIndex].load());
  emit LampRequested(static_cast<TLamp>(AIndex), color);
}

void TQtRelayView::DeliverCounters() {
  --fPendingCalls;
  fCountersPending.store(false);
  if (fReqChanged.exchange(false)) {
    emit ReqCountShown(fReqCount.load());
  }
  if (fAckChanged.exchange(false)) {
    emit AckCountShown(fAckCount.load());
  }
}

void TQtRelayView::LocalIPChanged(const std::string& AAddress) {
  emit LocalIPShown(QString::fromStdString(AAddress));
}

void TQtRelayView::PortErrorChanged(bool AVisible) {
  emit PortErrorShown(AVisible);
}

}  // namespace kelvo
