// When the headless loops run their periodic tick (ageing, following the network): the one
// rule for both systems' loops, which wait on their own objects until Next() and ask Due()
// after each wake. Time is handed in, so the rule is tested without waiting.
// Owned and called by one thread (the loop's).
#pragma once

#include <chrono>

namespace kelvo {

// The headless relay's tick: the tables' ageing and the look at the network.
inline constexpr std::chrono::milliseconds kHeadlessTick{100};

class TTickSchedule {
 public:
  using TClock = std::chrono::steady_clock;

  // The first tick is due one period after AStart.
  TTickSchedule(TClock::duration APeriod, TClock::time_point AStart)
      : fPeriod(APeriod), fNext(AStart + APeriod) {}

  TClock::time_point Next() const { return fNext; }
  bool Due(TClock::time_point ANow) const { return ANow >= fNext; }

  // After a tick has run, with ANow read once it has: the next is one period on. A tick late
  // by more than a period is not made up for: ageing counts ticks, and a burst would age the
  // tables faster than time passes, so the count starts again from ANow.
  void Advance(TClock::time_point ANow) {
    fNext += fPeriod;
    if (fNext < ANow) {
      fNext = ANow + fPeriod;
    }
  }

 private:
  TClock::duration fPeriod;
  TClock::time_point fNext;
};

}  // namespace kelvo
