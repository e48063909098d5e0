#include <gtest/gtest.h>

#include "present/gauge_look.h"
#include "present/placement.h"

namespace kelvo {
namespace {

constexpr TRgb kBlack{0, 0, 0};
constexpr TRgb kWhite{0xFF, 0xFF, 0xFF};

TEST(GaugeLook, ContrastRatioOfKnownPairs) {
  struct TCase {
    TRgb First;
    TRgb Second;
    double Ratio;
  };
  const TCase cases[] = {
      {kBlack, kWhite, 21.0},
      {kWhite, kBlack, 21.0},
      {kWhite, kWhite, 1.0},
      {TRgb{0x77, 0x77, 0x77}, kWhite, 4.48},  // the well-known grey just below 4.5
      {TRgb{0x0A, 0x24, 0x6A}, kBlack, 1.47},  // the dark caption blue behind black text
      {TRgb{0xFF, 0x00, 0x00}, kWhite, 4.00},
  };
  for (const TCase& c : cases) {
    EXPECT_NEAR(ContrastRatio(c.First, c.Second), c.Ratio, 0.01);
  }
}

TEST(GaugeLook, RateTextIsReadableOverBarAndBackground) {
  const TRgb text = ReadableTextColor({kGaugeBackColor, kGaugeBarColor});
  EXPECT_GE(ContrastRatio(text, kGaugeBackColor), kMinTextContrast);
  EXPECT_GE(ContrastRatio(text, kGaugeBarColor), kMinTextContrast);
  EXPECT_EQ(ReadableTextColor({TRgb{0x0A, 0x24, 0x6A}}), kWhite);
  EXPECT_EQ(ReadableTextColor({TRgb{0xA6, 0xCA, 0xF0}, kWhite}), kBlack);
}

TEST(Placement, DialogsCentreFrameOnFrameWithoutClamping) {
  struct TCase {
    TRect Owner;
    int Width;
    int Height;
    TRect Result;
  };
  const TCase cases[] = {
      {{100, 50, 880, 490}, 436, 395, {322, 97, 436, 395}},  // Setup over the main window
      {{0, 0, 880, 490}, 483, 497, {198, -4, 483, 497}},     // Help: taller, above the top
      {{10, 10, 101, 101}, 50, 50, {35, 35, 50, 50}},        // odd differences round down
      {{10, 10, 100, 100}, 101, 103, {9, 8, 101, 103}},      // ...also when negative
      {{-500, -20, 300, 200}, 100, 100, {-400, 30, 100, 100}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CentredOn(c.Owner, c.Width, c.Height), c.Result)
        << c.Owner.Left << "," << c.Owner.Top << " " << c.Width << "x" << c.Height;
  }
}

}  // namespace
}  // namespace kelvo
