// The window's side of the engine's view interface. Lamp requests and counter values arrive on
// the listener thread and are handed to the GUI thread through at most one queued call per lamp
// and one for the counters: a flood of frames coalesces instead of growing the event queue, and
// the last request for a lamp is the one that takes effect.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>

#include "relay/relay_view.h"

namespace kelvo {

class TQtRelayView : public QObject, public TRelayView {
  Q_OBJECT

 public:
  // Lives on the GUI thread; its signals are emitted there.
  explicit TQtRelayView(QObject* AParent = nullptr);

  // Listener thread (any thread): never blocks, never waits for the GUI thread.
  void SetLed(TLamp ALamp, TLedColor AColor) override;
  void ReqCountChanged(std::int32_t AValue) override;
  void AckCountChanged(std::int32_t AValue) override;

  // GUI thread.
  void LocalIPChanged(const std::string& AAddress) override;
  void PortErrorChanged(bool AVisible) override;

  // Any thread: calls queued for the GUI thread and not yet carried out (at most five).
  int PendingCalls() const { return fPendingCalls.load(); }

 signals:
  void LampRequested(kelvo::TLamp ALamp, kelvo::TLedColor AColor);
  void ReqCountShown(qint32 AValue);
  void AckCountShown(qint32 AValue);
  void LocalIPShown(const QString& AAddress);
  void PortErrorShown(bool AVisible);

 private:
  static constexpr std::size_t kLampCount = 4;

  void DeliverLamp(std::size_t AIndex);  // GUI thread
  void DeliverCounters();                // GUI thread
  void PostCountersOnce();

  // Written by the listener, read by the GUI thread. The value is stored before the pending
  // flag is tested, and the GUI thread clears the flag before it reads the value, so a request
  // is either seen by the call in flight or posts a new one.
  std::array<std::atomic<int>, kLampCount> fLampColor{};
  std::array<std::atomic<bool>, kLampCount> fLampPending{};
  std::atomic<std::int32_t> fReqCount{0};
  std::atomic<std::int32_t> fAckCount{0};
  std::atomic<bool> fReqChanged{false};
  std::atomic<bool> fAckChanged{false};
  std::atomic<bool> fCountersPending{false};
  std::atomic<int> fPendingCalls{0};
};

}  // namespace kelvo
