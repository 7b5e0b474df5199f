// The show's frame loop on the headless backend: its clock, how a run ends, what it prepares
// before the first frame and what it gives back. What the frames look like: golden_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "display/window.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/blocks.h"
#include "render/font.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/menu_bars.h"
#include "render/particles.h"
#include "render/scroller.h"
#include "support/show_runner.h"

using showtest::escape_at;
using showtest::run;

TEST(ShowClock, TimeAndTurnValues) {
  // Worked out apart from the code (double-precision reference, rounded to single at the
  // end). 0 s: cosine 1, sine 0. 1 s: t = 20, turn = 200 cos 0.2 + 100 sin 0.14 = 209.96762.
  struct Moment {
    uint32_t ms;
    float t, turn;
  };
  const Moment moments[] = {
      {0, 0.0f, 200.0f},
      {1000, 20.0f, 0x1.a3ef6cp+7f},
      {31415, 628.299988f, 0x1.a397eap+6f},
      // Where t is rounded to a quarter: the cosine takes the unrounded 2469135.78 and the
      // sine the rounded 2469135.75. Cosine and sine both of the rounded t would give
      // -86.7716, both of the unrounded -86.7020.
      {123456789, 2469135.75f, -0x1.5ad8b6p+6f},
      // 49.7 days of show: t grows to 85.9 million units, kept in single precision.
      {0xffffffffu, 85899344.0f, 0x1.07bf66p+8f},
  };
  for (const Moment& m : moments) {
    EXPECT_EQ(show_clock(m.ms).t, m.t) << m.ms;
    EXPECT_EQ(show_clock(m.ms).turn, m.turn) << m.ms;
  }
}

// 50 frames a second, from 0 ms. The pass that receives Escape still presents its frame; the
// one that receives the close request does not. A reported error makes the exit status 1
// even when the user ends the show afterwards.
TEST(Show, FramesPresentedAndTheExitStatus) {
  struct Case {
    const char* what;
    HeadlessConfig config;
    int code;
    int64_t presented;  // -1: not counted
  };
  std::vector<Case> cases = {{"Escape held from the start", escape_at(0), 0, 1},
                             {"Escape at 1000 ms", escape_at(1000), 0, 51}};
  cases.push_back({"the close box at 300 ms", {}, 0, 15});
  cases.back().config.close_at_ms = 300;
  cases.push_back({"no shortcut table, then Escape at 300 ms", escape_at(300), 1, 16});
  cases.back().config.fail_shortcut = true;
  HeadlessConfig switch_failed = escape_at(600);
  switch_failed.fail_fullscreen = true;
  switch_failed.keys.push_back({300, VK_RETURN, true, true});
  cases.push_back({"a failed switch to fullscreen, then Escape", switch_failed, 1, -1});
  switch_failed.keys.erase(switch_failed.keys.begin());
  switch_failed.close_at_ms = 600;
  cases.push_back({"a failed switch to fullscreen, then the close box", switch_failed, 1, -1});
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.config), c.code) << c.what;
    EXPECT_EQ(MusicPlaying, 0) << c.what;
    if (c.presented >= 0) {
      EXPECT_EQ(headless_stats().presented, static_cast<uint64_t>(c.presented)) << c.what;
    }
  }
}

TEST(Show, MinimisedWindowIsNotDrawnAndTheShowWaitsForItsNextMessage) {
  // Minimised at 400 ms, restored at 1400 ms, Escape at 2000 ms. The pass at 400 ms receives
  // the minimise and draws nothing, the one at 1400 ms the restore: frames at 0, 20, ..., 380
  // and 1400, 1420, ..., 2000, that is 20 + 31, and one wait for the window system between.
  HeadlessConfig c = escape_at(2000);
  c.minimised_from_ms = 400;
  c.minimised_until_ms = 1400;
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(headless_stats().presented, 51u);
  EXPECT_EQ(headless_stats().waits, 1);
}

