// The menu's keys in the running show: the tune bar's switch with the music it starts and
// stops, the link bar, and Enter opening the chosen link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/menu_texts.h"
#include "display/window.h"
#include "driver/menu.h"
#include "support/show_runner.h"

using showtest::changes;
using showtest::escape_at;
using showtest::FrameState;
using showtest::press;

// Keys held (from 0 ms: none acts in the first 200 ms, then one step every 220 ms) or
// tapped. Silence (14) plays nothing, whichever side it is entered from; every step onto a
// tune starts it afresh, with a sound device of its own.
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
  const Case cases[] = {
      {"Right held, round again", {{VK_RIGHT, 0, 0}}, 0, 220 * 16 + 10, &FrameState::tune,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1, 2, 3}, 16},
      {"Up and Down toggle the bar", {{VK_UP, 0, 0}, {VK_DOWN, 0, 0}}, 0, 700, &FrameState::bar, {0, 1, 0, 1}, 1},
      // The tick count wraps 100 ms into the show.
      {"Left, the ticks wrapping", {{VK_LEFT, 0, 0}}, 0xffffffffu - 99, 700, &FrameState::tune, {1, 14, 13, 12}, 3},
      // One sound device: the link bar leaves the music alone.
      {"the link bar wraps", {{VK_DOWN, 250, 50}, {VK_LEFT, 500, 50}, {VK_RIGHT, 800, 50}, {VK_RIGHT, 1100, 50}},
       0, 1200, &FrameState::link, {1, 17, 1, 2}, 1},
  };
  for (const Case& c : cases) {
    HeadlessConfig config = escape_at(c.end_ms);
    config.start_tick = c.start_tick;
    for (const Press& p : c.presses) press(config, p.at, p.key, p.held);
    const std::vector<FrameState> frames = showtest::run_recorded(config);
    EXPECT_EQ(changes(frames, c.field), c.values) << c.what;
    EXPECT_EQ(headless_sound_stats().devices_made, c.devices) << c.what;
    for (const FrameState& f : frames) {
      ASSERT_EQ(f.playing, f.tune == 14 ? 0 : 1) << c.what << ": tune " << f.tune << " at " << f.ms;
      ASSERT_EQ(f.sounding, f.tune != 14) << c.what << ": tune " << f.tune << " at " << f.ms;
    }
  }
}

// Held Enter opens the chosen link at 2020 ms and every 2020 ms after, until the browser
// takes the focus: Enter's release goes to the browser, and the show no longer counts it held.
// The show, made fullscreen with Alt+Enter at 100 ms, first switches to a window.
TEST(Menu, HoldingEnterOpensTheSelectedLinkEveryTwoSeconds) {
  for (int64_t focusLost : {-1, 2100}) {
    HeadlessConfig config = escape_at(6500);
    config.focus_lost_at_ms = focusLost;
    config.keys.push_back({100, VK_RETURN, true, true});
    config.keys.push_back({150, VK_RETURN, false, true});
    press(config, 200, VK_RETURN, 0);
    bool fullscreenSeen = false;
    showtest::run(config, [&](const HeadlessFrame&) { fullscreenSeen |= Windowed == 0; });
    const size_t times = focusLost < 0 ? 3 : 1;
    EXPECT_EQ(headless_opened_addresses(), std::vector<std::string>(times, LinkAddresses[1])) << focusLost;
    EXPECT_EQ(KeyState[VK_RETURN], focusLost < 0 ? 1u : 0u) << focusLost;
    EXPECT_TRUE(fullscreenSeen) << focusLost;
    EXPECT_EQ(Windowed, 1) << focusLost;
  }
}
