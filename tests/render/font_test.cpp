#include <gtest/gtest.h>

#include <vector>

#include "font_fixture.h"
#include "frame_fixture.h"
#include "render/font.h"

TEST(Font, LevelsAreTintedWithTheFontColour) {
  SyntheticFont strip(3);
  strip.set(1, 1, 15);
  strip.set(1, 2, 1);
  strip.build();
  // Worked by hand from 16 l x (0x70, 0x80, 0xb0) / 256.
  EXPECT_EQ(Font.pixels[1 * Font.width + 1], rgb(105, 120, 165));
  EXPECT_EQ(Font.pixels[2 * Font.width + 1], rgb(7, 8, 11));
  EXPECT_EQ(Font.pixels[0], 0u);
}

// Glyphs are the runs of covered columns. A strip that ends in empty columns has one more
// glyph, of width 0, at its end; of a strip with more than 256 glyphs the tables keep the
// first 256 (glyph 255 then starts at column 1525: 36 cycles of 42 columns, 3 + 4 + 5 and
// the leading one).
TEST(Font, GlyphScanFindsRunsBetweenEmptyColumns) {
  SyntheticFont ending_empty(5, 3);
  ending_empty.build();
  EXPECT_EQ(Font.glyph_count, 6);
  EXPECT_EQ(glyph_width(36), cycle_width(36));
  EXPECT_EQ(Font.glyph_start[5], ending_empty.width);
  EXPECT_EQ(glyph_width(37), 0);
  SyntheticFont long_strip(300, 0);
  long_strip.build();
  EXPECT_EQ(Font.glyph_count, 256);
  EXPECT_EQ(Font.glyph_start[255], 1525);
  EXPECT_EQ(glyph_width(32 + 255), cycle_width(32 + 255));
  EXPECT_EQ(glyph_width(31), 0);
  EXPECT_EQ(glyph_width(32 + 256), 0);
}

TEST(Font, BlitCopiesFiftyOneRowsOpaquelyAndHalves) {
  SyntheticFont strip(10);
  strip.set(strip.starts[3], 51, 9);  // the last strip row is never drawn
  strip.build();
  const int stride = 40;
  for (bool halved : {false, true}) {
    std::vector<uint32_t> target(static_cast<size_t>(stride) * 52, 0xffffffu);
    const int w = blit_glyph(target.data(), stride, 35, 7, halved);
    ASSERT_EQ(w, 5);
    for (int y = 0; y < 52; ++y) {
      for (int x = 0; x < stride; ++x) {
        const uint32_t got = target[static_cast<size_t>(y) * stride + static_cast<size_t>(x)];
        if (y == 51 || x < 7 || x >= 12) {
          EXPECT_EQ(got, 0xffffffu) << "outside the glyph: " << x << "," << y;
          continue;
        }
        const uint32_t p = Font.pixels[y * Font.width + strip.starts[3] + (x - 7)];
        // Empty pixels are written too (rows 0 and 39 to 50 become 0).
        EXPECT_EQ(got, halved ? (p >> 1) & 0x7e7e7eu : p) << x << "," << y;
      }
    }
  }
}

// Where draw_centred_text should put each glyph, worked out by hand from the widths of the
// cycle font: the drawing must equal those glyphs blitted halved at those columns.
TEST(Font, CentredTextMeasuresAndPlacesGlyphs) {
  SyntheticFont strip(120);  // codes 32 to 151
  strip.build();
  struct Placed {
    int code, x;
  };
  struct Case {
    const char* text;
    int stride, measure;
    std::vector<Placed> glyphs;
  };
  // 'A' (65) is 7 wide, 'B' 8; '#' is measured and drawn as code 130, 2 wide ('#' itself
  // would be 5). A glyph advances its width and 1, a space 10.
  const Case cases[] = {
      {"A B", 400, 8 + 10 + 9, {{65, 186}, {66, 204}}},          // x0 = 373 >> 1 = 186; 186 + 8 + 10
      {"A#B", 101, 8 + 3 + 9, {{65, 40}, {130, 48}, {66, 51}}},  // (101 - 20) >> 1 = 40
      // Codes below 32 and from 128 up count 1 in the measure but neither draw nor advance.
      {"A\x01\x82" "B", 400, 8 + 1 + 1 + 9, {{65, 190}, {66, 198}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(measure_text(c.text), c.measure) << '"' << c.text << '"';
    std::vector<uint32_t> got(static_cast<size_t>(c.stride) * 60, 0), want = got;
    draw_centred_text(c.text, got.data(), c.stride);
    for (const Placed& p : c.glyphs) blit_glyph(want.data(), c.stride, p.code, p.x, true);
    EXPECT_EQ(got, want) << '"' << c.text << '"';
  }
}
