#include <gtest/gtest.h>

#include <vector>

#include "frame_fixture.h"
#include "platform/blocks.h"
#include "render/graphics.h"
#include "render/particles.h"

// Expected values below are worked out by hand from the random generator's first eight
// results after a reset: 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358 (each result
// r gives r x range / 32768; every value here happens to be exact in single precision).

namespace {
struct ParticleFixture : ::testing::Test {
  FrameFixture frame;
  std::vector<uint32_t> sprite = std::vector<uint32_t>(32 * 32);
  void SetUp() override {
    for (int r = 0; r < 32; ++r)
      for (int c = 0; c < 32; ++c) sprite[r * 32 + c] = texel(c, r);
    reset_random();
    SpritePicture = sprite.data();
    Particles = nullptr;
    LastParticleTime = NoParticleStepYet;
  }
  void TearDown() override {
    SpritePicture = nullptr;
    if (Particles != nullptr) free_block(Particles);
    Particles = nullptr;
    LastParticleTime = NoParticleStepYet;
  }
  // Each texel names its column (blue) and row (red), plus one so none is transparent.
  static uint32_t texel(int c, int r) { return rgb(2 * (r + 1), 0, 2 * (c + 1)); }
};

}  // namespace

// A respawned particle draws x (41 -> 0.5) but is put at 0, then draws y (18467 x 110 /
// 32768 + 150), speed (6334 x 20 / 32768 + 3) and size (26500 x 1.5 / 32768 + 1): exactly
// four values, so the generator's next result is the fifth.
TEST_F(ParticleFixture, PastWidthPlus20ComesBackAtTheLeftEdge) {
  for (float x : {409.0f, 410.0f}) {  // moved by 10: one short of width + 20, then exactly there
    reset_random();
    Particle p{x, 170.0f, 10.0f, 1.25f};
    move_particle(p, 1.0);
    const bool respawned = x == 410.0f;
    const std::vector<float> want = respawned ? std::vector<float>{0.0f, 211.99249267578125f, 6.865966796875f, 2.21307373046875f}
                                              : std::vector<float>{419.0f, 170.0f, 10.0f, 1.25f};
    EXPECT_EQ((std::vector<float>{p.x, p.y, p.speed, p.size}), want) << x;
    EXPECT_EQ(lcg_next(), respawned ? 19169 : 41) << x;
  }
}

// The rectangle, x to x + 4 size and y to y + 2 size rounded up, clipped short of the last
// column and row; and the texture walk, worked out by hand: texel (c, r) at pixel (px, py)
// with U0 = (x0 - x) stepU + startU, V0 likewise, c = (U0 + k stepU) >> 16. The walk starts at
// the first whole pixel inside the rectangle, part of a step in, or where clipping at the left
// or top puts it.
TEST_F(ParticleFixture, RectangleAndTextureWalk) {
  struct Probe {
    int px, py, c, r;
  };
  struct Row {
    float x, y, size;
    struct {
      int x0, x1, y0, y1;  // columns x0..x1-1, rows y0..y1-1; x1 == 0: nothing drawn
    } box;
    std::vector<Probe> probes;
  };
  const Row rows[] = {
      {396.5f, 296.0f, 2.0f, {397, 399, 296, 299}, {}},  // right 404.5, bottom 300, both clipped
      {399.5f, 100.0f, 1.0f, {0, 0, 0, 0}, {}},       // starts inside the last column only
      {100.0f, 100.0f, 0.0f, {0, 0, 0, 0}, {}},
      // 32 x 16: stepU 63488 (31/32 texel), stepV 126976 (31/16 texel).
      {0.0f, 0.0f, 8.0f, {0, 32, 0, 16}, {{1, 1, 0, 1}, {2, 2, 1, 3}, {31, 15, 30, 29}}},
      // 8 x 4: stepU 253952, stepV 507904. U0 = 0.75 stepU = 190464 (2.91), V0 = 0.5 stepV =
      // 253952 (3.88); column 18 is 7 steps on (30.03), row 24 three (27.13).
      {10.25f, 20.5f, 2.0f, {11, 19, 21, 25}, {{11, 21, 2, 3}, {18, 21, 30, 3}, {12, 24, 6, 27}}},
      // Clipped: startU = 2.5 stepU = 634880 = startV (1.25 stepV), both 9.69 texels; then
      // column 5 at 29.06, row 2 at 25.19.
      {-2.5f, -1.25f, 2.0f, {0, 6, 0, 3}, {{0, 0, 9, 9}, {5, 0, 29, 9}, {0, 2, 9, 25}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "sprite at " << row.x << ", " << row.y << " size " << row.size);
    frame.fill(0x030507);  // odd low bits: cleared where a texel is added
    draw_particle_sprite(row.x, row.y, row.size);
    for (int y = 0; y < 300; ++y) {
      for (int x = 0; x < 400; ++x) {
        const bool inside = x >= row.box.x0 && x < row.box.x1 && y >= row.box.y0 && y < row.box.y1;
        ASSERT_EQ(frame.at(x, y) != 0x030507u, inside) << "pixel " << x << ", " << y;
      }
    }
    for (const Probe& p : row.probes) EXPECT_EQ(frame.at(p.px, p.py), texel(p.c, p.r) + 0x020406u) << "pixel " << p.px << ", " << p.py;
  }
}

TEST_F(ParticleFixture, TransparentTexelsLeaveThePixelAloneAndLitOnesSaturate) {
  // Sprite columns 0-15 transparent, 16-31 at 0xfefefe. Drawn 32 x 16 at the origin, pixel
  // column 16 still reads sprite column 15 (16 x 31/32) and 17 reads 16. Where lit, every
  // channel saturates, and the red carry leaves bit 24.
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c) sprite[r * 32 + c] = c < 16 ? 0u : 0xfefefeu;
  frame.fill(0xff01ff);
  draw_particle_sprite(0.0f, 0.0f, 8.0f);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x <= 32; ++x) ASSERT_EQ(frame.at(x, y), x <= 16 || x == 32 ? 0xff01ffu : 0x1ffffffu) << x << ", " << y;
}

// The first step only records the time; the next moves each particle by its speed times
// the time between. After 2^32 ms the show clock starts again from 0: the first frame after
// the wrap counts as a first step too, instead of sending every particle some 6e8 pixels to
// the left for good, but draws the particles.
TEST_F(ParticleFixture, TheFirstStepAndTheFirstAfterTheClockWrapsMoveNothing) {
  for (float last : {NoParticleStepYet, static_cast<float>(0xfffffff0u * 0.02)}) {  // 16 ms before the wrap
    SCOPED_TRACE(last);
    TearDown();
    SetUp();
    init_particles();
    LastParticleTime = last;
    frame.fill(0);
    update_particles(0.0f);
    EXPECT_EQ(Particles[0].x, 0.50048828125f);  // 41 x 400 / 32768, not moved
    EXPECT_EQ(frame.at(1, 212) != 0, last != NoParticleStepYet);
    update_particles(2.0f);
    EXPECT_EQ(Particles[0].x, 14.232421875f);  // 0.50048828125 + 2 x 6.865966796875
  }
}