TEST(Show, AnimationDependsOnShowTimeNotFrameCount) {
  // The same show moment reached at 50 and at 10 frames per second looks the same outside
  // the particles' rows (which new values a particle draws when it comes back depends on
  // the order in which particles pass the right edge between frames).
  ASSERT_EQ(run(escape_at(0)), 0);  // the first frame only records the time
  const std::vector<Particle> start(Particles, Particles + ParticleCount);
  ASSERT_EQ(run(escape_at(2000)), 0);
  const std::vector<uint32_t> fast = headless_last_frame().pixels;
  const std::vector<Particle> fastParticles(Particles, Particles + ParticleCount);
  HeadlessConfig slow = escape_at(2000);
  slow.frame_us = 100000;
  ASSERT_EQ(run(slow), 0);
  ASSERT_EQ(headless_stats().presented, 21u);
  const std::vector<uint32_t>& slowPixels = headless_last_frame().pixels;
  for (int y = 0; y < 300; ++y) {
    if (y >= 150 && y <= 264) continue;  // the particles' rows
    for (int x = 0; x < 400; ++x) ASSERT_EQ(slowPixels[y * 400 + x], fast[y * 400 + x]) << x << ", " << y;
  }
  // A particle that has not yet reached the right edge has come 40 x speed pixels at both rates.
  int checked = 0;
  for (int i = 0; i < ParticleCount; ++i) {
    const float want = start[i].x + 40.0f * start[i].speed;
    if (want >= 420.0f) continue;
    ++checked;
    EXPECT_NEAR(fastParticles[i].x, want, 0.01) << "particle " << i;
    EXPECT_NEAR(Particles[i].x, want, 0.01) << "particle " << i;
  }
  EXPECT_GE(checked, 5);
}

TEST(Show, ParticlesStartAfterTheGraphicsAndMoveFromTheSecondFrame) {
  // Two frames, at 0 and 20 ms (t = 0.4). The particles were made from the generator's
  // first values (particle 0: x 0.50048828125, speed 6.865966796875), the first frame only
  // recorded t = 0, the second moved them by 0.4 units.
  ASSERT_EQ(run(escape_at(20)), 0);
  ASSERT_EQ(headless_stats().presented, 2u);
  EXPECT_EQ(LastParticleTime, 0.4f);
  EXPECT_EQ(Particles[0].x, 3.246875f);  // 0.50048828125 + 0.4 x 6.865966796875, to the nearest float
  EXPECT_EQ(Particles[0].y, 211.99249267578125f);
}

// The headless tools run the show again and again in one process: whatever a run took, the
// reset gives back, whether the run ended with Escape or on a block it could not have.
TEST(Show, RepeatedRunsInOneProcessGiveEveryBlockBack) {
  HeadlessConfig short_of_memory = escape_at(0);
  short_of_memory.fail_alloc_after = 40;
  for (const HeadlessConfig& c : {escape_at(0), escape_at(700), short_of_memory, escape_at(0)}) {
    run(c);
    reset_show_state();
    EXPECT_EQ(blocks_in_use(), 0u);
  }
}

// The start-up pictures come in a fixed order: frame, logo and sprite; the font and the
// scroller's strip; the 14 tune-bar images; the 17 link-bar images. Letting only the first
// n blocks be had shows how far the preparation got; the block that could not be had is
// reported and ends the show before any frame.
TEST(Show, GraphicsArePreparedInTheirFixedOrder) {
  // Blocks granted, and how many of the pictures were made with them, in the order of `made`.
  const std::pair<int64_t, int> cases[] = {{0, 0}, {1, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {19, 6}, {20, 7}};
  for (const auto& [granted, count] : cases) {
    HeadlessConfig config = escape_at(0);
    config.fail_alloc_after = granted;
    EXPECT_EQ(run(config), 1) << granted;
    EXPECT_EQ(headless_stats().messages, std::vector<std::string>{"not enough memory for the show"}) << granted;
    EXPECT_EQ(headless_stats().presented, 0u) << granted;
    const std::vector<bool> made = {Framebuffer.pixels != nullptr, SpritePicture != nullptr, Font.pixels != nullptr,
                                    ScrollStrip != nullptr,        TuneBarImages[1] != nullptr,
                                    TuneBarImages[14] != nullptr,  LinkBarImages[1] != nullptr};
    std::vector<bool> want(made.size(), false);
    std::fill_n(want.begin(), count, true);
    EXPECT_EQ(made, want) << granted << " blocks: frame, sprite, font, strip, tune images 1 and 14, link image 1";
  }
}
