#include "present/gauge_look.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

double Linear(std::uint8_t AChannel) {
  const double value = AChannel / 255.0;
  return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double LeastContrast(TRgb AText, std::initializer_list<TRgb> ABackgrounds) {
  double least = 21.0;
  for (const TRgb& background : ABackgrounds) {
    least = std::min(least, ContrastRatio(AText, background));
  }
  return least;
}

}  // namespace

double RelativeLuminance(TRgb AColor) {
  return 0.2126 * Linear(AColor.R) + 0.7152 * Linear(AColor.G) + 0.0722 * Linear(AColor.B);
}

double ContrastRatio(TRgb AFirst, TRgb ASecond) {
  const double first = RelativeLuminance(AFirst);
  const double second = RelativeLuminance(ASecond);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

TRgb ReadableTextColor(std::initializer_list<TRgb> ABackgrounds) {
  constexpr TRgb kBlack{0, 0, 0};
  constexpr TRgb kWhite{0xFF, 0xFF, 0xFF};
  return LeastContrast(kBlack, ABackgrounds) >= LeastContrast(kWhite, ABackgrounds) ? kBlack
                                                                                    : kWhite;
}

}  // namespace kelvo
