#include "ui_win32/win32_relay_view.h"

#include <utility>

namespace kelvo {

TWin32RelayView::TWin32RelayView(HWND AWindow, TTarget ATarget)
    : fWindow(AWindow), fTarget(std::move(ATarget)) {}

void TWin32RelayView::SetLed(TLamp ALamp, TLedColor AColor) {
  const auto index = static_cast<std::size_t>(ALamp);
  if (index >= kLampCount) {
    return;
  }
  fLampColor[index].store(static_cast<int>(AColor));
  if (!fLampPending[index].exchange(true)) {
    ++fPending;
    if (!PostMessageW(fWindow, kLampMessage, index, 0)) {
      // The window is gone (shut-down): nothing will deliver it.
      --fPending;
      fLampPending[index].store(false);
    }
  }
}

void TWin32RelayView::ReqCountChanged(std::int32_t AValue) {
  fReqCount.store(AValue);
  fReqChanged.store(true);
  PostCountersOnce();
}

void TWin32RelayView::AckCountChanged(std::int32_t AValue) {
  fAckCount.store(AValue);
  fAckChanged.store(true);
  PostCountersOnce();
}

void TWin32RelayView::PostCountersOnce() {
  if (!fCountersPending.exchange(true)) {
    ++fPending;
    if (!PostMessageW(fWindow, kCountersMessage, 0, 0)) {
      --fPending;
      fCountersPending.store(false);
    }
  }
}

bool TWin32RelayView::Deliver(UINT AMessage, WPARAM AWParam) {
  if (AMessage == kLampMessage) {
    const std::size_t index = AWParam;
    if (index >= kLampCount) {
      return true;
    }
    --fPending;
    fLampPending[index].store(false);
    const auto color = static_cast<TLedColor>(fLampColor[index].load());
    if (fTarget.Lamp) {
      fTarget.Lamp(static_cast<TLamp>(index), color);
    }
    return true;
  }
  if (AMessage == kCountersMessage) {
    --fPending;
    fCountersPending.store(false);
    if (fReqChanged.exchange(false) && fTarget.ReqCount) {
      fTarget.ReqCount(fReqCount.load());
    }
    if (fAckChanged.exchange(false) && fTarget.AckCount) {
      fTarget.AckCount(fAckCount.load());
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
