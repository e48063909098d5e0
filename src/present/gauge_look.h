// The colours of the rate gauge and of the rate label drawn over it, and the contrast rule
// that keeps the label readable at every fill of the bar. Any thread.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace kelvo {

struct TRgb {
  std::uint8_t R = 0;
  std::uint8_t G = 0;
  std::uint8_t B = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};

// The least contrast between the rate label's text and whatever lies behind it.
inline constexpr double kMinTextContrast = 4.5;

// The gauge's background and its bar. The bar is the light active-caption gradient colour of
// the classic desktop (never its dark caption colour), so black text stays readable over it.
inline constexpr TRgb kGaugeBackColor{0xFF, 0xFF, 0xFF};
inline constexpr TRgb kGaugeBarColor{0xB9, 0xD1, 0xEA};

// Relative luminance, 0 (black) to 1 (white), of an sRGB colour.
double RelativeLuminance(TRgb AColor);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ContrastRatio(TRgb AFirst, TRgb ASecond);
// Black or white, whichever keeps the higher least contrast against every background given
// (a front-end whose bar follows the system's colours passes that colour here).
TRgb ReadableTextColor(std::initializer_list<TRgb> ABackgrounds);

}  // namespace kelvo
