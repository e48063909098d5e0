#include "present/coalescing_relay_view.h"

namespace kelvo {

void TCoalescingRelayView::SetLed(TLamp ALamp, TLedColor AColor) {
  const std::size_t index = Index(ALamp);
  if (index >= fLampColor.size()) {
    return;
  }
  fLampColor[index].store(static_cast<int>(AColor));
  if (!fLampPending[index].exchange(true)) {
    ++fPending;
    if (!PostLamp(ALamp)) {
      --fPending;
      fLampPending[index].store(false);
    }
  }
}

void TCoalescingRelayView::ReqCountChanged(std::int32_t AValue) {
  fReqCount.store(AValue);
  fReqChanged.store(true);
  PostCountersOnce();
}

void TCoalescingRelayView::AckCountChanged(std::int32_t AValue) {
  fAckCount.store(AValue);
  fAckChanged.store(true);
  PostCountersOnce();
}

void TCoalescingRelayView::PostCountersOnce() {
  if (!fCountersPending.exchange(true)) {
    ++fPending;
    if (!PostCounters()) {
      --fPending;
      fCountersPending.store(false);
    }
  }
}

TLedColor TCoalescingRelayView::TakeLamp(TLamp ALamp) {
  const std::size_t index = Index(ALamp);
  --fPending;
  fLampPending[index].store(false);
  return static_cast<TLedColor>(fLampColor[index].load());
}

TCounterValues TCoalescingRelayView::TakeCounters() {
  --fPending;
  fCountersPending.store(false);
  TCounterValues values;
  if (fReqChanged.exchange(false)) {
    values.ReqCount = fReqCount.load();
  }
  if (fAckChanged.exchange(false)) {
    values.AckCount = fAckCount.load();
  }
  return values;
}

}  // namespace kelvo
