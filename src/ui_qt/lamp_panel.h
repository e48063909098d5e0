// The four activity lamps drawn with the pictures "LEDRED", "LEDGREEN" and "LEDGRAY" (in the
// drawing that suits the screen), each named with its state for screen readers. When a lamp
// lights and goes grey is TLampStates' decision; this panel gives it Qt timers and labels.
// GUI thread only.
#pragma once

#include <QObject>
#include <QPixmap>
#include <array>
#include <memory>

#include "present/lamp_pictures.h"
#include "present/lamp_states.h"
#include "relay/relay_view.h"

class QLabel;
class QTimer;

namespace kelvo {

class TLampPanel : public QObject, public TLampDisplay {
  Q_OBJECT

 public:
  // The lamp images in TLamp order (LANRx, WANRx, LANTx, WANTx); they stay owned by the
  // window. Loads the pictures "LEDRED", "LEDGREEN" and "LEDGRAY".
  TLampPanel(const std::array<QLabel*, 4>& ALamps, QObject* AParent);
  ~TLampPanel() override;

  // Grey shows at once and leaves the timer alone; red or green lights the lamp (or keeps it
  // lit) and restarts its timer.
  void SetLed(TLamp ALamp, TLedColor AColor) { fStates->SetLed(ALamp, AColor); }
  void StopTimers() { fStates->StopTimers(); }

  const QPixmap& Picture(TLedColor AColor) const { return fPictures.Picture(AColor); }
  QTimer* Timer(TLamp ALamp) const { return fTimers[static_cast<std::size_t>(ALamp)]; }

 private:
  class TQtLampTimer;

  void ShowLamp(TLamp ALamp, TLedColor AColor) override;

  std::array<QLabel*, 4> fLamps;
  std::array<QTimer*, 4> fTimers{};  // children of this object
  std::array<std::unique_ptr<TQtLampTimer>, 4> fLampTimers;
  std::unique_ptr<TLampStates> fStates;
  TLampPictures<QPixmap> fPictures;
};

}  // namespace kelvo
