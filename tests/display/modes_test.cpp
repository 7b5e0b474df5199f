// The window and the display modes on the headless screen: the fullscreen mode search and
// the pixel-format detection, the fallbacks and messages when set-up or a switch fails,
// moving, resizing and minimising, the held-key table and the Alt+Enter shortcut, closing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/present.h"
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

TEST_F(Display, StartsWindowedInTheDesktopsFormatOrFullscreenOnAPaletteDesktop) {
  ASSERT_TRUE(start());
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(ClientRect.right, 400);
  EXPECT_EQ(ClientRect.bottom, 300);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(OuterHeight, 300 + 2 * get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
  EXPECT_TRUE(headless_stats().messages.empty());
  // Desktop depth and 16-bit green mask -> the display depth; 8 bits cannot show a window.
  for (const auto& [depth, green, shown, windowed] : {std::tuple{32, 0x07E0, 32, 1}, {24, 0x07E0, 24, 1},
                                                     {16, 0x07E0, 16, 1}, {16, 0x03E0, 15, 1}, {8, 0x07E0, 32, 0}}) {
    HeadlessConfig config;
    config.desktop_depth = depth;
    config.green_mask_16 = static_cast<uint32_t>(green);
    ASSERT_TRUE(start(config));
    EXPECT_EQ(DisplayDepth, shown) << depth;
    EXPECT_EQ(Windowed, windowed) << depth;
  }
}

TEST_F(Display, TheModeSearchTriesEveryDepthAtTheFrameSizeFirst) {
  struct Case {
    std::vector<HeadlessMode> modes;
    uint32_t green;
    int width, depth, display_depth;
  };
  const Case cases[] = {
      {{{400, 300, 32}, {400, 300, 16}}, 0x07E0, 400, 32, 32},
      {{{800, 600, 32}, {400, 300, 15}}, 0x07E0, 400, 15, 15},
      {{{800, 600, 32}, {400, 300, 24}, {400, 300, 16}}, 0x07E0, 400, 24, 24},
      // No depth at 400 x 300: twice the frame size, its depth told by the green mask.
      {{{800, 600, 16}}, 0x07E0, 800, 16, 16},
      {{{800, 600, 16}}, 0x03E0, 800, 16, 15},
      {{{640, 480, 32}, {800, 600, 24}, {800, 600, 16}}, 0x07E0, 800, 24, 24},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(start(fullscreen_only(c.modes, c.green)));
    EXPECT_EQ(Windowed, 0);
    EXPECT_TRUE(headless_stats().exclusive);
    EXPECT_EQ(headless_stats().mode_width, c.width);
    EXPECT_EQ(headless_stats().mode_height, c.width * 3 / 4);
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
  // No shortcut table: reported, and the show goes on without Alt+Enter.
  HeadlessConfig config;
  config.fail_shortcut = true;
  ASSERT_TRUE(start(config));
  EXPECT_EQ(headless_stats().messages, Messages{"init for keyboard-shortcut failed"});
  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
}

TEST_F(Display, AltEnterSwitchesToFullscreenAndBackWithOneDeviceObject) {
  ASSERT_TRUE(start());
  user(120, 80, false);
  const std::vector<int> before = window_rect();
  ASSERT_EQ(before[0], 120);
  alt_enter();
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 400);
  EXPECT_LT(headless_stats().cursor_count, 1) << "the cursor is counted down in fullscreen";
  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 0) << "the desktop mode is back";
  EXPECT_EQ(window_rect(), before);
  EXPECT_EQ(headless_stats().devices_created, 1u);
  EXPECT_TRUE(headless_stats().messages.empty());
}

TEST_F(Display, AFailedSwitchGoesBackAndAFailedRestoreEndsTheProcess) {
  ASSERT_TRUE(start());
  headless_config().fail_fullscreen = true;
  alt_enter();
  EXPECT_EQ(headless_stats().messages, Messages{"window-switching failed"});
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  // The report's quit request is dropped by the pump: the show goes on and presents.
  EXPECT_EQ(headless_stats().quit_posted, 1);
  EXPECT_EQ(headless_run(pump_messages), -1);
  std::vector<uint32_t> pixels(400 * 300, 0x00406080);
  present_frame({400, 300, 120000, 480000, pixels.data()});
  EXPECT_EQ(headless_last_frame().pixels[0], 0x00406080u);
  headless_config().fail_windowed = true;
  EXPECT_EQ(headless_run(alt_enter), 1) << "the process ends on the reported failure";
  EXPECT_EQ(headless_stats().messages,
            (Messages{"window-switching failed", "window-switching failed", "window-restore failed"}));
  EXPECT_EQ(DisplayReady, 0) << "released before the end";

  // From fullscreen: windowed fails, back to fullscreen; then the modes go too.
  ASSERT_TRUE(start(fullscreen_only()));
  alt_enter();
  EXPECT_EQ(headless_stats().messages, Messages{"window-switching failed"});
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayReady, 1);
  headless_config().fail_mode_switch = true;
  EXPECT_EQ(headless_run(alt_enter), 1);
  EXPECT_EQ(headless_stats().messages.back(), "window-restore failed");
}

