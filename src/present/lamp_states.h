// The four activity lamps as a state machine: a lamp lights at the first frame of a burst and
// turns grey kLedPeriodMs after the last one; frames closer together hold it lit without a
// flicker. The front-end supplies one timer per lamp and shows the colour it is told to.
// GUI thread only (the thread the front-end's timers fire on).
#pragma once

#include <array>

#include "base/thread_check.h"
#include "relay/relay_view.h"

namespace kelvo {

inline constexpr int kLedPeriodMs = 150;
inline constexpr int kLampCount = 4;

// One lamp's timer, owned by the front-end. When it fires, the front-end calls
// TLampStates::TimerFired for its lamp.
class TLampTimer {
 public:
  virtual ~TLampTimer() = default;
  virtual void Start() = 0;  // (re)starts it: it fires kLedPeriodMs from now
  virtual void Stop() = 0;
};

// Where the lamps are drawn.
class TLampDisplay {
 public:
  virtual ~TLampDisplay() = default;
  virtual void ShowLamp(TLamp ALamp, TLedColor AColor) = 0;
};

class TLampStates {
 public:
  // ATimers in TLamp order (LANRx, WANRx, LANTx, WANTx); all of them outlive this object.
  TLampStates(TLampDisplay& ADisplay, const std::array<TLampTimer*, kLampCount>& ATimers);

  // SetLed: grey shows at once and leaves the timer alone; red or green lights the lamp (a lit
  // lamp keeps its colour) and restarts its timer.
  void SetLed(TLamp ALamp, TLedColor AColor);
  // timLEDRxLANTimer: the lamp goes grey and its timer stops.
  void TimerFired(TLamp ALamp);
  void StopTimers();

  TLedColor Shown(TLamp ALamp) const { return fShown[Index(ALamp)]; }
  bool TimerRunning(TLamp ALamp) const { return fRunning[Index(ALamp)]; }

 private:
  static std::size_t Index(TLamp ALamp) { return static_cast<std::size_t>(ALamp); }

  TLampDisplay& fDisplay;
  std::array<TLampTimer*, kLampCount> fTimers;
  std::array<TLedColor, kLampCount> fShown{};  // what the display was last told
  std::array<bool, kLampCount> fRunning{};
  TThreadOwner fGuiThread;  // checked in debug builds
};

}  // namespace kelvo
