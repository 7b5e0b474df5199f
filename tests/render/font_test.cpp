#include <gtest/gtest.h>

#include <vector>

#include "font_fixture.h"
#include "frame_fixture.h"
#include "render/font.h"

TEST(Font, LevelsAreTintedWithTheFontColour) {
  SyntheticFont strip(3, cycle_width);
  strip.set(1, 1, 15);
  strip.set(1, 2, 1);
  strip.build();
  // Worked by hand from 16 l x (0x70, 0x80, 0xb0) / 256.
  EXPECT_EQ(Font.pixels[1 * Font.width + 1], rgb(105, 120, 165));
  EXPECT_EQ(Font.pixels[2 * Font.width + 1], rgb(7, 8, 11));
  EXPECT_EQ(Font.pixels[0], 0u);
  EXPECT_EQ(Font.first_char, 32);
}

TEST(Font, GlyphScanFindsRunsBetweenEmptyColumns) {
  struct Case {
    const char* what;
    int glyphs, tail;
    int want_count;
  };
  const Case cases[] = {
      {"strip ends in a glyph", 5, 0, 5},
      {"strip ends in one empty column: one more glyph of width 0", 5, 1, 6},
      {"strip ends in three empty columns: still one more", 5, 3, 6},
  };
  for (const Case& c : cases) {
    SyntheticFont strip(c.glyphs, cycle_width, c.tail);
    strip.build();
    ASSERT_EQ(Font.glyph_count, c.want_count) << c.what;
    for (int g = 0; g < c.glyphs; ++g) {
      EXPECT_EQ(Font.glyph_start[g], strip.starts[static_cast<size_t>(g)]) << c.what << " glyph " << g;
      EXPECT_EQ(glyph_width(32 + g), 2 + g % 7) << c.what << " glyph " << g;
    }
    if (c.want_count > c.glyphs) {
      EXPECT_EQ(Font.glyph_start[c.glyphs], strip.width) << c.what;
      EXPECT_EQ(Font.glyph_end[c.glyphs], strip.width) << c.what;
      EXPECT_EQ(glyph_width(32 + c.glyphs), 0) << c.what;
    }
  }
}

TEST(Font, ScanStopsAtTheTablesEnd) {
  // 300 glyphs do not fit the 256-entry tables: the scan keeps the first 256.
  SyntheticFont strip(300, [](int) { return 2; });
  strip.build();
  EXPECT_EQ(Font.glyph_count, 256);
  EXPECT_EQ(Font.glyph_start[255], 1 + 255 * 3);
}

TEST(Font, ColumnCoverageAndGlyphWidths) {
  SyntheticFont strip(20, cycle_width, 0);
  strip.build();
  for (int code : {-128, -1, 0, 31, 52, 53, 200, 1000}) EXPECT_EQ(glyph_width(code), 0) << code;
  EXPECT_EQ(glyph_width(32), 2);
  EXPECT_EQ(glyph_width(51), 2 + 19 % 7);
  strip.set(0, 5, 1);  // the leading column gets one faint pixel
  strip.build();
  EXPECT_EQ(column_coverage(0), 1);
  EXPECT_EQ(column_coverage(1), 38);          // rows 1 to 38
  EXPECT_EQ(column_coverage(3), 0);           // the gap after glyph 0
  EXPECT_EQ(column_coverage(Font.width), 0);  // one past the end counts as empty
}

TEST(Font, BlitCopiesFiftyOneRowsOpaquelyAndHalves) {
  SyntheticFont strip(10, cycle_width);
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
  std::vector<uint32_t> target(40 * 52, 0x123456u);
  EXPECT_EQ(blit_glyph(target.data(), 40, 31, 0, false), 0);
  EXPECT_EQ(blit_glyph(target.data(), 40, 250, 0, true), 0);
  for (uint32_t p : target) ASSERT_EQ(p, 0x123456u) << "a code without a glyph draws nothing";
}

// Where draw_centred_text should put each glyph, worked out by hand from the widths of the
// cycle font (code c is 2 + (c - 32) % 7 wide): the drawing must equal those glyphs
// blitted halved at those columns.
TEST(Font, CentredTextMeasuresAndPlacesGlyphs) {
  SyntheticFont strip(120, cycle_width);  // codes 32 to 151
  strip.build();
  struct Placed {
    int code, x;
  };
  struct Case {
    const char* text;
    int stride, measure;
    std::vector<Placed> glyphs;
  };
  // 'A' (65) is 2 + 33 % 7 = 7 wide, 'B' 8, '#' (35) would be 5, code 130 is 2 + 98 % 7 = 2.
  const Case cases[] = {
      {"", 400, 0, {}},
      {"   ", 400, 30, {}},                          // only spaces: nothing drawn
      {"A", 400, 8, {{65, 196}}},                    // (400 - 8) >> 1
      {"A B", 400, 8 + 10 + 9, {{65, 186}, {66, 204}}},  // x0 = 373 >> 1 = 186; 186 + 8 + 10
      {"#", 400, 3, {{130, 198}}},                   // measured as code 130: (400 - 3) >> 1
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

TEST(Font, BuiltInStripFollowsItsRules) {
  free_font();
  build_font();
  // Codes 32 to 238 and one glyph of width 0 at the strip's end (code 239).
  ASSERT_EQ(Font.height, 52);
  ASSERT_EQ(Font.glyph_count, 208);
  EXPECT_EQ(glyph_width(239), 0);
  EXPECT_EQ(Font.glyph_end[207], Font.width);
  for (int code = 33; code <= 238; ++code) ASSERT_TRUE(glyph_width(code) >= 2 && glyph_width(code) <= 28) << code;
  auto top_row = [](int code) {
    const int g = code - 32;
    for (int y = 0; y < Font.height; ++y)
      for (int x = Font.glyph_start[g]; x < Font.glyph_end[g]; ++x)
        if (Font.pixels[y * Font.width + x] != 0) return y;
    return -1;
  };
  // Nothing in row 0 or below row 38.
  for (int x = 0; x < Font.width; ++x) {
    for (int y = 0; y < 52; ++y) {
      if (y == 0 || y > 38) {
        ASSERT_EQ(Font.pixels[y * Font.width + x], 0u) << "row " << y << ", column " << x;
      }
    }
  }
  // The accented letters the texts use carry their accents above the plain letter.
  EXPECT_LT(top_row(130), top_row('e')) << "e acute";
  EXPECT_LT(top_row(132), top_row('a')) << "a diaeresis";
  EXPECT_LT(top_row(137), top_row('e')) << "e diaeresis";
  EXPECT_LT(top_row(147), top_row('o')) << "o circumflex";
  EXPECT_EQ(top_row('A'), top_row('B'));
  // '#' and the glyph it stands for differ in width, so the centring test below can tell
  // which one was measured.
  EXPECT_NE(glyph_width('#'), glyph_width(130));
  free_font();
}
