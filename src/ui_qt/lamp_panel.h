// The four activity lamps: a lamp lights at the first frame of a burst and turns grey 150 ms
// after the last one; frames closer together hold it lit without a flicker.
// GUI thread only.
#pragma once

#include <QObject>
#include <QPixmap>
#include <array>

#include "relay/relay_view.h"

class QLabel;
class QTimer;

namespace kelvo {

inline constexpr int kLedPeriodMs = 150;

class TLampPanel : public QObject {
  Q_OBJECT

 public:
  // The lamp images in TLamp order (LANRx, WANRx, LANTx, WANTx); they stay owned by the
  // window. Loads the pictures "LEDRED", "LEDGREEN" and "LEDGRAY".
  TLampPanel(const std::array<QLabel*, 4>& ALamps, QObject* AParent);

  // Grey shows at once and leaves the timer alone; red or green lights the lamp (or keeps it
  // lit) and restarts its timer.
  void SetLed(TLamp ALamp, TLedColor AColor);
  void StopTimers();

  const QPixmap& Picture(TLedColor AColor) const;
  QTimer* Timer(TLamp ALamp) const { return fTimers[static_cast<std::size_t>(ALamp)]; }

 private:
  void timLEDRxLANTimer(QTimer* ASender);

  std::array<QLabel*, 4> fLamps;
  std::array<QTimer*, 4> fTimers{};  // children of this object
  QPixmap fLedRED;
  QPixmap fLedGreen;
  QPixmap fLedGray;
};

}  // namespace kelvo
