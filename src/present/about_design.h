// The About window's version line, "version 1.0.2": the number keeps its designed right edge
// and the word "version" stands to its left with a gap, even when a substituted font draws the
// number wider than its designed box. Any thread.
#pragma once

#include <algorithm>

#include "present/main_window_design.h"

namespace kelvo {

// Designed right edges (96 dpi) of Label3 ("version") and lblVersionNum, and the designed gap
// between their boxes.
inline constexpr int kVersionWordRight = 284;
inline constexpr int kVersionNumberRight = 332;
inline constexpr int kVersionGap = 5;

// The right edge of "version" at ADpi when the number's text starts at ANumberTextLeft.
inline int VersionWordRight(int ANumberTextLeft, int ADpi) {
  return std::min(ScaleFrom96(kVersionWordRight, ADpi),
                  ANumberTextLeft - ScaleFrom96(kVersionGap, ADpi));
}

}  // namespace kelvo
