#include "ui_win32/win32_relay_view.h"

#include <utility>

namespace kelvo {

TWin32RelayView::TWin32RelayView(HWND AWindow, TTarget ATarget)
    : fWindow(AWindow), fTarget(std::move(ATarget)) {}

bool TWin32RelayView::PostLamp(TLamp ALamp) {
  // Fails once the window is gone (shut-down): nothing would deliver it.
  return PostMessageW(fWindow, kLampMessage, static_cast<WPARAM>(ALamp), 0) != FALSE;
}

bool TWin32RelayView::PostCounters() {
  return PostMessageW(fWindow, kCountersMessage, 0, 0) != FALSE;
}

bool TWin32RelayView::Deliver(UINT AMessage, WPARAM AWParam) {
  if (AMessage == kLampMessage) {
    if (AWParam >= static_cast<WPARAM>(kLampCount)) {
      return true;  // not one of ours to take
    }
    const auto lamp = static_cast<TLamp>(AWParam);
    const TLedColor color = TakeLamp(lamp);
    if (fTarget.Lamp) {
      fTarget.Lamp(lamp, color);
    }
    return true;
  }
  if (AMessage == kCountersMessage) {
    const TCounterValues values = TakeCounters();
    if (values.ReqCount && fTarget.ReqCount) {
      fTarget.ReqCount(*values.ReqCount);
    }
    if (values.AckCount && fTarget.AckCount) {
      fTarget.AckCount(*values.AckCount);
    }
    return true;
  }
  return false;
}

void TWin32RelayView::LocalIPChanged(const std::string& AAddress) {
  if (fTarget.LocalIP) {
    fTarget.LocalIP(AAddress);
  }
}

void TWin32RelayView::PortErrorChanged(bool AVisible) {
  if (fTarget.PortError) {
    fTarget.PortError(AVisible);
  }
}

}  // namespace kelvo
