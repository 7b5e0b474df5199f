// The window and the display modes on the headless screen: the fullscreen mode search and
// the pixel-format detection, the fallbacks and messages when set-up or a switch fails,
// moving, resizing and minimising, the held-key table and the Alt+Enter shortcut, closing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/present.h"
#include "display/surfaces.h"
#include "display/window.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "render/framebuffer.h"

namespace {

using Messages = std::vector<std::string>;

class Display : public ::testing::Test {
 protected:
  void TearDown() override { reset_show_state(); }

  // A fresh screen and show state, the window and display brought up as at start-up.
  bool start(const HeadlessConfig& config = {}) {
    headless_reset(config);
    reset_show_state();
    return init_display_window(400, 300, false);
  }

  // Sends Alt+Enter as the keyboard does: a system key with the Alt bit, through the pump.
  static void alt_enter() {
    headless_post(WM_SYSKEYDOWN, VK_RETURN, 1 | (1 << 29));
    headless_post(WM_SYSKEYUP, VK_RETURN, 1 | (1 << 29) | (3 << 30));
    pump_messages();
  }

  static int outer_width_for(int client) { return client + 2 * get_system_metrics(SM_CXFRAME); }
  static int outer_height_for(int client) {
    return client + 2 * get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU);
  }
};

TEST(CountBits, CountsEverySetBit) {
  static_assert(count_bits(0) == 0 && count_bits(0xFFFFFFFF) == 32);
  EXPECT_EQ(count_bits(0x07E0), 6);
  EXPECT_EQ(count_bits(0x03E0), 5);
  EXPECT_EQ(count_bits(0x80000001), 2);
}

TEST_F(Display, StartsWindowedWithAClientAreaOfTheFrameSize) {
  ASSERT_TRUE(start());
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(DisplayDepth, 32);
  EXPECT_EQ(ClientRect.right - ClientRect.left, 400);
  EXPECT_EQ(ClientRect.bottom - ClientRect.top, 300);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(OuterHeight, outer_height_for(300));
  EXPECT_EQ(Framebuffer.width, 400);
  EXPECT_EQ(Framebuffer.pixel_count, 120000);
  EXPECT_EQ(Framebuffer.byte_size, 480000);
  EXPECT_TRUE(headless_stats().messages.empty());
}

TEST_F(Display, TheDesktopDepthDecidesTheWindowedFormat) {
  for (int depth : {32, 24, 16}) {
    HeadlessConfig config;
    config.desktop_depth = depth;
    ASSERT_TRUE(start(config));
    EXPECT_EQ(Windowed, 1);
    EXPECT_EQ(DisplayDepth, depth);
  }
  HeadlessConfig config;
  config.desktop_depth = 16;
  config.green_mask_16 = 0x03E0;
  ASSERT_TRUE(start(config));
  EXPECT_EQ(DisplayDepth, 15) << "16 bits with a 5-bit green mask";

  // A palette desktop cannot show the frame in a window: the fullscreen mode takes over.
  config = {};
  config.desktop_depth = 8;
  ASSERT_TRUE(start(config));
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayDepth, 32);
}

TEST_F(Display, TheModeSearchTriesEveryDepthAtTheFrameSizeFirst) {
  struct Case {
    std::vector<HeadlessMode> modes;
    uint32_t green;
    int width, height, depth, display_depth;
  };
  const Case cases[] = {
      {{{400, 300, 32}, {400, 300, 16}}, 0x07E0, 400, 300, 32, 32},
      {{{800, 600, 32}, {400, 300, 15}}, 0x07E0, 400, 300, 15, 15},
      {{{800, 600, 32}, {400, 300, 24}, {400, 300, 16}}, 0x07E0, 400, 300, 24, 24},
      // No depth at 400 x 300: twice the frame size, its depth told by the green mask.
      {{{800, 600, 16}}, 0x07E0, 800, 600, 16, 16},
      {{{800, 600, 16}}, 0x03E0, 800, 600, 16, 15},
      {{{640, 480, 32}, {800, 600, 24}, {800, 600, 16}}, 0x07E0, 800, 600, 24, 24},
  };
  for (const Case& c : cases) {
    HeadlessConfig config;
    config.fail_windowed = true;
    config.modes = c.modes;
    config.green_mask_16 = c.green;
    ASSERT_TRUE(start(config));
    EXPECT_EQ(Windowed, 0);
    EXPECT_EQ(headless_stats().mode_width, c.width);
    EXPECT_EQ(headless_stats().mode_height, c.height);
    EXPECT_EQ(headless_stats().mode_depth, c.depth);
    EXPECT_EQ(OuterWidth, c.width);
    EXPECT_EQ(OuterHeight, c.height);
    EXPECT_EQ(DisplayDepth, c.display_depth);
    EXPECT_EQ(ClientRect.right, 400);
    EXPECT_EQ(ClientRect.bottom, 300);
    EXPECT_TRUE(headless_stats().exclusive);
  }
}

