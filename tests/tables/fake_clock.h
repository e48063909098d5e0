// A clock the tests move by hand, so ageing is tested without sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "tables/clock.h"

namespace kelvo::test {

class TFakeClock final : public TClock {
 public:
  TTimePoint Now() const override { return TTimePoint(std::chrono::milliseconds(fMs.load())); }
  // Negative values set the clock back.
  void Advance(std::int64_t AMs) { fMs += AMs; }

 private:
  // An arbitrary wall-clock moment; atomic because a test may move it while another thread ages.
  std::atomic<std::int64_t> fMs{1'700'000'000'000};
};

}  // namespace kelvo::test
