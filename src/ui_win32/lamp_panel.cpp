#include "ui_win32/lamp_panel.h"

#include "present/accessible_texts.h"
#include "present/picture_scale.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

void TLampPanel::TWindowTimer::Start() {
  // Setting a running timer again restarts its period.
  SetTimer(fOwner, fId, kLedPeriodMs, nullptr);
}

void TLampPanel::TWindowTimer::Stop() {
  KillTimer(fOwner, fId);
}

namespace {

std::unique_ptr<TLampPictures<TPicture>> LoadLampPictures(int ADpi) {
  const int scale = PictureScaleFor(ADpi / 96.0);
  return std::make_unique<TLampPictures<TPicture>>([scale](const char* AName) {
    return TPicture(Widen(ScaledPictureName(AName, scale)).c_str());
  });
}

}  // namespace

TLampPanel::TLampPanel(HWND AOwner, const std::array<HWND, kLampCount>& ALamps,
                       UINT_PTR AFirstTimerId, int ADpi)
    : fLamps(ALamps), fFirstTimerId(AFirstTimerId), fPictures(LoadLampPictures(ADpi)) {
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
  HWND lamp = fLamps[static_cast<std::size_t>(ALamp)];
  SetPicture(lamp, &Picture(AColor));
  // The picture window's text is not drawn; it is the name a screen reader reads.
  SetWindowTextW(lamp, Widen(LampAccessibleName(ALamp, AColor)).c_str());
}

void TLampPanel::ReloadPictures(int ADpi) {
  std::unique_ptr<TLampPictures<TPicture>> pictures = LoadLampPictures(ADpi);
  for (std::size_t i = 0; i < fLamps.size(); ++i) {
    const auto lamp = static_cast<TLamp>(i);
    SetPicture(fLamps[i], &pictures->Picture(fStates->Shown(lamp)));
  }
  fPictures = std::move(pictures);  // the windows no longer show the old ones
}

}  // namespace kelvo
