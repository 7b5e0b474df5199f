// The presented frame at fixed show times, region by region, against the PNGs in golden/.
// After a deliberate change to the picture, write them anew with
//   MUSICDISK_UPDATE_GOLDEN=1 build/ci/tests/driver/driver_golden_tests
// and look at the new PNGs before committing them.
#include <gtest/gtest.h>

#include "driver/menu.h"
#include "support/golden.h"
#include "support/show_runner.h"

namespace {

using golden::Region;
using showtest::escape_at;
using showtest::run;

const std::string Folder = MD_SOURCE_DIR "/tests/driver/golden";

// Each effect where it is drawn; the plane shows behind the particles, the bars and the text.
const std::vector<Region> Scene = {
    {"logo-and-raster-bars", 120, 0, 160, 128},  // the bars add over the logo's band
    {"plane", 0, 128, 400, 12},                  // its horizon rows, where nothing else is drawn
    {"menu-bars", 100, 140, 200, 80},            // the tune bar from row 140, the link bar from 170
    {"particles", 0, 150, 100, 69},
    {"scroller", 0, 220, 200, 80},               // the text and its reflection
};

TEST(GoldenFrames, TheSceneAtFixedTimes) {
  for (uint32_t ms : {0u, 2500u, 61000u}) {
    HeadlessConfig config = escape_at(ms);
    config.start_tick = 0xffffffffu - 999;  // the tick count wraps 1 s into the show
    ASSERT_EQ(run(config), 0);
    EXPECT_TRUE(golden::matches(headless_last_frame(), Folder, std::to_string(ms) + "ms", Scene));
  }
}

TEST(GoldenFrames, TheMenuBarsAfterTheKeys) {
  // After Right, Down and Right: tune 2, the link bar focused on link 2.
  HeadlessConfig keys = escape_at(5000);
  for (uint32_t ms : {2500u, 3500u, 4500u}) {
    const uint32_t vk = ms == 3500 ? VK_DOWN : VK_RIGHT;
    keys.keys.push_back({ms, vk, true, false});
    keys.keys.push_back({ms + 100, vk, false, false});
  }
  ASSERT_EQ(run(keys), 0);
  EXPECT_EQ(TuneNumber, 2);
  EXPECT_EQ(LinkNumber, 2);
  EXPECT_EQ(ActiveBar, 1);
  EXPECT_TRUE(golden::matches(headless_last_frame(), Folder, "keys", {{"menu-bars", 0, 140, 400, 80}}));
}

}  // namespace
