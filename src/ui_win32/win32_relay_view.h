// The window's side of the engine's view interface. Lamp requests and counter values arrive on
// the listener thread and reach the window through PostMessage, coalesced by
// TCoalescingRelayView: at most one message in flight per lamp and one for both counters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "present/coalescing_relay_view.h"

namespace kelvo {

// Posted to the window: wParam is the lamp (TLamp) for kLampMessage.
inline constexpr UINT kLampMessage = WM_APP + 1;
inline constexpr UINT kCountersMessage = WM_APP + 2;

class TWin32RelayView : public TCoalescingRelayView {
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

  // GUI thread.
  void LocalIPChanged(const std::string& AAddress) override;
  void PortErrorChanged(bool AVisible) override;
  // The window procedure's handling of kLampMessage and kCountersMessage; true when handled.
  bool Deliver(UINT AMessage, WPARAM AWParam);

 private:
  // Listener thread.
  bool PostLamp(TLamp ALamp) override;
  bool PostCounters() override;

  HWND fWindow;
  TTarget fTarget;
};

}  // namespace kelvo
