// The window and the display modes on the headless screen: the fullscreen mode search and
// the pixel-format detection, the fallbacks and messages when set-up or a switch fails,
// moving, resizing and minimising, the Alt+Enter shortcut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/surfaces.h"
#include "display/window.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "render/framebuffer.h"
#include "support/show_runner.h"

namespace {

using Messages = std::vector<std::string>;

class Display : public ::testing::Test {
 protected:
  void TearDown() override { reset_show_state(); }

  // A fresh screen and show state, the window and display brought up as at start-up.
  static bool start(const HeadlessConfig& config = {}) {
    headless_reset(config);
    reset_show_state();
    return init_display_window(400, 300, false);
  }
  static HeadlessConfig fullscreen_only(std::vector<HeadlessMode> modes = {{400, 300, 32}}, uint32_t green = 0x07E0) {
    HeadlessConfig config;
    config.fail_windowed = true;
    config.modes = std::move(modes);
    config.green_mask_16 = green;
    return config;
  }
  // Sends Alt+Enter as the keyboard does: a system key with the Alt bit, through the pump.
  static void alt_enter() {
    headless_post(WM_SYSKEYDOWN, VK_RETURN, 1 | (1 << 29));
    headless_post(WM_SYSKEYUP, VK_RETURN, 1 | (1 << 29) | (3 << 30));
    pump_messages();
  }
  static void user(int x, int y, bool size) {
    size ? headless_user_size(x, y) : headless_user_move(x, y);
    pump_messages();
  }
  static std::vector<int> window_rect() {
    Rect r;
    get_window_rect(&r);
    return {r.left, r.top, r.right, r.bottom};
  }
  static int outer_width_for(int client) { return client + 2 * get_system_metrics(SM_CXFRAME); }
};

TEST_F(Display, TheModeSearchTriesEveryDepthAtTheFrameSizeFirst) {
  // Fullscreen: every depth at the frame size first, then twice the frame size.
  struct Case {
    std::vector<HeadlessMode> modes;
    uint32_t green;
    int width, depth, display_depth;
  };
  const Case cases[] = {
      {{{800, 600, 32}, {400, 300, 15}}, 0x07E0, 400, 15, 15},
      {{{800, 600, 32}, {400, 300, 24}, {400, 300, 16}}, 0x07E0, 400, 24, 24},
      {{{800, 600, 16}}, 0x03E0, 800, 16, 15},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(start(fullscreen_only(c.modes, c.green)));
    EXPECT_EQ(headless_stats().mode_width, c.width);
    EXPECT_EQ(headless_stats().mode_depth, c.depth);
    EXPECT_EQ(DisplayDepth, c.display_depth);
  }
}

TEST_F(Display, StartUpFailures) {
  // Neither mode, or no window at all: reported, exit code 1, nothing prepared or shown.
  HeadlessConfig no_window;
  no_window.fail_window = true;
  for (const HeadlessConfig& config : {fullscreen_only({{640, 480, 32}, {800, 600, 8}}), no_window}) {
    EXPECT_EQ(showtest::run(config), 1);
    EXPECT_EQ(headless_stats().messages, Messages{"cannot init screen"});
    EXPECT_EQ(Framebuffer.pixels, nullptr) << "no asset prepared";
    EXPECT_EQ(headless_stats().presented, 0u);
    EXPECT_EQ(MusicPlaying, 0) << "no tune started";
  }
}

TEST_F(Display, AltEnterSwitchesBackOnAFailureAndAFailedRestoreEndsTheProcess) {
  ASSERT_TRUE(start());
  user(120, 80, false);
  const std::vector<int> before = window_rect();
  alt_enter();
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(headless_stats().mode_width, 400);
  EXPECT_LT(headless_stats().cursor_count, 1) << "the cursor is counted down in fullscreen";
  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(headless_stats().mode_width, 0) << "the desktop mode is back";
  EXPECT_EQ(window_rect(), before);
  EXPECT_EQ(headless_stats().devices_created, 1u);
  EXPECT_TRUE(headless_stats().messages.empty());
  // Fullscreen fails: reported, back in the window. The report's quit request is dropped
  // by the pump: the show goes on.
  headless_config().fail_fullscreen = true;
  alt_enter();
  EXPECT_EQ(headless_stats().messages, Messages{"window-switching failed"});
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().quit_posted, 1);
  EXPECT_EQ(headless_run(pump_messages), -1);
  headless_config().fail_windowed = true;
  EXPECT_EQ(headless_run(alt_enter), 1) << "the process ends on the reported failure";
  EXPECT_EQ(headless_stats().messages,
            (Messages{"window-switching failed", "window-switching failed", "window-restore failed"}));
  EXPECT_EQ(DisplayReady, 0) << "released before the end";
}

TEST_F(Display, AMinimisedWindowLeavesTheDisplayUntilItIsRestored) {
  ASSERT_TRUE(start());
  DisplaySurface* const back = Surfaces.back;
  const Rect window = WindowRect;
  headless_user_minimise();
  user(-32000, -32000, false);  // where a minimised window reports itself: far off the screen
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Surfaces.back, back) << "nothing rebuilt";
  EXPECT_EQ(WindowRect.left, window.left);
  // Restored: back at its place, and the size message rebuilds the display.
  headless_user_move(window.left, window.top);
  headless_post(WM_SIZE, 0, 0);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(ClientRect.right, 400);
  EXPECT_EQ(ClientRect.bottom, 300);
}

TEST_F(Display, AFailedRebuildIsReportedOnceAndTriedAgain) {
  ASSERT_TRUE(start());
  headless_config().fail_windowed = true;
  user(600, 450, true);
  user(620, 460, true);
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(headless_stats().messages, Messages{"cannot rebuild the display"}) << "reported once";
  // The next resize tries again and succeeds.
  headless_config().fail_windowed = false;
  user(640, 480, true);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Surfaces.back_width, 640);
  headless_config().fail_windowed = true;
  user(600, 450, true);
  EXPECT_EQ(headless_stats().messages, Messages(2, "cannot rebuild the display"))
      << "once for each failure that followed a success";
}

}  // namespace
