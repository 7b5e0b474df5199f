#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "frame_fixture.h"
#include "render/raster_bars.h"

TEST(RasterBars, TintsFollowTheirTruncatedSteps) {
  // Worked from the tint rules: red 187 - 7i, green 120 + 4.1875 i, blue 174 + 3.625 i.
  EXPECT_EQ(bar_tint(0).red, 187);
  EXPECT_EQ(bar_tint(0).green, 120);
  EXPECT_EQ(bar_tint(0).blue, 174);
  EXPECT_EQ(bar_tint(8).green, 153);   // 120 + 33.5
  EXPECT_EQ(bar_tint(8).blue, 203);    // 174 + 29
  EXPECT_EQ(bar_tint(11).green, 166);  // 120 + 46.06
  EXPECT_EQ(bar_tint(15).red, 82);
  EXPECT_EQ(bar_tint(15).green, 182);  // 120 + 62.8
  EXPECT_EQ(bar_tint(15).blue, 228);   // 174 + 54.4
}

TEST(RasterBars, WholeStepComesOutOneLevelLow) {
  // f = 0: 242 gives 241, 8 gives 7; ramp index k = s + 2i + j.
  uint32_t peak = raster_bar_colour(0, 0, 8, 0);  // k = 16
  EXPECT_EQ(peak, rgb(122, 144, 190));            // (123, 144, 191) masked
  uint32_t low = raster_bar_colour(0, 0, 1, 0);   // k = 2, level 8 -> 7
  EXPECT_EQ(low, rgb((7 * 180 >> 8) & 0xfe, (7 * 124 >> 8) & 0xfe, (7 * 177 >> 8) & 0xfe));
  EXPECT_EQ(raster_bar_colour(0, 0, 0, 0), 0u);   // k = 0: black
}

TEST(RasterBars, AtTimeZeroAddOverBlackFrame) {
  FrameFixture frame;
  draw_raster_bars(0.0f);
  // Bar 8 row 0 is frame row 72.
  for (int x = 0; x < 400; x += 57) {
    EXPECT_EQ(frame.at(x, 72), rgb(122, 144, 190));
  }
  EXPECT_EQ(frame.at(0, 8), 0u);     // bar 0 row 0 adds black
  EXPECT_EQ(frame.at(399, 7), 0u);   // rows above the bars untouched
  EXPECT_EQ(frame.at(0, 136), 0u);   // and below
  EXPECT_NE(frame.at(0, 135), 0u);   // bar 15's last row is drawn
}

TEST(RasterBars, SaturatesOverBrightPixels) {
  FrameFixture frame;
  for (auto& p : frame.pixels) p = 0xfefefe;
  draw_raster_bars(0.0f);
  EXPECT_EQ(frame.at(10, 72) & 0xffffff, 0xffffffu);
  EXPECT_EQ(frame.at(10, 8), 0xfefefeu);  // black added: unchanged
}

TEST(RasterBars, NegativePhaseUsesTwosComplementFraction) {
  // sin(t x 0.01) x 150 = -1.5 at this t: s = -1 and f = 0x8000 (not floor -2 with 0.5).
  float t = static_cast<float>(std::asin(-0.01) * 100.0);
  double a = std::sin(static_cast<double>(t) * 0.01) * 150.0;
  ASSERT_NEAR(a, -1.5, 1e-5);
  FrameFixture frame;
  draw_raster_bars(t);
  int32_t s = float_to_int(a);
  int32_t f = float_to_int(a * 65536.0) & 0xffff;
  EXPECT_EQ(s, -1);
  EXPECT_NEAR(f, 0x8000, 2);
  // Bar 8 row 0: k = (-1 + 16) & 31 = 15: levels 214 and 242 blended half and half.
  int32_t h = (214 * (65535 - f) + 242 * f) >> 16;
  uint32_t expected = rgb((h * 131) >> 8, (h * 153) >> 8, (h * 203) >> 8) & PreparedMask;
  EXPECT_EQ(frame.at(0, 72), expected);
}

TEST(RasterBars, LargePhaseIsReducedBelowSixtyFour) {
  // t where the sine is 1: a = 150 -> 150 - 64 - 64 = 22.
  float t = static_cast<float>(std::numbers::pi / 2 * 100.0);
  FrameFixture frame;
  draw_raster_bars(t);
  double a = std::sin(static_cast<double>(t) * 0.01) * 150.0 - 128.0;
  int32_t s = float_to_int(a);
  int32_t f = float_to_int(a * 65536.0) & 0xffff;
  EXPECT_EQ(s, 21);
  EXPECT_EQ(frame.at(3, 8 + 8 * 3 + 2), raster_bar_colour(s, f, 3, 2));
}
