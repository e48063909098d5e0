#include "ui_qt/lamp_panel.h"

#include <QLabel>
#include <QTimer>

namespace kelvo {

TLampPanel::TLampPanel(const std::array<QLabel*, 4>& ALamps, QObject* AParent)
    : QObject(AParent),
      fLamps(ALamps),
      fLedRED(QStringLiteral(":/LEDRED")),
      fLedGreen(QStringLiteral(":/LEDGREEN")),
      fLedGray(QStringLiteral(":/LEDGRAY")) {
  setObjectName(QStringLiteral("LampPanel"));
  static const char* const kTimerNames[] = {"timLEDRxLAN", "timLEDRxWAN", "timLEDTxLAN",
                                            "timLEDTxWAN"};
  for (std::size_t i = 0; i < fTimers.size(); ++i) {
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(kTimerNames[i]));
    timer->setInterval(kLedPeriodMs);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer] { timLEDRxLANTimer(timer); });
    fTimers[i] = timer;
  }
}

const QPixmap& TLampPanel::Picture(TLedColor AColor) const {
  switch (AColor) {
    case TLedColor::Red:
      return fLedRED;
    case TLedColor::Green:
      return fLedGreen;
    case TLedColor::Gray:
      break;
  }
  return fLedGray;
}

void TLampPanel::SetLed(TLamp ALamp, TLedColor AColor) {
  const auto index = static_cast<std::size_t>(ALamp);
  if (index >= fLamps.size()) {
    return;
  }
  QLabel* lamp = fLamps[index];
  QTimer* timer = fTimers[index];
  if (AColor == TLedColor::Gray) {
    lamp->setPixmap(fLedGray);
    return;
  }
  if (timer->isActive()) {
    timer->stop();  // already lit: keep the picture, only push the end of the flash back
  } else {
    lamp->setPixmap(Picture(AColor));
  }
  timer->start();
}

void TLampPanel::timLEDRxLANTimer(QTimer* ASender) {
  for (std::size_t i = 0; i < fTimers.size(); ++i) {
    if (fTimers[i] == ASender) {
      SetLed(static_cast<TLamp>(i), TLedColor::Gray);
      ASender->stop();
      return;
    }
  }
}

void TLampPanel::StopTimers() {
  for (QTimer* timer : fTimers) {
    timer->stop();
  }
}

}  // namespace kelvo
