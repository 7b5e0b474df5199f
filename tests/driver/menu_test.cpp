#include <gtest/gtest.h>

#include <vector>

#include "audio/audio_stream.h"
#include "display/window.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "player/player.h"
#include "support/show_runner.h"

namespace {

struct FrameState {
  uint32_t ms;
  int32_t tune, link, bar, playing;
  bool sounding;  // the player's own flag: a tune is rendered into the sound buffer
};

// Runs the show with scripted keys until `end_ms` and records the menu state of every frame.
std::vector<FrameState> run(std::vector<HeadlessKey> keys, uint32_t end_ms, uint32_t start_tick = 0,
                            int64_t focus_lost_at_ms = -1) {
  HeadlessConfig config;
  config.start_tick = start_tick;
  config.focus_lost_at_ms = focus_lost_at_ms;
  config.keys = std::move(keys);
  config.keys.push_back({end_ms, VK_ESCAPE, true, false});
  std::vector<FrameState> frames;
  EXPECT_EQ(showtest::run(config, [&](const HeadlessFrame&) {
              const auto* player = reinterpret_cast<const PlayerState*>(AudioStream.playerArea);
              frames.push_back({headless_elapsed_ms(), TuneNumber, LinkNumber, ActiveBar, MusicPlaying, player->playing != 0});
            }),
            0);
  return frames;
}

HeadlessKey hold(uint32_t ms, uint32_t vk) { return {ms, vk, true, false}; }
HeadlessKey release(uint32_t ms, uint32_t vk) { return {ms, vk, false, false}; }

// The values a field takes, each change once, in order.
template <typename F>
std::vector<int32_t> changes(const std::vector<FrameState>& frames, F field) {
  std::vector<int32_t> out;
  for (const FrameState& f : frames) {
    if (out.empty() || out.back() != field(f)) out.push_back(field(f));
  }
  return out;
}

}  // namespace

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
    auto frames = run({hold(0, c.key)}, 220 * 16 + 10);
    EXPECT_EQ(changes(frames, [](const FrameState& f) { return f.tune; }), c.tunes) << c.key;
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

TEST(Menu, EveryStepOntoATuneStartsItFromItsBeginning) {
  run({hold(0, VK_RIGHT), release(500, VK_RIGHT)}, 600);
  // Two steps (to tunes 2 and 3): each start made a fresh device and buffers.
  auto s = headless_sound_stats();
  EXPECT_EQ(s.devices_made, 3);
  EXPECT_EQ(s.devices_released, 3);
  EXPECT_EQ(s.buffers_released, 6);
  EXPECT_EQ(TuneNumber, 3);
}

TEST(Menu, LeftWinsOverRightAndUpTogglesEvery200Ms) {
  auto both = run({hold(0, VK_LEFT), hold(0, VK_RIGHT)}, 700);
  EXPECT_EQ(changes(both, [](const FrameState& f) { return f.tune; }), (std::vector<int32_t>{1, 14, 13, 12}));
  auto updown = run({hold(0, VK_UP), hold(0, VK_DOWN)}, 700);
  EXPECT_EQ(changes(updown, [](const FrameState& f) { return f.bar; }), (std::vector<int32_t>{0, 1, 0, 1}));
}

TEST(Menu, LinkBarStepsLinksAndLeavesTheMusicAlone) {
  auto frames = run({hold(250, VK_DOWN), release(300, VK_DOWN), hold(500, VK_LEFT), release(550, VK_LEFT),
                     hold(800, VK_RIGHT), release(850, VK_RIGHT), hold(1100, VK_RIGHT), release(1150, VK_RIGHT)},
                    1200);
  EXPECT_EQ(changes(frames, [](const FrameState& f) { return f.link; }), (std::vector<int32_t>{1, 17, 1, 2}));
  EXPECT_EQ(changes(frames, [](const FrameState& f) { return f.tune; }), (std::vector<int32_t>{1}));
  EXPECT_EQ(headless_sound_stats().devices_made, 1);
}

TEST(Menu, HoldingEnterOpensTheSelectedLinkEveryTwoSeconds) {
  run({hold(0, VK_RETURN)}, 6500);
  // Not in the first 2000 ms; then at 2020, 4040 and 6060 ms.
  auto opened = headless_opened_addresses();
  ASSERT_EQ(opened.size(), 3u);
  for (const std::string& a : opened) EXPECT_EQ(a, opened[0]);
  EXPECT_EQ(opened[0].rfind("https://", 0), 0u);
}

TEST(Menu, GuardsWorkAcrossATickCountWrap) {
  // The tick count wraps 100 ms into the show.
  auto frames = run({hold(0, VK_LEFT)}, 700, 0xffffffffu - 99);
  EXPECT_EQ(changes(frames, [](const FrameState& f) { return f.tune; }), (std::vector<int32_t>{1, 14, 13, 12}));
}

TEST(Menu, EnterInFullscreenSwitchesToWindowedFirst) {
  HeadlessConfig config;
  config.keys = {{100, VK_RETURN, true, true}, {150, VK_RETURN, false, true},  // Alt+Enter
                 hold(2100, VK_RETURN), {2200, VK_ESCAPE, true, false}};
  bool fullscreen_seen = false;
  showtest::run(config, [&](const HeadlessFrame&) { fullscreen_seen |= Windowed == 0; });
  EXPECT_TRUE(fullscreen_seen);
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(headless_opened_addresses().size(), 1u);
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
}

TEST(Menu, EnterHeldWhenAnotherWindowTakesTheFocusOpensTheLinkOnlyOnce) {
  // Enter held from the start opens the link at 2020 ms; the browser takes the focus at
  // 2100 ms, and Enter's release goes to the browser. The show no longer counts it held.
  run({hold(0, VK_RETURN)}, 6500, 0, 2100);
  EXPECT_EQ(headless_opened_addresses().size(), 1u);
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
}
