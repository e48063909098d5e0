// The window's side of the engine's view interface. Lamp requests and counter values arrive on
// the listener thread and reach the GUI thread as queued calls, coalesced by
// TCoalescingRelayView: at most one per lamp and one for the counters.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

#include "present/coalescing_relay_view.h"

namespace kelvo {

class TQtRelayView : public QObject, public TCoalescingRelayView {
  Q_OBJECT

 public:
  // Lives on the GUI thread; its signals are emitted there.
  explicit TQtRelayView(QObject* AParent = nullptr);

  // GUI thread.
  void LocalIPChanged(const std::string& AAddress) override;
  void PortErrorChanged(bool AVisible) override;

 signals:
  void LampRequested(kelvo::TLamp ALamp, kelvo::TLedColor AColor);
  void ReqCountShown(qint32 AValue);
  void AckCountShown(qint32 AValue);
  void LocalIPShown(const QString& AAddress);
  void PortErrorShown(bool AVisible);

 private:
  // Listener thread.
  bool PostLamp(TLamp ALamp) override;
  bool PostCounters() override;
};

}  // namespace kelvo
