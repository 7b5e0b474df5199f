#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "display/window.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/blocks.h"
#include "platform/headless/headless.h"
#include "render/font.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/menu_bars.h"
#include "render/scroller.h"
#include "render/particles.h"
#include "support/show_runner.h"

namespace {

using showtest::escape_at;
using showtest::run;

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

}  // namespace

TEST(ShowClock, TimeAndTurnValues) {
  ShowClock c0 = show_clock(0);
  EXPECT_EQ(c0.t, 0.0f);
  EXPECT_EQ(c0.turn, 200.0f);  // cosine 1, sine 0
  // Worked out apart from the code (double-precision reference, rounded to single at the
  // end). 1 s: t = 20, turn = 200 cos 0.2 + 100 sin 0.14 = 209.96762.
  struct Moment {
    uint32_t ms;
    float t, turn;
  };
  const Moment moments[] = {
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

TEST(Show, EscapeHeldAtStartStillDrawsAndPresentsOneFrame) {
  EXPECT_EQ(run(escape_at(0)), 0);
  EXPECT_EQ(headless_stats().presented, 1u);
  const HeadlessFrame& f = headless_last_frame();
  ASSERT_EQ(f.width, 400);
  ASSERT_EQ(f.height, 300);
  // t = 0: bar 8 row 0 (frame row 72) is (122, 144, 190) over the black logo band, bar 0
  // row 0 adds black, rows 0 to 7 stay black, the horizon row is black.
  EXPECT_EQ(f.pixels[72 * 400 + 5], rgb(122, 144, 190));
  EXPECT_EQ(f.pixels[8 * 400 + 5], 0u);
  EXPECT_EQ(f.pixels[3 * 400 + 100], 0u);
  EXPECT_LE(f.pixels[128 * 400 + 200], rgb(1, 1, 2));
  EXPECT_EQ(f.pixels[299 * 400 + 399], rgb(63, 79, 111));
}

TEST(Show, EscapeEndsThePassThatReceivesIt) {
  // 50 frames per second: frames at 0, 20, ..., 1000 ms are drawn; the key at 1000 ms is
  // seen in that frame's message handling, which is still presented.
  EXPECT_EQ(run(escape_at(1000)), 0);
  EXPECT_EQ(headless_stats().presented, 51u);
  EXPECT_EQ(KeyState[VK_ESCAPE], 1u);
}

TEST(Show, ElapsedTimeSurvivesTickCountWrap) {
  // The tick count wraps 300 ms into the show; show time must go on from 0 regardless.
  HeadlessConfig wrapping = escape_at(600);
  wrapping.start_tick = 0xffffffffu - 299;
  ASSERT_EQ(run(wrapping), 0);
  std::vector<uint32_t> wrapped = headless_last_frame().pixels;
  ASSERT_EQ(run(escape_at(600)), 0);
  EXPECT_EQ(headless_last_frame().pixels, wrapped);
  EXPECT_EQ(ShowStartTick, 0u);
}

TEST(Show, AnimationDependsOnShowTimeNotFrameCount) {
  // The same show moment reached at 50 and at 10 frames per second looks the same, outside
  // the particles' rows. The particles move by the time passed since the previous frame, so
  // they keep the show's speed too, but which new values a returning particle draws depends
  // on the order in which particles pass the right edge between frames.
  ASSERT_EQ(run(escape_at(0)), 0);  // the first frame only records the time
  const std::vector<Particle> start(Particles, Particles + ParticleCount);
  HeadlessConfig fast = escape_at(2000);
  ASSERT_EQ(run(fast), 0);
  std::vector<uint32_t> at_fast = headless_last_frame().pixels;
  const std::vector<Particle> particles_fast(Particles, Particles + ParticleCount);
  HeadlessConfig slow = escape_at(2000);
  slow.frame_us = 100000;
  ASSERT_EQ(run(slow), 0);
  EXPECT_EQ(headless_stats().presented, 21u);
  const std::vector<uint32_t>& at_slow = headless_last_frame().pixels;
  for (int y = 0; y < 300; ++y) {
    if (y >= 150 && y <= 264) continue;
    for (int x = 0; x < 400; ++x) {
      ASSERT_EQ(at_slow[y * 400 + x], at_fast[y * 400 + x]) << x << ", " << y;
    }
  }
  // A particle that has not yet reached the right edge has come 40 x speed pixels at both
  // rates.
  int checked = 0;
  for (int i = 0; i < ParticleCount; ++i) {
    const float want = start[i].x + 40.0f * start[i].speed;
    if (want >= 420.0f) continue;
    ++checked;
    EXPECT_NEAR(particles_fast[i].x, want, 0.01) << "particle " << i;
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
  ASSERT_NE(Particles, nullptr);
  EXPECT_EQ(LastParticleTime, 0.4f);
  EXPECT_EQ(Particles[0].x, 3.246875f);  // 0.50048828125 + 0.4 x 6.865966796875, to the nearest float
  EXPECT_EQ(Particles[0].y, 211.99249267578125f);
}

// The same moment with the tune bar focused and, after Down, the link bar: the frames
// differ only where the bars are, and there by one more copy of the focused bar's image
// (each channel; saturated pixels aside).
TEST(Show, FocusedBarIsDrawnDoubledAndTheOtherPlain) {
  ASSERT_EQ(run(escape_at(1500)), 0);
  EXPECT_EQ(ActiveBar, 0);
  const std::vector<uint32_t> tune_focus = headless_last_frame().pixels;
  HeadlessConfig down = escape_at(1500);
  down.keys.insert(down.keys.begin(), {{500, VK_DOWN, true, false}, {600, VK_DOWN, false, false}});
  ASSERT_EQ(run(down), 0);
  EXPECT_EQ(ActiveBar, 1);
  const std::vector<uint32_t>& link_focus = headless_last_frame().pixels;
  const uint32_t* tune = TuneBarImages[TuneNumber];
  const uint32_t* link = LinkBarImages[LinkNumber];
  int tune_pixels = 0, link_pixels = 0;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      const uint32_t t = y >= 140 && y < 190 ? tune[(y - 140) * 400 + x] : 0u;
      const uint32_t l = y >= 170 && y < 220 ? link[(y - 170) * 400 + x] : 0u;
      tune_pixels += t != 0 ? 1 : 0;
      link_pixels += l != 0 ? 1 : 0;
      const uint32_t a = tune_focus[static_cast<size_t>(y) * 400 + static_cast<size_t>(x)];
      const uint32_t b = link_focus[static_cast<size_t>(y) * 400 + static_cast<size_t>(x)];
      // A saturated channel also carries a 1 into the channel above: leave such pixels out.
      auto saturated = [](uint32_t p) { return (p & 0xff) == 0xff || (p & 0xff00) == 0xff00 || (p & 0xff0000) == 0xff0000; };
      if (saturated(a) || saturated(b)) continue;
      for (int shift : {0, 8, 16}) {
        const int ca = static_cast<int>((a >> shift) & 0xff), cb = static_cast<int>((b >> shift) & 0xff);
        const int want = static_cast<int>((t >> shift) & 0xff) - static_cast<int>((l >> shift) & 0xff);
        ASSERT_EQ(ca - cb, want) << "column " << x << " row " << y << " channel " << shift / 8;
      }
    }
  }
  EXPECT_GT(tune_pixels, 1000);
  EXPECT_GT(link_pixels, 1000);
}

TEST(Show, MinimisedWindowIsNotDrawnAndTheShowWaitsForItsNextMessage) {
  // 50 frames per second; minimised at 400 ms, restored at 1400 ms, Escape at 2000 ms. The
  // pass at 400 ms receives the minimise and draws nothing, the one at 1400 ms the restore:
  // frames at 0, 20, ..., 380 and 1400, 1420, ..., 2000, that is 20 + 31.
  HeadlessConfig c = escape_at(2000);
  c.minimised_from_ms = 400;
  c.minimised_until_ms = 1400;
  std::vector<uint32_t> ticks;
  EXPECT_EQ(run(c, [&](const HeadlessFrame& f) { ticks.push_back(f.tick); }), 0);
  EXPECT_EQ(ticks.size(), 51u);
  EXPECT_EQ(std::count_if(ticks.begin(), ticks.end(), [](uint32_t t) { return t >= 400 && t < 1400; }), 0)
      << "frames drawn while minimised";
  // The whole second minimised was one wait for the window system.
  EXPECT_EQ(headless_stats().waits, 1);
}

TEST(Show, CloseRequestEndsWithExitCodeZero) {
  HeadlessConfig c;
  c.close_at_ms = 300;
  EXPECT_EQ(run(c), 0);
  EXPECT_EQ(headless_stats().presented, 15u);  // the pass at 300 ms closes before drawing
  EXPECT_EQ(MusicPlaying, 0);
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
// n blocks be had shows how far the preparation got; the block that
// could not be had is reported and ends the show before any frame.
TEST(Show, GraphicsArePreparedInTheirFixedOrder) {
  struct Case {
    int64_t granted;
    bool font, strip, first_tune, last_tune, first_link;
  };
  const Case cases[] = {
      {0, false, false, false, false, false},   // not even the frame
      {1, false, false, false, false, false},
      {3, false, false, false, false, false},   // frame, logo, sprite
      {4, true, false, false, false, false},    // + the font's pixels
      {5, true, true, false, false, false},     // + the scroller's strip
      {6, true, true, true, false, false},      // + tune image 1
      {19, true, true, true, true, false},      // + tune images 2 to 14
      {20, true, true, true, true, true},       // + link image 1
  };
  for (const Case& c : cases) {
    HeadlessConfig config = escape_at(0);
    config.fail_alloc_after = c.granted;
    EXPECT_EQ(run(config), 1) << c.granted;
    EXPECT_EQ(headless_stats().messages, std::vector<std::string>{"not enough memory for the show"}) << c.granted;
    EXPECT_EQ(Framebuffer.pixels != nullptr, c.granted > 0) << c.granted;
    EXPECT_EQ(SpritePicture != nullptr, c.granted >= 3) << c.granted;
    EXPECT_EQ(Font.pixels != nullptr, c.font) << c.granted;
    EXPECT_EQ(ScrollStrip != nullptr, c.strip) << c.granted;
    EXPECT_EQ(TuneBarImages[1] != nullptr, c.first_tune) << c.granted;
    EXPECT_EQ(TuneBarImages[14] != nullptr, c.last_tune) << c.granted;
    EXPECT_EQ(LinkBarImages[1] != nullptr, c.first_link) << c.granted;
    EXPECT_EQ(headless_stats().presented, 0u) << c.granted;
  }
}

TEST(Show, ExitCodeIsOneAfterAnyReportedErrorAndZeroWhenTheUserEndsTheShow) {
  struct Case {
    const char* what;
    HeadlessConfig config;
    int code;
  };
  std::vector<Case> cases;
  HeadlessConfig no_shortcut = escape_at(300);
  no_shortcut.fail_shortcut = true;
  cases.push_back({"no shortcut table, then Escape", no_shortcut, 1});
  // Alt+Enter fails and the show goes back to its window and on; the user ends it.
  HeadlessConfig switch_failed = escape_at(600);
  switch_failed.fail_fullscreen = true;
  switch_failed.keys.push_back({300, VK_RETURN, true, true});
  cases.push_back({"failed switch, then Escape", switch_failed, 1});
  HeadlessConfig switch_failed_closed = switch_failed;
  switch_failed_closed.keys = {{300, VK_RETURN, true, true}};
  switch_failed_closed.close_at_ms = 600;
  cases.push_back({"failed switch, then the close box", switch_failed_closed, 1});
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.config), c.code) << c.what;
  }
}
