// The headless loops' tick rule: one tick a period, none made up for after a long stall.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "app/tick_schedule.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

// Each step: the loop wakes at At (ms after the start); if the tick is due it runs, taking Busy
// ms, and the schedule is advanced with the time read after it. Then Next is where the
// following tick stands.
struct TWake {
  int At;
  int Busy;
  bool Ticks;
  int Next;
};

struct TCase {
  const char* Name;
  std::vector<TWake> Wakes;
};

TEST(TickSchedule, TicksOncePerPeriodAndNeverCatchesUp) {
  const TCase cases[] = {
      {"woken early: nothing due, the deadline stays", {{0, 0, false, 100}, {99, 0, false, 100}}},
      {"on time, period after period",
       {{100, 0, true, 200}, {200, 0, true, 300}, {300, 0, true, 400}}},
      // A little late keeps the beat: the next stays one period after the one before.
      {"late by less than a period", {{150, 0, true, 200}, {230, 0, true, 300}}},
      // Exactly a period late still keeps the beat; the next one is due at once.
      {"late by a whole period", {{200, 0, true, 200}, {200, 0, true, 300}}},
      // A stall of several periods gives one tick, and the count starts again from then.
      {"stalled", {{450, 0, true, 550}, {500, 0, false, 550}, {550, 0, true, 650}}},
      // A slow tick counts from the time after it: no burst follows.
      {"a tick that outlasts its period", {{100, 250, true, 450}, {400, 0, false, 450}}},
      {"a tick that takes under a period", {{100, 60, true, 200}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto start = TTickSchedule::TClock::time_point{} + 1h;
    TTickSchedule schedule(100ms, start);
    EXPECT_EQ(schedule.Next(), start + 100ms);
    for (const TWake& wake : c.Wakes) {
      SCOPED_TRACE(wake.At);
      const auto now = start + std::chrono::milliseconds(wake.At);
      EXPECT_EQ(schedule.Due(now), wake.Ticks);
      if (schedule.Due(now)) {
        schedule.Advance(now + std::chrono::milliseconds(wake.Busy));
      }
      EXPECT_EQ(schedule.Next(), start + std::chrono::milliseconds(wake.Next));
    }
  }
}

}  // namespace
}  // namespace kelvo
