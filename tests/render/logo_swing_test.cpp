#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "frame_fixture.h"
#include "render/graphics.h"
#include "render/logo_swing.h"

namespace {
// A logo whose pixel tells its own column and row.
struct LogoFixture : ::testing::Test {
  FrameFixture frame;
  std::vector<uint32_t> logo;
  void SetUp() override {
    logo.resize(LogoWidth * LogoHeight);
    for (int y = 0; y < LogoHeight; ++y)
      for (int x = 0; x < LogoWidth; ++x) logo[y * LogoWidth + x] = 0x100000u * 0 + static_cast<uint32_t>((y << 10) | x) * 2 + 2;
    LogoPicture = logo.data();
    for (auto& p : frame.pixels) p = 0xabcdef;
  }
  void TearDown() override { LogoPicture = nullptr; }
  uint32_t logo_at(int x, int y) const { return logo[y * LogoWidth + x]; }
};
// The show time at which the sine reaches s.
float time_for(double s) { return static_cast<float>(std::asin(s) / 0.06); }
}  // namespace

TEST_F(LogoFixture, AtTimeZeroColumns120To519FillTheWidth) {
  EXPECT_EQ(logo_offset(0.0f), 120);
  draw_logo_swing(0.0f);
  for (int r : {0, 64, 127}) {
    EXPECT_EQ(frame.at(0, 8 + r), logo_at(120, r));
    EXPECT_EQ(frame.at(399, 8 + r), logo_at(519, r));
  }
  EXPECT_EQ(frame.at(0, 7), 0xabcdefu);    // above the band
  EXPECT_EQ(frame.at(0, 136), 0xabcdefu);  // below it
}

// Near the extremes of the swing (offsets 369/370 and -129/-130) the band shows black
// wherever no picture column falls, and never reads past the picture's edges.
TEST_F(LogoFixture, SwingExtremesShowBlackWhereThePictureEnds) {
  for (double sine : {1.0, 0.9999, -1.0, -0.9999}) {
    const float t = time_for(sine);
    const int32_t o = logo_offset(t);
    ASSERT_GE(o, -130);
    ASSERT_LE(o, 370);
    draw_logo_swing(t);
    for (int r : {0, 127}) {
      for (int x = 0; x < 400; ++x) {
        const int col = o + x;
        const uint32_t want = col >= 0 && col < LogoWidth ? logo_at(col, r) : 0u;
        ASSERT_EQ(frame.at(x, 8 + r), want) << "offset " << o << " x " << x;
      }
    }
  }
  EXPECT_EQ(logo_offset(time_for(1.0) + 0.01f), 369);   // just past the peak
  EXPECT_EQ(logo_offset(time_for(-1.0) + 0.01f), -129);
}
