// Waits measured against a steady-clock deadline, for poll() and WaitForMultipleObjects().
// Any thread.
#pragma once

#include <chrono>
#include <climits>

namespace kelvo {

// The milliseconds left until ADeadline, rounded up, and 0 once it has passed. Rounding down
// would turn the last fraction of a millisecond into waits of 0 that return at once, and the
// caller would spin until the deadline.
inline int MillisecondsUntil(std::chrono::steady_clock::time_point ADeadline) {
  const auto Left =
      std::chrono::ceil<std::chrono::milliseconds>(ADeadline - std::chrono::steady_clock::now());
  if (Left.count() <= 0) {
    return 0;
  }
  return Left.count() >= INT_MAX ? INT_MAX : static_cast<int>(Left.count());
}

}  // namespace kelvo
