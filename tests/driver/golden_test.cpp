// The presented frame at fixed show times, region by region, against the PNGs in golden/.
// After a deliberate change to the picture, write them anew with
//   MUSICDISK_UPDATE_GOLDEN=1 build/ci/tests/driver/driver_golden_tests
// and look at the new PNGs before committing them.
#include <gtest/gtest.h>

#include "render/particles.h"
#include "support/golden.h"
#include "support/show_runner.h"

namespace {

using showtest::escape_at;
using showtest::run;

const std::string Folder = MD_SOURCE_DIR "/tests/driver/golden";

// Each effect where it is drawn; the plane shows behind the particles, the bars and the text.
const std::vector<golden::Region> Scene = {
    {"logo-and-raster-bars", 120, 0, 160, 128},  // the bars add over the logo's band
    {"plane", 0, 128, 400, 12},                  // its horizon rows, where nothing else is drawn
    {"menu-bars", 100, 140, 200, 80},            // the tune bar from row 140, the link bar from 170
    {"particles", 0, 150, 100, 69},
    {"scroller", 0, 220, 200, 80},               // the text and its reflection
    {"reflection", 0, 265, 400, 35},             // below the particles
};

TEST(GoldenFrames, TheSceneAtFixedTimes) {
  for (uint32_t ms : {0u, 2500u, 61000u}) {
    HeadlessConfig config = escape_at(ms);
    config.start_tick = 0xffffffffu - 999;  // the tick count wraps 1 s into the show
    ASSERT_EQ(run(config), 0);
    EXPECT_TRUE(golden::matches(headless_last_frame(), Folder, std::to_string(ms) + "ms", Scene));
  }
}

// The same moment reached at 10 frames a second instead of 50 looks the same where no particle
// is drawn (which new values a particle draws when it comes back depends on the order in which
// particles pass the right edge between frames). Particle 0 was made from the generator's
// first values (x 0.50048828125, speed 6.865966796875) after the graphics and first moves on
// the second frame: at 2500 ms (t = 50) it is at 0.50048828125 + 50 x speed.
TEST(GoldenFrames, AnimationDependsOnShowTimeNotFrameCount) {
  HeadlessConfig slow = escape_at(2500);
  slow.frame_us = 100000;
  ASSERT_EQ(run(slow), 0);
  EXPECT_NEAR(Particles[0].x, 343.79882812, 0.01);
  EXPECT_TRUE(golden::matches(headless_last_frame(), Folder, "2500ms", {Scene[0], Scene[1], Scene[5]}));
}

}  // namespace