TEST_F(Display, NeitherModeGivesCannotInitScreenAndExitCodeZero) {
  HeadlessConfig config;
  config.fail_windowed = true;
  config.modes = {{640, 480, 32}, {800, 600, 8}};
  headless_reset(config);
  reset_show_state();
  const int code = headless_run([] {
    run_show();
    exit_process(0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(headless_stats().messages, Messages{"cannot init screen"});
  EXPECT_EQ(Framebuffer.pixels, nullptr) << "no asset prepared";
  EXPECT_EQ(headless_stats().presented, 0u);
}

TEST_F(Display, NoWindowGivesCannotInitScreen) {
  HeadlessConfig config;
  config.fail_window = true;
  headless_reset(config);
  reset_show_state();
  EXPECT_EQ(headless_run([] {
              run_show();
              exit_process(0);
            }),
            0);
  EXPECT_EQ(headless_stats().messages, Messages{"cannot init screen"});
}

TEST_F(Display, AMissingShortcutTableIsReportedAndTheShowGoesOn) {
  HeadlessConfig config;
  config.fail_shortcut = true;
  ASSERT_TRUE(start(config));
  EXPECT_EQ(headless_stats().messages, Messages{"init for keyboard-shortcut failed"});
  EXPECT_EQ(DisplayReady, 1);
  alt_enter();
  EXPECT_EQ(Windowed, 1) << "no shortcut, no switch";
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
}

TEST_F(Display, AltEnterSwitchesToFullscreenAndBackWithOneDeviceObject) {
  ASSERT_TRUE(start());
  headless_user_move(120, 80);
  pump_messages();
  const Rect before = WindowRect;
  ASSERT_EQ(before.left, 120);

  alt_enter();
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 400);
  EXPECT_LT(headless_stats().cursor_count, 1) << "the cursor is counted down in fullscreen";
  EXPECT_EQ(KeyState[VK_RETURN], 0u) << "Alt+Enter never sets the Enter entry";

  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 0) << "the desktop mode is back";
  Rect now;
  get_window_rect(&now);
  EXPECT_EQ(now.left, before.left);
  EXPECT_EQ(now.top, before.top);
  EXPECT_EQ(now.right, before.right);
  EXPECT_EQ(now.bottom, before.bottom);
  EXPECT_EQ(headless_stats().devices_created, 1u);
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  EXPECT_TRUE(headless_stats().messages.empty());
}

TEST_F(Display, AFailedSwitchReportsAndGoesBackToTheOldMode) {
  ASSERT_TRUE(start());
  headless_config().fail_fullscreen = true;
  alt_enter();
  EXPECT_EQ(headless_stats().messages, Messages{"window-switching failed"});
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);

  // The quit request of the report is dropped: the show goes on and presents.
  pump_messages();
  std::vector<uint32_t> pixels(400 * 300, 0x00406080);
  const FramebufferRecord frame = {400, 300, 120000, 480000, pixels.data()};
  present_frame(frame);
  EXPECT_EQ(headless_stats().presented, 1u);
  EXPECT_EQ(headless_last_frame().pixels[0], 0x00406080u);
}

TEST_F(Display, AFailedSwitchAndAFailedRestoreEndTheProcess) {
  ASSERT_TRUE(start());
  headless_config().fail_fullscreen = true;
  headless_config().fail_windowed = true;
  const int code = headless_run(alt_enter);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(headless_stats().messages, (Messages{"window-switching failed", "window-restore failed"}));
  EXPECT_EQ(DisplayReady, 0) << "released before the end";
}

