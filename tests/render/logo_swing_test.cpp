#include <gtest/gtest.h>

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
      for (int x = 0; x < LogoWidth; ++x) logo[y * LogoWidth + x] = static_cast<uint32_t>((y << 10) | x) * 2 + 2;
    LogoPicture = logo.data();
    for (auto& p : frame.pixels) p = 0xabcdef;
  }
  void TearDown() override { LogoPicture = nullptr; }
  uint32_t logo_at(int x, int y) const { return logo[y * LogoWidth + x]; }
};
}  // namespace

// Offsets worked out by hand: a = sin(0.06 t), offset = a x 250 + 120 truncated toward zero.
// The sine never quite reaches +-1 at a single-precision t, so the swing runs from -129 to
// 369 in practice.
TEST_F(LogoFixture, OffsetsFollowTheSineAndTruncateTowardZero) {
  struct Row {
    float t;
    int32_t offset;
  };
  const Row rows[] = {
      {0.0f, 120},    // sin 0
      {10.0f, 261},   // 120 + 250 x 0.5646 = 261.16
      {26.18f, 369},  // 369.9999999983, just short of the peak
      {52.36f, 119},  // 119.998: a hair past pi, truncated down
      {60.0f, 9},     // 120 - 250 x 0.4425 = 9.37
      {70.0f, -97},   // -97.89 truncated toward zero, not -98
      {78.54f, -129}, // -129.99999998
  };
  for (const Row& r : rows) {
    EXPECT_EQ(logo_offset(r.t), r.offset) << "t " << r.t;
  }
}

// The window over the picture, and where it runs off the picture the band is black, and the picture's last or first
// column lands where the hand-worked offset puts it.
TEST_F(LogoFixture, BandShowsBlackBeyondThePictureEdges) {
  struct Row {
    float t;
    int first_lit, last_lit;  // frame columns that show the picture
    int first_column;         // the picture column at first_lit
  };
  const Row rows[] = {
      {0.0f, 0, 399, 120},    // columns 120-519 fill the width
      {26.18f, 0, 270, 369},  // columns 369-639, then 129 black
      {10.0f, 0, 378, 261},   // columns 261-639, then 21 black
      {70.0f, 97, 399, 0},    // 97 black, then columns 0-302
      {78.54f, 129, 399, 0},  // 129 black, then columns 0-270
  };
  for (const Row& r : rows) {
    draw_logo_swing(r.t);
    for (int row : {0, 127}) {
      for (int x = 0; x < 400; ++x) {
        const bool lit = x >= r.first_lit && x <= r.last_lit;
        const uint32_t want = lit ? logo_at(r.first_column + (x - r.first_lit), row) : 0u;
        ASSERT_EQ(frame.at(x, 8 + row), want) << "t " << r.t << " x " << x;
      }
    }
  }
}

// Whatever the offset, every pixel of rows 8-135 is written and nothing outside them.
TEST_F(LogoFixture, EveryBandPixelIsWrittenEachFrame) {
  for (float t : {0.0f, 10.0f, 26.18f, 52.36f, 70.0f, 78.54f, 1000.0f, 123456.0f}) {
    for (auto& p : frame.pixels) p = 0xabcdef;  // no logo pixel or black has this value
    draw_logo_swing(t);
    for (int y = 0; y < 300; ++y) {
      const bool band = y >= 8 && y <= 135;
      for (int x = 0; x < 400; ++x) {
        ASSERT_EQ(frame.at(x, y) == 0xabcdefu, !band) << "t " << t << " at " << x << ", " << y;
      }
    }
  }
}
