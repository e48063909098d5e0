#include "ui_qt/lamp_panel.h"

#include <QLabel>
#include <QTimer>

#include "present/accessible_texts.h"
#include "ui_qt/gui_pictures.h"

namespace kelvo {

class TLampPanel::TQtLampTimer : public TLampTimer {
 public:
  explicit TQtLampTimer(QTimer& ATimer) : fTimer(ATimer) {}
  void Start() override { fTimer.start(); }
  void Stop() override { fTimer.stop(); }

 private:
  QTimer& fTimer;
};

TLampPanel::TLampPanel(const std::array<QLabel*, 4>& ALamps, QObject* AParent)
    : QObject(AParent),
      fLamps(ALamps),
      fPictures([](const char* AName) { return LoadPicture(QLatin1String(AName)); }) {
  setObjectName(QStringLiteral("LampPanel"));
  static const char* const kTimerNames[] = {"timLEDRxLAN", "timLEDRxWAN", "timLEDTxLAN",
                                            "timLEDTxWAN"};
  std::array<TLampTimer*, kLampCount> lampTimers{};
  for (std::size_t i = 0; i < fTimers.size(); ++i) {
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(kTimerNames[i]));
    timer->setInterval(kLedPeriodMs);
    timer->setTimerType(Qt::PreciseTimer);
    const auto lamp = static_cast<TLamp>(i);
    // timLEDRxLANTimer, shared by the four timers.
    connect(timer, &QTimer::timeout, this, [this, lamp] { fStates->TimerFired(lamp); });
    fTimers[i] = timer;
    fLampTimers[i] = std::make_unique<TQtLampTimer>(*timer);
    lampTimers[i] = fLampTimers[i].get();
  }
  fStates = std::make_unique<TLampStates>(*this, lampTimers);
}

TLampPanel::~TLampPanel() = default;

void TLampPanel::ShowLamp(TLamp ALamp, TLedColor AColor) {
  QLabel* lamp = fLamps[static_cast<std::size_t>(ALamp)];
  lamp->setPixmap(Picture(AColor));
  // A screen reader hears the state the colour shows.
  lamp->setAccessibleName(QString::fromStdString(LampAccessibleName(ALamp, AColor)));
}

}  // namespace kelvo