TEST_F(Display, AFailedModeSwitchFromFullscreenComesBackToFullscreen) {
  HeadlessConfig config;
  config.fail_windowed = true;
  ASSERT_TRUE(start(config));
  ASSERT_EQ(Windowed, 0);
  // Windowed fails, so Alt+Enter reports and returns to the fullscreen mode.
  alt_enter();
  EXPECT_EQ(headless_stats().messages, Messages{"window-switching failed"});
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayReady, 1);
  // Now the modes go too: the way back fails as well.
  headless_config().fail_mode_switch = true;
  EXPECT_EQ(headless_run(alt_enter), 0);
  EXPECT_EQ(headless_stats().messages.back(), "window-restore failed");
}

TEST_F(Display, AltEnterWhileTheDisplayIsNotReadyDoesNothing) {
  ASSERT_TRUE(start());
  release_display();
  const uint64_t devices = headless_stats().devices_created;
  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(Surfaces.back, nullptr);
  EXPECT_EQ(headless_stats().devices_created, devices);
  EXPECT_TRUE(headless_stats().messages.empty());
}

TEST_F(Display, ReleasingTwiceIsHarmless) {
  ASSERT_TRUE(start());
  const int live = headless_live_surfaces();
  EXPECT_GT(live, 0);
  release_display();
  release_display();
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(Surfaces.primary, nullptr);
  EXPECT_EQ(Surfaces.back, nullptr);
  EXPECT_EQ(headless_live_surfaces(), 0);
  // Fullscreen chains too: the attached back buffer goes with its primary.
  HeadlessConfig config;
  config.fail_windowed = true;
  ASSERT_TRUE(start(config));
  release_display();
  release_display();
  EXPECT_EQ(headless_live_surfaces(), 0);
  EXPECT_EQ(headless_stats().mode_width, 0);
}

