// Room for a label's text in whatever face the system substitutes: a field placed right of its
// label gives up as much of its left side as the label's text needs past the designed gap, and
// keeps its right edge, so neither the caption nor the field is cut. Any thread.
#pragma once

#include <algorithm>

#include "present/main_window_design.h"

namespace kelvo {

// The smallest gap kept between a label's text and its field, in designed pixels.
inline constexpr int kLabelFieldGap = 4;

// AField moved right to start AGap past ALabelRight when the label's text reaches that far;
// its right edge stays. Unchanged when the text ends early enough.
constexpr TBounds FieldAfterLabel(int ALabelRight, int AGap, const TBounds& AField) {
  const int left = std::max(AField.Left, ALabelRight + AGap);
  return {left, AField.Top, AField.Right() - left, AField.Height};
}

}  // namespace kelvo
