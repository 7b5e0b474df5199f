#include <gtest/gtest.h>

#include <vector>

#include "frame_fixture.h"
#include "render/plane.h"

namespace {
struct PlaneFixture : ::testing::Test {
  FrameFixture frame;
  void SetUp() override {
    build_plane_colours();
  }
};
}  // namespace

TEST_F(PlaneFixture, ColourTableRisesToFullLevelAtRow48) {
  // Worked out by hand: level L = (341 i) >> 6, then each channel of (64, 80, 112) for A and
  // (48, 64, 96) for B times L, >> 8. Row 1: L = 5, A = (320, 400, 560) >> 8 = (1, 1, 2).
  struct Entry {
    int row, level;
    uint32_t a, b;
  };
  const Entry entries[] = {
      {1, 5, rgb(1, 1, 2), rgb(0, 1, 1)},
      {47, 250, rgb(62, 78, 109), rgb(46, 62, 93)},
      {48, 255, rgb(63, 79, 111), rgb(47, 63, 95)},
      {299, 255, rgb(63, 79, 111), rgb(47, 63, 95)},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(plane_level(e.row), e.level) << e.row;
    EXPECT_EQ(PlaneColours[2 * e.row], e.a) << e.row;
    EXPECT_EQ(PlaneColours[2 * e.row + 1], e.b) << e.row;
  }
}

// A row whose width is no multiple of four ends in pixels drawn one at a time, which carry
// on the pattern. One column wider moves the centre one column right, so the 404-wide floor
// (drawn four pixels at a time throughout) is the 403-wide one moved right by a column.
TEST_F(PlaneFixture, SinglePixelsAtTheRowsEndCarryOnThePattern) {
  std::vector<uint32_t> drawn[2];
  for (int w : {403, 404}) {
    FrameFixture f(w, 300);
    draw_plane(f.pixels.data(), 5000.0f, 150.0f, 37.0f, 0.0f, 0.0f);
    drawn[w - 403] = f.pixels;
  }
  for (int y = 128; y < 300; ++y)
    for (int x = 0; x < 403; ++x) ASSERT_EQ(drawn[0][y * 403 + x], drawn[1][y * 404 + x + 1]) << x << ", " << y;
}

// The checker edges move with depth. Row i is seen at z = 1 / (1/5000 + i x (1/150 -
// 1/5000) / 172); turned by theta, U = dC (x - 200) - 172 dS and V = 172 dC + dS (x - 200),
// with dC = 65536 z cos theta and dS = 65536 z sin theta, and the colour flips wherever U or
// V passes a multiple of 2^31. Worked out by hand, for example row 100 at theta = 0.37:
// z = 252.55, dC = 15430773, dS = 5985028; V reaches 2^31 at x = 115.35, U reaches -2^31 at
// 127.54 and 0 at 266.71 (the last is 200 + 172 tan theta on every row).
TEST_F(PlaneFixture, RowsChangeColourWhereTheirDepthPutsTheEdges) {
  constexpr uint32_t A = rgb(63, 79, 111), B = rgb(47, 63, 95);
  struct Row {
    float angle, camera_u;
    int i;         // plane row; frame row 128 + i
    uint32_t first;
    std::vector<int> edges;  // first column of each new colour
  };
  const Row rows[] = {
      // Unturned, last row, depth about 150.85: dC about 9.9e6, so U runs from about
      // -1.98e9 at x = 0 through 0 at x = 200 and stays below 2^31 to the right edge; V =
      // 172 dC stays positive. Left half: exactly one sign negative (colour B).
      {0.0f, 0.0f, 171, B, {200}},
      // Moved 40 along U: 40 x 2^27 wraps to 2^30, a quarter of the checker's period (a
      // conversion that saturated would stop the floor once past 16). U = 2^30 + dC (x -
      // 200) with dC = 9886153 passes 0 at x = 91.39 and 2^31 at 308.61.
      {0.0f, 40.0f, 171, B, {92, 309}},
      {37.0f, 0.0f, 60, B, {8, 95, 181, 202, 267, 354}},  // z = 407.20: U crosses -3, -2, -1, 0, 1 x 2^31, V 2 x 2^31
      {37.0f, 0.0f, 100, A, {116, 128, 267}},
      {37.0f, 0.0f, 140, A, {75, 252, 267}},              // z = 183.03: U at -2^31 and 0, V at 2^31 (251.63)
  };
  for (const Row& r : rows) {
    draw_plane(frame.pixels.data(), 5000.0f, 150.0f, r.angle, r.camera_u, 0.0f);
    uint32_t want = r.first;
    size_t next = 0;
    for (int x = 0; x < 400; ++x) {
      if (next < r.edges.size() && x == r.edges[next]) {
        want = want == A ? B : A;
        ++next;
      }
      ASSERT_EQ(frame.at(x, 128 + r.i), want) << "angle " << r.angle << ", camera " << r.camera_u << ", plane row " << r.i << ", column " << x;
    }
  }
}