TEST_F(Display, MovingRefreshesTheRectangles) {
  ASSERT_TRUE(start());
  headless_user_move(300, 200);
  pump_messages();
  EXPECT_EQ(WindowRect.left, 300);
  EXPECT_EQ(WindowRect.top, 200);
  EXPECT_EQ(ScreenRect.left, 300 + get_system_metrics(SM_CXFRAME));
  EXPECT_EQ(ScreenRect.top, 200 + get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
  EXPECT_EQ(ScreenRect.right - ScreenRect.left, 400);
  EXPECT_EQ(ClientRect.left, 0);
  EXPECT_EQ(ClientRect.right, 400);
}

TEST_F(Display, ResizingRebuildsAtTheNewSizeAndKeepsTheWindowOnScreen) {
  HeadlessConfig config;
  config.desktop_width = 1024;
  config.desktop_height = 768;
  ASSERT_TRUE(start(config));
  headless_user_size(600, 500);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(OuterWidth, 600);
  EXPECT_EQ(OuterHeight, 500);
  EXPECT_EQ(Surfaces.back_width, 600);
  EXPECT_EQ(ClientRect.right, 600 - outer_width_for(0));

  // Dragged partly off the top-left corner: pushed back to 0 at the next resize.
  headless_user_move(-50, -30);
  pump_messages();
  headless_user_size(600, 500);
  pump_messages();
  Rect r;
  get_window_rect(&r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(DisplayReady, 1);

  // Reaching past the right and bottom edges: shortened to end at the screen size - 2.
  headless_user_move(700, 500);
  pump_messages();
  headless_user_size(600, 500);
  pump_messages();
  get_window_rect(&r);
  EXPECT_EQ(r.right, 1024 - 2);
  EXPECT_EQ(r.bottom, 768 - 2);
  EXPECT_EQ(OuterWidth, 1022 - 700);
  EXPECT_EQ(Surfaces.back_width, OuterWidth);
  EXPECT_EQ(DisplayReady, 1);
}

TEST_F(Display, AMinimisedWindowLeavesTheDisplayUntilItIsRestored) {
  ASSERT_TRUE(start());
  DisplaySurface* const back = Surfaces.back;
  const Rect window = WindowRect;
  headless_user_minimise();
  // The place a minimised window reports is far off the screen.
  headless_user_move(-32000, -32000);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Surfaces.back, back) << "nothing rebuilt";
  EXPECT_EQ(WindowRect.left, window.left);
  EXPECT_EQ(OuterWidth, outer_width_for(400));

  // Restored: back at its place, and the size message rebuilds the display.
  headless_user_move(window.left, window.top);
  headless_post(WM_SIZE, 0, 0);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(OuterHeight, outer_height_for(300));
  EXPECT_EQ(ClientRect.right, 400);
}

TEST_F(Display, MoveAndSizeWhileTheDisplayIsDownAreIgnored) {
  ASSERT_TRUE(start());
  release_display();
  const Rect before = WindowRect;
  headless_user_move(50, 60);
  headless_user_size(700, 500);
  pump_messages();
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(WindowRect.left, before.left);
  EXPECT_EQ(Surfaces.back, nullptr);
}

TEST_F(Display, LostSurfacesComeBackWithTheNextSwitch) {
  ASSERT_TRUE(start());
  std::vector<uint32_t> pixels(400 * 300, 0x00102030);
  const FramebufferRecord frame = {400, 300, 120000, 480000, pixels.data()};
  headless_lose_surfaces();
  present_frame(frame);
  EXPECT_EQ(headless_stats().presented, 0u);
  alt_enter();
  present_frame(frame);
  EXPECT_EQ(headless_stats().presented, 1u);
  EXPECT_EQ(Windowed, 0);
}

// ---- keys -----------------------------------------------------------------------------

TEST_F(Display, AHeldKeyStaysSetThroughAutoRepeat) {
  ASSERT_TRUE(start());
  headless_post(WM_KEYDOWN, VK_LEFT, 1);
  pump_messages();
  EXPECT_EQ(KeyState[VK_LEFT], 1u);
  for (int i = 0; i < 5; ++i) {
    headless_post(WM_KEYDOWN, VK_LEFT, 1 | (1 << 30));  // auto-repeat
    pump_messages();
    EXPECT_EQ(KeyState[VK_LEFT], 1u);
  }
  headless_post(WM_KEYDOWN, 'A', 1);
  headless_post(WM_KEYUP, VK_LEFT, 1 | (3 << 30));
  pump_messages();
  EXPECT_EQ(KeyState[VK_LEFT], 0u);
  EXPECT_EQ(KeyState['A'], 1u) << "every key has its entry";
}

TEST_F(Display, EnterAloneSetsItsEntryAltEnterDoesNot) {
  ASSERT_TRUE(start());
  alt_enter();
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  headless_post(WM_SYSKEYDOWN, VK_MENU, 1 | (1 << 29));
  pump_messages();
  EXPECT_EQ(KeyState[VK_MENU], 0u) << "Alt is a system key";
  headless_post(WM_KEYDOWN, VK_RETURN, 1);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
}

TEST_F(Display, ReportErrorsQuitRequestIsTakenAndDropped) {
  ASSERT_TRUE(start());
  report_error("window-switching failed");
  EXPECT_EQ(headless_stats().quit_posted, 1);
  EXPECT_EQ(headless_run(pump_messages), -1) << "the pump returns, the show goes on";
  EXPECT_FALSE(peek_message());
}

// ---- the whole show -------------------------------------------------------------------

TEST_F(Display, TheShowRunsUntilEscapeAndEndsWithExitCodeZero) {
  HeadlessConfig config;
  config.keys = {{300, VK_ESCAPE, true, false}};
  headless_reset(config);
  reset_show_state();
  int result = -2;
  const int code = headless_run([&] {
    result = run_show();
    exit_process(0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(result, -2) << "the close handling ends the process inside close_window";
  EXPECT_GE(headless_stats().presented, 15u);
  EXPECT_EQ(Framebuffer.pixels, nullptr) << "the show buffers were freed first";
  EXPECT_TRUE(headless_stats().messages.empty());
}

TEST_F(Display, AltEnterDuringTheShowAndClosingTheWindow) {
  HeadlessConfig config;
  config.keys = {{100, VK_MENU, true, true}, {120, VK_RETURN, true, true}, {140, VK_RETURN, false, true},
                 {160, VK_MENU, false, true}, {300, VK_MENU, true, true}, {320, VK_RETURN, true, true}};
  config.close_at_ms = 500;
  headless_reset(config);
  std::vector<int> windowed;
  headless_set_present_hook([&](const HeadlessFrame& f) {
    if (windowed.empty() || windowed.back() != Windowed) {
      windowed.push_back(Windowed);
      EXPECT_EQ(f.width, 400);
    }
  });
  reset_show_state();
  const int code = headless_run([] {
    run_show();
    exit_process(0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(windowed, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  EXPECT_NE(Framebuffer.pixels, nullptr) << "closing skips the rest of the shutdown";
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(headless_stats().devices_created, 1u);
}

}  // namespace
