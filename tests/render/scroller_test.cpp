#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "font_fixture.h"
#include "frame_fixture.h"
#include "render/framebuffer.h"
#include "render/scroller.h"

namespace {

// The cycle font over a 400 x 300 frame, with a fresh strip and scroller state.
struct ScrollerFixture : ::testing::Test {
  FrameFixture frame;
  SyntheticFont font{120};
  std::vector<uint32_t> strip;
  void SetUp() override {
    ScrollStrip = nullptr;  // the test's own strip, not a block for free_font to give back
    font.build();
    strip.assign(static_cast<size_t>(ScrollStripWidth) * ScrollStripRows, 0);
    ScrollStrip = strip.data();
    reset_scroller_state();
  }
  void TearDown() override {
    ScrollStrip = nullptr;
    free_font();
  }
  uint32_t strip_at(int x, int y) const { return strip[static_cast<size_t>(y) * ScrollStripWidth + static_cast<size_t>(x)]; }
  // True when strip columns from x hold the glyph of `code` (rows 0 to 50), unhalved.
  bool glyph_at(int code, int x) const {
    const int g = code - 32;
    for (int y = 0; y < 51; ++y)
      for (int i = 0; i < glyph_width(code); ++i)
        if (strip_at(x + i, y) != Font.pixels[y * Font.width + Font.glyph_start[g] + i]) return false;
    return true;
  }
};

}  // namespace

// The text moves 24 pixels per unit of phase (phase = 0.3 t): each frame shifts the strip by
// the whole pixels the position has passed since the last shift, fractions kept.
TEST_F(ScrollerFixture, ShiftsByTheWholePixelsTheTextHasPassed) {
  const auto* text = reinterpret_cast<const unsigned char*>("ABCDEFGHIJKLMNOP");
  // After 2^32 ms the show clock wraps and the phase starts again from 0: the text goes on
  // moving from the new phase instead of waiting for it to catch up with the old one.
  LastScrollPhase = static_cast<float>(0.3 * (0xfffffff0u * 0.02));
  draw_scroller_text(1.0f, text);  // the first frame after the wrap: no shift
  EXPECT_EQ(ScrollPos, 200);
  // t = 2: 14.4 - 7.2 pixels, a shift of 7; the text is laid from column 193.
  draw_scroller_text(2.0f, text);
  EXPECT_TRUE(glyph_at('A', 193));
  const int32_t pos = ScrollPos;
  // t = 2.05: 14.76 pixels, still within the fifteenth: no shift.
  draw_scroller_text(2.05f, text);
  EXPECT_EQ(ScrollPos, pos);
  // t = 2.09: 15.05 pixels: the pixel the small steps gathered is taken now.
  draw_scroller_text(2.09f, text);
  EXPECT_EQ(ScrollPos, pos - 1);
  // A stall of 100 time units (720 pixels, far more than ScrollPos) shifts ScrollPos - 1:
  // the old column ScrollPos - 1 is now column 0 and the refill starts at column 1.
  const uint32_t index = ScrollTextIndex;
  draw_scroller_text(102.09f, text);
  EXPECT_TRUE(glyph_at(text[index] != 0 ? text[index] : text[0], 1));
}

// After the first shift (7, at t = 1) the text is laid from column 193. A glyph advances
// its width and 2 ('A' is 7 wide, 'B' 8, 'C' 2, 'D' 3), a space 17 and a code without a
// glyph 2; bytes 1 to 31 are ignored, and the NUL restarts the text with no gap of its own.
TEST_F(ScrollerFixture, RefillRules) {
  draw_scroller_text(1.0f, reinterpret_cast<const unsigned char*>("AB C\x1f\xf5" "D"));
  const std::pair<int, int> glyphs[] = {{'A', 193}, {'B', 202}, {'C', 229}, {'D', 235}, {'A', 240}};
  for (auto [code, x] : glyphs) EXPECT_TRUE(glyph_at(code, x)) << "'" << static_cast<char>(code) << "' at " << x;
}

// The blend against a plain reference: for each frame row, the strip row that lands there
// (text or reflection), worked from the row rules rather than walked like the drawing.
TEST_F(ScrollerFixture, BlendsTextAndReflectionIntoTheirRows) {
  // A strip whose every pixel tells its row and column, with some empty pixels.
  for (int y = 0; y < ScrollStripRows; ++y)
    for (int x = 0; x < ScrollStripWidth; ++x)
      strip[static_cast<size_t>(y) * ScrollStripWidth + static_cast<size_t>(x)] =
          (x + y) % 5 == 0 ? 0u : rgb(static_cast<uint32_t>(y) * 3, static_cast<uint32_t>(x) & 0xff, 0x41);
  frame.fill(0x818283);  // odd low bits show where the frame is masked
  const std::vector<uint32_t> before = frame.pixels;
  const float t = 3.7f;  // no shift: LastScrollPhase is far ahead
  LastScrollPhase = static_cast<float>(0.3 * static_cast<double>(t));
  draw_scroller_text(t, reinterpret_cast<const unsigned char*>("A"));
  const double phase = static_cast<float>(0.3 * static_cast<double>(t));
  for (int x = 0; x < 400; ++x) {
    const int g = float_to_int(std::sin(x * 0.02 - phase) * 15.0);
    const int n = g <= 0 ? 37 : 37 - g;
    const int gb = g < 0 ? g : 0;
    const int reflection = 271 + gb - ((3 * gb) >> 1);
    // The wave's truncated sine reaches 14 (15 only at an exact peak). At -14 the
    // reflection starts at 271 - 14 + 21, at -13 at 271 - 13 + 20 (-39 >> 1 is -20, not
    // -19); at 14 the text takes rows 248 to 270 and the reflection 271 to 281.
    if (g == -14 || g == -13) {
      EXPECT_EQ(reflection, 278);
    }
    for (int y = 0; y < 300; ++y) {
      const uint32_t under = before[static_cast<size_t>(y) * 400 + static_cast<size_t>(x)];
      uint32_t want = under;
      if (y >= 234 + g && y < 234 + g + n) {
        want = saturating_add(strip_at(x, y - 234 - g) & 0xfefefe, under & 0xfefefe);
      } else if (y >= reflection && y < reflection + (n >> 1)) {
        const uint32_t l = strip_at(x, n - 2 * (y - reflection));
        if (l != 0) want = saturating_add((l >> 2) & 0x3e3e3e, under & 0xfefefe);
      }
      ASSERT_EQ(frame.at(x, y), want) << "column " << x << " row " << y << " wave " << g;
    }
  }
}
