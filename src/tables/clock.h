// Wall-clock source for the tables' ageing, injectable so tests never sleep.
#pragma once

#include <chrono>

namespace kelvo {

using TTimePoint = std::chrono::system_clock::time_point;

class TClock {
 public:
  virtual ~TClock() = default;
  // Local wall-clock time; may jump backwards when the user sets the clock.
  virtual TTimePoint Now() const = 0;
};

// The process-wide real clock. Thread-safe.
const TClock& SystemClock();

}  // namespace kelvo
