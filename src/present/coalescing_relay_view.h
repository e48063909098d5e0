// The engine's lamp and counter requests on their way from the listener thread to the GUI
// thread: at most one delivery in flight per lamp and one for both counters, so a flood of
// frames coalesces instead of growing the front-end's event queue, the listener never waits for
// the GUI thread, and the newest request for a lamp is the one that takes effect.
//
// A front-end derives from it, posts a delivery the way its toolkit does (a queued call, a
// window message) and, when the delivery runs on the GUI thread, takes what it carries.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "present/lamp_states.h"
#include "relay/relay_view.h"

namespace kelvo {

// What one counters delivery has to show; a counter that did not change since the last
// delivery is empty.
struct TCounterValues {
  std::optional<std::int32_t> ReqCount;
  std::optional<std::int32_t> AckCount;
};

class TCoalescingRelayView : public TRelayView {
 public:
  // Listener thread (any thread): never blocks, never waits for the GUI thread.
  void SetLed(TLamp ALamp, TLedColor AColor) final;
  void ReqCountChanged(std::int32_t AValue) final;
  void AckCountChanged(std::int32_t AValue) final;

  // Any thread: deliveries posted and not yet taken (at most five).
  int PendingDeliveries() const { return fPending.load(); }

 protected:
  // Listener thread: have the GUI thread call TakeLamp(ALamp), or TakeCounters(), once. False
  // when nothing will deliver it (the window is gone); the next request then posts again.
  virtual bool PostLamp(TLamp ALamp) = 0;
  virtual bool PostCounters() = 0;

  // GUI thread, once per posted delivery: the lamp's newest colour; the counters that changed.
  TLedColor TakeLamp(TLamp ALamp);
  TCounterValues TakeCounters();

 private:
  static std::size_t Index(TLamp ALamp) { return static_cast<std::size_t>(ALamp); }
  void PostCountersOnce();

  // The value is stored before the pending flag is tested, and the GUI thread clears the flag
  // before it reads the value, so a request is either seen by the delivery in flight or posts
  // a new one.
  std::array<std::atomic<int>, kLampCount> fLampColor{};
  std::array<std::atomic<bool>, kLampCount> fLampPending{};
  std::atomic<std::int32_t> fReqCount{0};
  std::atomic<std::int32_t> fAckCount{0};
  std::atomic<bool> fReqChanged{false};
  std::atomic<bool> fAckChanged{false};
  std::atomic<bool> fCountersPending{false};
  std::atomic<int> fPending{0};
};

}  // namespace kelvo
