#include <gtest/gtest.h>

#include "frame_fixture.h"
#include "render/raster_bars.h"

// Each phase worked out by hand from a = sin(0.01 t) x 150 (reduced by 64 only while it is
// at least 64), s = a truncated, f = the low 16 bits of a x 65536 truncated; then the ramp
// level h of k = (s + 2i + j) & 31 and the bar's tint, channels masked to even. The bars
// add over rows 8 to 135 (bar i, row j at frame row 8 + 8i + j) and nothing else.
TEST(RasterBars, RowColoursAtWorkedOutPhases) {
  struct Row {
    float t;
    int bar, row;
    uint32_t colour;
  };
  const Row rows[] = {
      // t = 0: s = f = 0, so a whole step, which comes out one level low (242 gives 241, 8
      // gives 7). Bar 8 row 0: k = 16, tint (131, 153, 203): (123, 144, 191), masked.
      {0.0f, 8, 0, rgb(122, 144, 190)},
      // t = -1.00001669: a = -1.50000003, s = -1 and f = 0x8000 (floor would give -2 and
      // one half). Bar 8 row 0: k = 15, levels 214 and 242 half and half: h = 227, tint
      // (131, 153, 203): (116, 135, 180), masked (116, 134, 180).
      {-1.00001669f, 8, 0, rgb(116, 134, 180)},
      // t = 125.323593: a = 142.5000016, less 128: s = 14, f = 0x8000. Bar 3 row 2: k = 22,
      // levels 97 and 85: h = 90, tint (166, 132, 184): (58, 46, 64).
      {125.323593f, 3, 2, rgb(58, 46, 64)},
      {125.323593f, 15, 7, rgb(42, 94, 120)},    // k = 51 & 31 = 19: 146 and 125 -> 135
      // t = 1000: a = -81.6031666, not reduced: s = -81, f = 0x6597 (the fraction of the
      // two's-complement value). Bar 0 row 0: k = -81 & 31 = 15: 214 and 242 -> 225.
      {1000.0f, 0, 0, rgb(164, 104, 152)},
      {1000.0f, 15, 2, rgb(72, 158, 200)},      // k = -49 & 31 = 15 -> 225, tint (82, 182, 228)
  };
  for (const Row& r : rows) {
    FrameFixture frame;
    draw_raster_bars(r.t);
    const int y = 8 + 8 * r.bar + r.row;
    EXPECT_EQ(frame.at(0, y), r.colour) << "t " << r.t << " bar " << r.bar << " row " << r.row;
    EXPECT_EQ(frame.at(399, y), r.colour);
    EXPECT_EQ(frame.at(399, 7), 0u);
    EXPECT_EQ(frame.at(0, 136), 0u);
  }
}
