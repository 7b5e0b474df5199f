#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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
      {0, 0, 0, 0},
      {1, 5, rgb(1, 1, 2), rgb(0, 1, 1)},
      {4, 21, rgb(5, 6, 9), rgb(3, 5, 7)},
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

// The horizon row's own colours are level 0; where both U and V are negative it reads
// colour A of the next row, level 5: (1, 1, 2), still black to the eye.
TEST_F(PlaneFixture, HorizonRowIsBlackAndEveryPlaneRowIsWritten) {
  ASSERT_EQ(PlaneColours[0], 0u);
  ASSERT_EQ(PlaneColours[1], 0u);
  ASSERT_EQ(PlaneColours[2], rgb(1, 1, 2));
  frame.fill(0xdeadbe);
  for (float t : {0.0f, 123.45f, 98765.0f}) {
    float turn = static_cast<float>(200.0 * std::cos(0.01 * t) + 100.0 * std::sin(0.007 * t));
    draw_plane(frame.pixels.data(), 5000.0f, 150.0f, turn, t, t);
    for (int x = 0; x < 400; ++x) {
      uint32_t p = frame.at(x, 128);
      ASSERT_TRUE(p == 0u || p == rgb(1, 1, 2)) << "t " << t << " x " << x;
    }
  }
  for (int y = 128; y < 300; ++y)
    for (int x = 0; x < 400; ++x) ASSERT_NE(frame.at(x, y), 0xdeadbeu);
  EXPECT_EQ(frame.at(0, 127), 0xdeadbeu);  // the logo band above is left alone
}

TEST_F(PlaneFixture, WithoutTurnTheLastRowIsSplitAtTheMiddle) {
  draw_plane(frame.pixels.data(), 5000.0f, 150.0f, 0.0f, 0.0f, 0.0f);
  // Last plane row, depth about 150.85: dC about 9.9e6, so U runs from about -1.98e9 at
  // x = 0 through 0 at x = 200 and stays below 2^31 to the right edge; V = 172 dC stays
  // positive. Left half: exactly one sign negative (colour B); right half: colour A.
  for (int x = 0; x < 400; ++x) ASSERT_EQ(frame.at(x, 299), x < 200 ? rgb(47, 63, 95) : rgb(63, 79, 111)) << x;
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

TEST_F(PlaneFixture, CameraOffsetsWrapWithoutBreakingTheFloor) {
  // After about 30 hours of show the offsets have wrapped many times; the floor still has
  // both colours in its near rows and reads only its own table.
  const float t = 2.2e6f;
  draw_plane(frame.pixels.data(), 5000.0f, 150.0f, 37.0f, t, t);
  int a = 0, b = 0;
  for (int x = 0; x < 400; ++x) {
    a += frame.at(x, 290) == rgb(63, 79, 111);
    b += frame.at(x, 290) == rgb(47, 63, 95);
  }
  EXPECT_GT(a, 0);
  EXPECT_GT(b, 0);
  EXPECT_EQ(a + b, 400);
}

// With a turn the checker edges move with depth. Row i is seen at z = 1 / (1/5000 + i x
// (1/150 - 1/5000) / 172); turned by theta = 0.37, U = dC (x - 200) - 172 dS and V = 172 dC
// + dS (x - 200), with dC = 65536 z cos theta and dS = 65536 z sin theta, and the colour
// flips wherever U or V passes a multiple of 2^31. Worked out by hand, for example row 100:
// z = 252.55, dC = 15430773, dS = 5985028; V reaches 2^31 at x = 115.35, U reaches -2^31 at
// 127.54 and 0 at 266.71 (the last is 200 + 172 tan theta on every row).
TEST_F(PlaneFixture, TurnedRowsChangeColourWhereTheirDepthPutsTheEdges) {
  constexpr uint32_t A = rgb(63, 79, 111), B = rgb(47, 63, 95);
  struct Row {
    int i;         // plane row; frame row 128 + i
    uint32_t first;
    std::vector<int> edges;  // first column of each new colour
  };
  const Row rows[] = {
      {60, B, {8, 95, 181, 202, 267, 354}},  // z = 407.20: U crosses -3, -2, -1, 0, 1 x 2^31, V 2 x 2^31
      {100, A, {116, 128, 267}},
      {140, A, {75, 252, 267}},              // z = 183.03: U at -2^31 and 0, V at 2^31 (251.63)
  };
  draw_plane(frame.pixels.data(), 5000.0f, 150.0f, 37.0f, 0.0f, 0.0f);
  for (const Row& r : rows) {
    uint32_t want = r.first;
    size_t next = 0;
    for (int x = 0; x < 400; ++x) {
      if (next < r.edges.size() && x == r.edges[next]) {
        want = want == A ? B : A;
        ++next;
      }
      ASSERT_EQ(frame.at(x, 128 + r.i), want) << "plane row " << r.i << " column " << x;
    }
  }
}
