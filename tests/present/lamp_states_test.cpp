#include "present/lamp_states.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

namespace kelvo {
namespace {

// Timers on a fake clock: Advance runs the clock forward and fires every timer that falls
// due on the way, in time order, as a front-end's event loop would.
class TFakeClockTimers : public TLampDisplay {
 public:
  class TTimer : public TLampTimer {
   public:
    TTimer(TFakeClockTimers& AOwner, TLamp ALamp) : fOwner(AOwner), fLamp(ALamp) {}
    void Start() override {
      fDue = fOwner.fNow + kLedPeriodMs;
      ++fStarts;
    }
    void Stop() override { fDue.reset(); }
    std::optional<int> fDue;
    int fStarts = 0;

   private:
    friend class TFakeClockTimers;
    TFakeClockTimers& fOwner;
    TLamp fLamp;
  };

  TFakeClockTimers()
      : fTimers{TTimer(*this, TLamp::LANRx), TTimer(*this, TLamp::WANRx),
                TTimer(*this, TLamp::LANTx), TTimer(*this, TLamp::WANTx)},
        fLamps(*this, {&fTimers[0], &fTimers[1], &fTimers[2], &fTimers[3]}) {}

  void ShowLamp(TLamp ALamp, TLedColor AColor) override {
    fDrawn[static_cast<std::size_t>(ALamp)].push_back(AColor);
  }

  void Advance(int AMs) {
    const int until = fNow + AMs;
    for (;;) {
      TTimer* next = nullptr;
      for (TTimer& timer : fTimers) {
        if (timer.fDue && *timer.fDue <= until && (next == nullptr || *timer.fDue < *next->fDue)) {
          next = &timer;
        }
      }
      if (next == nullptr) {
        break;
      }
      fNow = *next->fDue;
      fLamps.TimerFired(next->fLamp);
    }
    fNow = until;
  }

  TTimer& Timer(TLamp ALamp) { return fTimers[static_cast<std::size_t>(ALamp)]; }
  const std::vector<TLedColor>& Drawn(TLamp ALamp) const {
    return fDrawn[static_cast<std::size_t>(ALamp)];
  }

  int fNow = 0;
  std::array<TTimer, kLampCount> fTimers;
  std::array<std::vector<TLedColor>, kLampCount> fDrawn;
  TLampStates fLamps;
};

using C = TLedColor;

TEST(LampStates, FlashLightsAtOnceAndTurnsGreyOnePeriodAfterTheLastFrame) {
  TFakeClockTimers rig;
  rig.fLamps.SetLed(TLamp::LANRx, C::Red);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANRx), C::Red);
  EXPECT_TRUE(rig.fLamps.TimerRunning(TLamp::LANRx));
  rig.Advance(kLedPeriodMs - 1);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANRx), C::Red);
  rig.Advance(1);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANRx), C::Gray);
  EXPECT_FALSE(rig.fLamps.TimerRunning(TLamp::LANRx));
  EXPECT_FALSE(rig.Timer(TLamp::LANRx).fDue.has_value());
  EXPECT_EQ(rig.Drawn(TLamp::LANRx), (std::vector<C>{C::Red, C::Gray}));
  // The other lamps were never touched.
  EXPECT_TRUE(rig.Drawn(TLamp::WANTx).empty());
}

TEST(LampStates, FramesCloserThanAPeriodHoldTheLampWithoutRedrawing) {
  TFakeClockTimers rig;
  for (int frame = 0; frame < 10; ++frame) {
    rig.fLamps.SetLed(TLamp::WANTx, C::Green);
    rig.Advance(kLedPeriodMs - 10);
  }
  EXPECT_EQ(rig.fLamps.Shown(TLamp::WANTx), C::Green);
  EXPECT_EQ(rig.Timer(TLamp::WANTx).fStarts, 10);
  rig.Advance(10);
  EXPECT_EQ(rig.Drawn(TLamp::WANTx), (std::vector<C>{C::Green, C::Gray}));
}

