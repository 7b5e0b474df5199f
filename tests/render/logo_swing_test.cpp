#include <gtest/gtest.h>

#include <vector>

#include "frame_fixture.h"
#include "render/graphics.h"
#include "render/logo_swing.h"

// Offsets worked out by hand: a = sin(0.06 t), offset = a x 250 + 120 truncated toward zero.
// The sine never quite reaches +-1 at a single-precision t, so the swing runs from -129 to
// 369 in practice. Where the window runs off the picture the band is black.
TEST(LogoSwing, TheBandIsAWindowOverThePictureAtTheSwingsOffset) {
  FrameFixture frame;
  std::vector<uint32_t> logo(LogoWidth * LogoHeight);  // each pixel tells its own column and row
  for (int y = 0; y < LogoHeight; ++y)
    for (int x = 0; x < LogoWidth; ++x) logo[y * LogoWidth + x] = static_cast<uint32_t>((y << 10) | x) * 2 + 2;
  LogoPicture = logo.data();
  struct Row {
    float t;
    int32_t offset;
    int first_lit, last_lit;  // frame columns that show the picture
  };
  const Row rows[] = {
      {0.0f, 120, 0, 399},      // sin 0: columns 120-519 fill the width
      {10.0f, 261, 0, 378},     // 120 + 250 x 0.5646 = 261.16: columns 261-639, then 21 black
      {70.0f, -97, 97, 399},    // -97.89 truncated toward zero, not -98: 97 black, then 0-302
      {78.54f, -129, 129, 399}, // -129.99999998
  };
  for (const Row& r : rows) {
    EXPECT_EQ(logo_offset(r.t), r.offset) << "t " << r.t;
    frame.fill(0xabcdef);  // no logo pixel or black has this value
    draw_logo_swing(r.t);
    const int first_column = r.offset < 0 ? 0 : r.offset;
    for (int y = 0; y < 300; ++y) {
      for (int x = 0; x < 400; ++x) {
        const bool lit = x >= r.first_lit && x <= r.last_lit;
        uint32_t want = 0xabcdef;  // rows 8-135 are the band, nothing outside it is written
        if (y >= 8 && y <= 135) want = lit ? logo[(y - 8) * LogoWidth + first_column + x - r.first_lit] : 0u;
        ASSERT_EQ(frame.at(x, y), want) << "t " << r.t << " at " << x << ", " << y;
      }
    }
  }
  LogoPicture = nullptr;
}
