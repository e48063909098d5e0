#include "present/lamp_states.h"

namespace kelvo {

TLampStates::TLampStates(TLampDisplay& ADisplay, const std::array<TLampTimer*, kLampCount>& ATimers)
    : fDisplay(ADisplay), fTimers(ATimers) {
  fShown.fill(TLedColor::Gray);
}

void TLampStates::SetLed(TLamp ALamp, TLedColor AColor) {
  KELVO_ASSERT_THREAD(fGuiThread, "TLampStates: GUI thread only");
  const std::size_t index = Index(ALamp);
  if (index >= fTimers.size()) {
    return;
  }
  if (AColor == TLedColor::Gray) {
    fShown[index] = AColor;
    fDisplay.ShowLamp(ALamp, AColor);
    return;
  }
  if (fRunning[index]) {
    fTimers[index]->Stop();  // already lit: keep the colour, only push the end of the flash back
  } else {
    fShown[index] = AColor;
    fDisplay.ShowLamp(ALamp, AColor);
  }
  fTimers[index]->Start();
  fRunning[index] = true;
}

void TLampStates::TimerFired(TLamp ALamp) {
  KELVO_ASSERT_THREAD(fGuiThread, "TLampStates: GUI thread only");
  const std::size_t index = Index(ALamp);
  if (index >= fTimers.size()) {
    return;
  }
  SetLed(ALamp, TLedColor::Gray);
  fTimers[index]->Stop();
  fRunning[index] = false;
}

void TLampStates::StopTimers() {
  KELVO_ASSERT_THREAD(fGuiThread, "TLampStates: GUI thread only");
  for (std::size_t index = 0; index < fTimers.size(); ++index) {
    fTimers[index]->Stop();
    fRunning[index] = false;
  }
}

}  // namespace kelvo
