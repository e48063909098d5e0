// Counts how often each lamp was lit and passes every call on to the window's view: the status
// answer carries the counts, so an attached window lights its lamps from the activity between
// two looks. Counting is one relaxed atomic add on the listener thread; any thread may read.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "relay/relay_view.h"

namespace kelvo {

class TLampCountingView final : public TRelayView {
 public:
  explicit TLampCountingView(TRelayView& AView) : fView(AView) {}

  void SetLed(TLamp ALamp, TLedColor AColor) override {
    if (AColor != TLedColor::Gray) {
      fLit[static_cast<std::size_t>(ALamp)].fetch_add(1, std::memory_order_relaxed);
    }
    fView.SetLed(ALamp, AColor);
  }
  void ReqCountChanged(std::int32_t AValue) override { fView.ReqCountChanged(AValue); }
  void AckCountChanged(std::int32_t AValue) override { fView.AckCountChanged(AValue); }
  void LocalIPChanged(const std::string& AAddress) override { fView.LocalIPChanged(AAddress); }
  void PortErrorChanged(bool AVisible) override { fView.PortErrorChanged(AVisible); }

  // Lightings of ALamp since the start (wraps after 2^64).
  std::uint64_t LitCount(TLamp ALamp) const {
    return fLit[static_cast<std::size_t>(ALamp)].load(std::memory_order_relaxed);
  }

 private:
  TRelayView& fView;
  std::array<std::atomic<std::uint64_t>, 4> fLit{};
};

}  // namespace kelvo
