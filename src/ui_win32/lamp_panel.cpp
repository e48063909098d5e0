#include "ui_win32/lamp_panel.h"

#include "ui_win32/win32_text.h"

namespace kelvo {

void TLampPanel::TWindowTimer::Start() {
  // Setting a running timer again restarts its period.
  SetTimer(fOwner, fId, kLedPeriodMs, nullptr);
}

void TLampPanel::TWindowTimer::Stop() {
  KillTimer(fOwner, fId);
}

TLampPanel::TLampPanel(HWND AOwner, const std::array<HWND, kLampCount>& ALamps,
                       UINT_PTR AFirstTimerId)
    : fLamps(ALamps),
      fFirstTimerId(AFirstTimerId),
      fPictures([](const char* AName) { return TPicture(Widen(AName).c_str()); }) {
  std::array<TLampTimer*, kLampCount> timers{};
  for (std::size_t i = 0; i < fTimers.size(); ++i) {
    fTimers[i] = std::make_unique<TWindowTimer>(AOwner, AFirstTimerId + i);
    timers[i] = fTimers[i].get();
  }
  TLampDisplay& display = *this;
  fStates = std::make_unique<TLampStates>(display, timers);
}

TLampPanel::~TLampPanel() {
  fStates->StopTimers();
}

bool TLampPanel::TimerFired(UINT_PTR AId) {
  if (AId < fFirstTimerId || AId >= fFirstTimerId + fTimers.size()) {
    return false;
  }
  fStates->TimerFired(static_cast<TLamp>(AId - fFirstTimerId));
  return true;
}

void TLampPanel::ShowLamp(TLamp ALamp, TLedColor AColor) {
  SetPicture(fLamps[static_cast<std::size_t>(ALamp)], &Picture(AColor));
}

}  // namespace kelvo
