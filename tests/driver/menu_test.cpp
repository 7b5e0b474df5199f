// The menu's keys in the running show: the tune bar's switch with the music it starts and
// stops, the link bar, and Enter opening the chosen link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/menu_texts.h"
#include "display/window.h"
#include "driver/menu.h"
#include "platform/headless/headless.h"
#include "support/show_runner.h"

using showtest::changes;
using showtest::escape_at;
using showtest::FrameState;
using showtest::press;

TEST(Menu, HoldingLeftOrRightStepsThroughSilenceAndRoundAgain) {
  // 50 frames per second; the guard opens when more than 200 ms have passed: one step every
  // 220 ms, the first at 220 ms. Silence (14) plays nothing, whichever side it is entered from.
  struct Case {
    uint32_t key;
    std::vector<int32_t> tunes;
  };
  const Case cases[] = {
      {VK_LEFT, {1, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 14, 13}},
      {VK_RIGHT, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    HeadlessConfig config = escape_at(220 * 16 + 10);
    press(config, 0, c.key, 0);
    const std::vector<FrameState> frames = showtest::run_recorded(config);
    EXPECT_EQ(changes(frames, &FrameState::tune), c.tunes) << c.key;
    for (const FrameState& f : frames) {
      ASSERT_EQ(f.playing, f.tune == 14 ? 0 : 1) << "key " << c.key << " tune " << f.tune << " at " << f.ms;
      ASSERT_EQ(f.sounding, f.tune != 14) << "key " << c.key << " tune " << f.tune << " at " << f.ms;
      if (f.ms < 220) {
        ASSERT_EQ(f.tune, 1) << "no arrow acts in the first 200 ms";
      }
    }
    EXPECT_EQ(frames[11].tune, c.tunes[1]) << c.key;  // 220 ms: the change shows in the same frame
  }
}

// Keys held (from 0 ms: none acts in the first 200 ms, then one step every 220 ms) or
// tapped. Every step onto a tune starts it afresh, with a sound device of its own.
TEST(Menu, KeysStepTheirBarAndStartTunes) {
  struct Press {
    uint32_t key, at, held;  // held 0: to the end
  };
  struct Case {
    const char* what;
    std::vector<Press> presses;
    uint32_t start_tick, end_ms;
    int32_t FrameState::*field;
    std::vector<int32_t> values;
    int devices;
  };
  const std::vector<Press> linkKeys = {{VK_DOWN, 250, 50}, {VK_LEFT, 500, 50}, {VK_RIGHT, 800, 50}, {VK_RIGHT, 1100, 50}};
  const Case cases[] = {
      {"Right for 500 ms", {{VK_RIGHT, 0, 500}}, 0, 600, &FrameState::tune, {1, 2, 3}, 3},
      {"Left wins over Right", {{VK_LEFT, 0, 0}, {VK_RIGHT, 0, 0}}, 0, 700, &FrameState::tune, {1, 14, 13, 12}, 3},
      {"Up and Down toggle the bar", {{VK_UP, 0, 0}, {VK_DOWN, 0, 0}}, 0, 700, &FrameState::bar, {0, 1, 0, 1}, 1},
      // The tick count wraps 100 ms into the show.
      {"Left across a tick count wrap", {{VK_LEFT, 0, 0}}, 0xffffffffu - 99, 700, &FrameState::tune, {1, 14, 13, 12}, 3},
      {"the link bar wraps both ways", linkKeys, 0, 1200, &FrameState::link, {1, 17, 1, 2}, 1},
      {"the link bar leaves the music alone", linkKeys, 0, 1200, &FrameState::tune, {1}, 1},
  };
  for (const Case& c : cases) {
    HeadlessConfig config = escape_at(c.end_ms);
    config.start_tick = c.start_tick;
    for (const Press& p : c.presses) press(config, p.at, p.key, p.held);
    EXPECT_EQ(changes(showtest::run_recorded(config), c.field), c.values) << c.what;
    EXPECT_EQ(headless_sound_stats().devices_made, c.devices) << c.what;
  }
}

// Held Enter opens the chosen link at 2020 ms and every 2020 ms after, until the browser
// takes the focus: Enter's release goes to the browser, and the show no longer counts it held.
TEST(Menu, HoldingEnterOpensTheSelectedLinkEveryTwoSeconds) {
  for (int64_t focusLost : {-1, 2100}) {
    HeadlessConfig config = escape_at(6500);
    config.focus_lost_at_ms = focusLost;
    press(config, 0, VK_RETURN, 0);
    showtest::run(config);
    const size_t times = focusLost < 0 ? 3 : 1;
    EXPECT_EQ(headless_opened_addresses(), std::vector<std::string>(times, LinkAddresses[1])) << focusLost;
    EXPECT_EQ(KeyState[VK_RETURN], focusLost < 0 ? 1u : 0u) << focusLost;
  }
}

TEST(Menu, EnterInFullscreenSwitchesToWindowedFirst) {
  HeadlessConfig config = escape_at(2200);
  config.keys.push_back({100, VK_RETURN, true, true});  // Alt+Enter
  config.keys.push_back({150, VK_RETURN, false, true});
  press(config, 2100, VK_RETURN, 0);
  bool fullscreenSeen = false;
  showtest::run(config, [&](const HeadlessFrame&) { fullscreenSeen |= Windowed == 0; });
  EXPECT_TRUE(fullscreenSeen);
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(headless_opened_addresses().size(), 1u);
}
