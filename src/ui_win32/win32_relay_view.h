// The window's side of the engine's view interface. Lamp requests and counter values arrive on
// the listener thread and reach the window through PostMessage: at most one message in flight
// per lamp and one for both counters, so a flood of frames coalesces instead of filling the
// message queue, the listener never waits for the GUI thread, and the last request for a lamp
// is the one that takes effect.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "relay/relay_view.h"

namespace kelvo {

// Posted to the window: wParam is the lamp (TLamp) for kLampMessage.
inline constexpr UINT kLampMessage = WM_APP + 1;
inline constexpr UINT kCountersMessage = WM_APP + 2;

class TWin32RelayView : public TRelayView {
 public:
  struct TTarget {
    std::function<void(TLamp, TLedColor)> Lamp;
    std::function<void(std::int32_t)> ReqCount;
    std::function<void(std::int32_t)> AckCount;
    std::function<void(const std::string&)> LocalIP;
    std::function<void(bool)> PortError;
  };

  // AWindow receives the posted messages and hands them to Deliver(); GUI thread.
  TWin32RelayView(HWND AWindow, TTarget ATarget);

  // Listener thread (any thread): never blocks, never waits for the GUI thread.
  void SetLed(TLamp ALamp, TLedColor AColor) override;
  void ReqCountChanged(std::int32_t AValue) override;
  void AckCountChanged(std::int32_t AValue) override;

  // GUI thread.
  void LocalIPChanged(const std::string& AAddress) override;
  void PortErrorChanged(bool AVisible) override;
  // The window procedure's handling of kLampMessage and kCountersMessage; true when handled.
  bool Deliver(UINT AMessage, WPARAM AWParam);

  // Any thread: messages posted and not yet delivered (at most five).
  int PendingMessages() const { return fPending.load(); }

 private:
  static constexpr std::size_t kLampCount = 4;
  void PostCountersOnce();

  HWND fWindow;
  TTarget fTarget;
  // The value is stored before the pending flag is tested, and the GUI thread clears the flag
  // before it reads the value, so a request is either seen by the message in flight or posts
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