TEST_F(Display, WhileTheDisplayIsDownAltEnterMoveAndSizeDoNothingAndReleasingIsHarmless) {
  for (const HeadlessConfig& config : {HeadlessConfig{}, fullscreen_only()}) {
    ASSERT_TRUE(start(config));
    const int windowed = Windowed;
    const Rect before = WindowRect;
    const uint64_t devices = headless_stats().devices_created;
    release_display();
    release_display();
    EXPECT_EQ(Surfaces.primary, nullptr);
    EXPECT_EQ(headless_live_surfaces(), 0) << "a fullscreen chain's back buffer goes with its primary";
    EXPECT_EQ(headless_stats().mode_width, 0);
    alt_enter();
    user(50, 60, false);
    user(700, 500, true);
    EXPECT_EQ(Windowed, windowed);
    EXPECT_EQ(DisplayReady, 0);
    EXPECT_EQ(Surfaces.back, nullptr);
    EXPECT_EQ(WindowRect.left, before.left);
    EXPECT_EQ(headless_stats().devices_created, devices);
    EXPECT_TRUE(headless_stats().messages.empty());
  }
}

// Moved, then resized to 600 x 500: a window dragged past the left or top of all screens is
// pushed back to their edge, one reaching past the right or bottom is shortened to end 2
// pixels inside; a screen left of and above the main one counts like the main one.
TEST_F(Display, MovingAndResizingKeepTheWindowOnTheScreens) {
  struct Case {
    int x, y;
    std::vector<int> after;
  };
  struct Desktop {
    std::vector<Rect> more_screens;
    std::vector<Case> cases;
  };
  const Desktop desktops[] = {
      {{}, {{300, 200, {300, 200, 900, 700}}, {-50, -30, {0, 0, 550, 470}}, {700, 500, {700, 500, 1022, 766}}}},
      {{{-1280, -200, 0, 824}},
       {{-900, -100, {-900, -100, -300, 400}}, {-1400, -250, {-1280, -200, -800, 250}}, {700, 500, {700, 500, 1022, 822}}}},
  };
  for (const Desktop& d : desktops) {
    HeadlessConfig config;
    config.desktop_width = 1024;
    config.desktop_height = 768;
    config.more_screens = d.more_screens;
    ASSERT_TRUE(start(config));
    for (const Case& c : d.cases) {
      user(c.x, c.y, false);
      user(600, 500, true);
      EXPECT_EQ(window_rect(), c.after) << c.x << ", " << c.y;
      EXPECT_EQ(ScreenRect.left, c.after[0] + get_system_metrics(SM_CXFRAME));
      EXPECT_EQ(ScreenRect.top, c.after[1] + get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
      EXPECT_EQ(DisplayReady, 1);
      EXPECT_EQ(Surfaces.back_width, OuterWidth);
      EXPECT_EQ(ClientRect.right, OuterWidth - outer_width_for(0));
    }
  }
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
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  // Restored: back at its place, and the size message rebuilds the display.
  headless_user_move(window.left, window.top);
  headless_post(WM_SIZE, 0, 0);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(ClientRect.right, 400);
  EXPECT_EQ(ClientRect.bottom, 300);
}

// What the held-key table reads after each pump, for key messages posted before it. Alt
// and keys pressed with it come as system keys, as the keyboard sends them.
TEST_F(Display, HeldKeysThroughRepeatsAltTapsBetweenFramesAndFocusLoss) {
  struct KeyMessage {
    uint32_t message, vk;
    bool alt = false, repeat = false;
  };
  const KeyMessage left_down = {WM_KEYDOWN, VK_LEFT}, left_repeat = {WM_KEYDOWN, VK_LEFT, false, true},
                   left_up = {WM_KEYUP, VK_LEFT}, left_up_alt = {WM_SYSKEYUP, VK_LEFT, true},
                   alt_down = {WM_SYSKEYDOWN, VK_MENU, true}, alt_up = {WM_SYSKEYUP, VK_MENU, true},
                   enter_alt = {WM_SYSKEYDOWN, VK_RETURN, true}, enter_alt_up = {WM_SYSKEYUP, VK_RETURN, true},
                   focus_lost = {WM_ACTIVATE, 0}, focus_back = {WM_ACTIVATE, 1};
  struct Case {
    const char* what;
    uint32_t vk;
    std::vector<std::vector<KeyMessage>> pumps;
    std::vector<uint32_t> held;  // KeyState[vk] after each pump
  };
  const Case cases[] = {
      {"held through auto-repeat, released", VK_LEFT, {{left_down}, {left_repeat, left_repeat}, {left_up}, {}}, {1, 1, 0, 0}},
      {"released while Alt is held", VK_LEFT, {{left_down}, {alt_down}, {left_up_alt}, {alt_up}, {}}, {1, 1, 0, 0, 0}},
      {"released with Alt in the pump that pressed Alt", VK_LEFT, {{left_down}, {alt_down, left_up_alt, alt_up}, {}}, {1, 0, 0}},
      // A tap between two frames is held for the one frame that follows, then released.
      {"tapped", VK_LEFT, {{left_down, left_up}, {}, {}}, {1, 0, 0}},
      {"tapped with Alt down", VK_LEFT, {{left_down, left_up_alt}, {}}, {1, 0}},
      {"tapped twice", VK_LEFT, {{left_down, left_up, left_down, left_up}, {}}, {1, 0}},
      {"tapped and pressed again", VK_LEFT, {{left_down, left_up, left_down}, {}, {left_up}}, {1, 1, 0}},
      {"Escape tapped", VK_ESCAPE, {{{WM_KEYDOWN, VK_ESCAPE}, {WM_KEYUP, VK_ESCAPE}}, {}}, {1, 0}},
      // A release in the pass of an auto-repeat is not held back: only a fresh press is.
      {"released in the pass of a repeat", VK_LEFT, {{left_down}, {left_repeat, left_up}, {}}, {1, 0, 0}},
      // Another window takes the focus: the key counts as released, and its key-up after
      // the focus came back changes nothing.
      {"focus lost while held", VK_LEFT, {{left_down}, {focus_lost}, {focus_back}, {left_up}}, {1, 0, 0, 0}},
      {"focus lost in the pass of a tap", VK_LEFT, {{left_down, left_up, focus_lost}, {}}, {0, 0}},
      {"Alt never enters the table", VK_MENU, {{alt_down}, {alt_up}}, {0, 0}},
      {"Alt+Enter never does, Enter alone does", VK_RETURN, {{alt_down, enter_alt, enter_alt_up}, {{WM_KEYDOWN, VK_RETURN}}}, {0, 1}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(start());
    std::vector<uint32_t> held;
    for (const std::vector<KeyMessage>& messages : c.pumps) {
      for (const KeyMessage& m : messages) {
        const bool up = m.message == WM_KEYUP || m.message == WM_SYSKEYUP;
        headless_post(m.message, m.vk, 1 | (m.alt ? 1 << 29 : 0) | (m.repeat || up ? 1 << 30 : 0) | (up ? 1u << 31 : 0));
      }
      pump_messages();
      held.push_back(KeyState[c.vk]);
    }
    EXPECT_EQ(held, c.held) << c.what;
  }
  EXPECT_EQ(Windowed, 0) << "the Alt+Enter above switched";
}

TEST_F(Display, AFailedRebuildIsReportedOnceAndTriedAgain) {
  ASSERT_TRUE(start());
  headless_config().fail_windowed = true;
  user(600, 450, true);
  EXPECT_EQ(DisplayReady, 0);
  user(620, 460, true);
  EXPECT_EQ(DisplayReady, 0);
  EXPECT_EQ(headless_stats().messages, Messages{"cannot rebuild the display"}) << "reported once";
  // The next resize tries again and succeeds.
  headless_config().fail_windowed = false;
  user(640, 480, true);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Surfaces.back_width, 640);
  // So does the size message of a restore, and Alt+Enter (to fullscreen).
  headless_config().fail_windowed = true;
  user(600, 450, true);
  headless_config().fail_windowed = false;
  headless_user_minimise();
  headless_post(WM_SIZE, 0, 0);
  pump_messages();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Windowed, 1);
  headless_config().fail_windowed = true;
  user(610, 450, true);
  EXPECT_EQ(DisplayReady, 0);
  alt_enter();
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(headless_stats().messages, Messages(3, "cannot rebuild the display"))
      << "once for each failure that followed a success";
}

}  // namespace