// Grey is drawn at once but does not touch the timer; a flash while that timer still runs then
// keeps what is shown, and the timer's end draws grey again.
TEST(LampStates, GreyRequestLeavesTheRunningTimerAlone) {
  TFakeClockTimers rig;
  rig.fLamps.SetLed(TLamp::LANTx, C::Green);
  rig.Advance(50);
  rig.fLamps.SetLed(TLamp::LANTx, C::Gray);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANTx), C::Gray);
  EXPECT_TRUE(rig.fLamps.TimerRunning(TLamp::LANTx));
  EXPECT_EQ(rig.Timer(TLamp::LANTx).fDue, std::optional<int>(kLedPeriodMs));
  rig.fLamps.SetLed(TLamp::LANTx, C::Green);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANTx), C::Gray);
  rig.Advance(kLedPeriodMs);
  EXPECT_EQ(rig.Drawn(TLamp::LANTx), (std::vector<C>{C::Green, C::Gray, C::Gray}));
  // Grey on a resting lamp starts nothing.
  rig.fLamps.SetLed(TLamp::LANTx, C::Gray);
  EXPECT_FALSE(rig.fLamps.TimerRunning(TLamp::LANTx));
  EXPECT_FALSE(rig.Timer(TLamp::LANTx).fDue.has_value());
}

TEST(LampStates, StopTimersLeavesEveryLampAsShownWithNoTimerDue) {
  TFakeClockTimers rig;
  rig.fLamps.SetLed(TLamp::LANRx, C::Red);
  rig.fLamps.SetLed(TLamp::WANRx, C::Red);
  rig.fLamps.StopTimers();
  rig.Advance(10 * kLedPeriodMs);
  EXPECT_EQ(rig.fLamps.Shown(TLamp::LANRx), C::Red);
  for (TLamp lamp : {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx, TLamp::WANTx}) {
    EXPECT_FALSE(rig.fLamps.TimerRunning(lamp));
    EXPECT_FALSE(rig.Timer(lamp).fDue.has_value());
  }
}

// Random frame times on all four lamps, checked against what a user sees: a lamp is lit exactly
// while less than one period has passed since its last frame, in the colour of the burst's
// first frame, and it is redrawn only when it changes.
TEST(LampStates, MatchesTheTimeRuleOverRandomBursts) {
  TFakeClockTimers rig;
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> lampOf(0, kLampCount - 1);
  std::uniform_int_distribution<int> gapOf(0, 2 * kLedPeriodMs);
  std::bernoulli_distribution redOf(0.5);
  std::array<std::optional<int>, kLampCount> lastFrame;
  std::array<C, kLampCount> burstColour{};
  std::array<int, kLampCount> changes{};
  for (int step = 0; step < 5000; ++step) {
    rig.Advance(gapOf(random));
    for (std::size_t lamp = 0; lamp < kLampCount; ++lamp) {
      const bool lit = lastFrame[lamp] && rig.fNow - *lastFrame[lamp] < kLedPeriodMs;
      ASSERT_EQ(rig.fLamps.Shown(static_cast<TLamp>(lamp)), lit ? burstColour[lamp] : C::Gray)
          << "step " << step << " lamp " << lamp;
    }
    const auto lamp = static_cast<std::size_t>(lampOf(random));
    const C colour = redOf(random) ? C::Red : C::Green;
    if (!(lastFrame[lamp] && rig.fNow - *lastFrame[lamp] < kLedPeriodMs)) {
      burstColour[lamp] = colour;
      changes[lamp] += 2;  // lit now, grey at the burst's end
    }
    lastFrame[lamp] = rig.fNow;
    rig.fLamps.SetLed(static_cast<TLamp>(lamp), colour);
  }
  rig.Advance(kLedPeriodMs);
  for (std::size_t lamp = 0; lamp < kLampCount; ++lamp) {
    EXPECT_EQ(static_cast<int>(rig.fDrawn[lamp].size()), changes[lamp]) << "lamp " << lamp;
  }
}

}  // namespace
}  // namespace kelvo
