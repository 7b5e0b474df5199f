// The window and the display modes on the headless screen: the fullscreen mode search and
// the pixel-format detection, the fallbacks and messages when set-up or a switch fails,
// moving, resizing and minimising, the held-key table and the Alt+Enter shortcut, closing.
#include <gtest/gtest.h>

#include <algorithm>
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
  static int outer_width_for(int client) { return client + 2 * get_system_metrics(SM_CXFRAME); }
};

TEST_F(Display, StartsWindowedInTheDesktopsFormatOrFullscreenOnAPaletteDesktop) {
  ASSERT_TRUE(start());
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(DisplayDepth, 32);
  EXPECT_EQ(ClientRect.right, 400);
  EXPECT_EQ(ClientRect.bottom, 300);
  EXPECT_EQ(OuterWidth, outer_width_for(400));
  EXPECT_EQ(OuterHeight, 300 + 2 * get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
  EXPECT_TRUE(headless_stats().messages.empty());
  // Desktop depth and 16-bit green mask -> the display depth; 8 bits cannot show a window.
  for (const auto& [depth, green, shown, windowed] : {std::tuple{24, 0x07E0, 24, 1}, {16, 0x07E0, 16, 1},
                                                     {16, 0x03E0, 15, 1}, {8, 0x07E0, 32, 0}}) {
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
    EXPECT_EQ(OuterWidth, c.width);
    EXPECT_EQ(DisplayDepth, c.display_depth);
    EXPECT_EQ(ClientRect.right, 400);
    EXPECT_EQ(ClientRect.bottom, 300);
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
  const Rect before = WindowRect;
  ASSERT_EQ(before.left, 120);
  alt_enter();
  EXPECT_EQ(Windowed, 0);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 400);
  EXPECT_LT(headless_stats().cursor_count, 1) << "the cursor is counted down in fullscreen";
  alt_enter();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(headless_stats().mode_width, 0) << "the desktop mode is back";
  Rect now;
  get_window_rect(&now);
  EXPECT_EQ(std::vector<int>({now.left, now.top, now.right, now.bottom}),
            std::vector<int>({before.left, before.top, before.right, before.bottom}));
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
    EXPECT_GT(headless_live_surfaces(), 0);
    const int windowed = Windowed;
    const Rect before = WindowRect;
    const uint64_t devices = headless_stats().devices_created;
    const Messages messages = headless_stats().messages;
    release_display();
    release_display();
    EXPECT_EQ(Surfaces.primary, nullptr);
    EXPECT_EQ(Surfaces.back, nullptr);
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
    EXPECT_EQ(headless_stats().messages, messages);
  }
}

TEST_F(Display, MovingAndResizingKeepTheWindowOnScreen) {
  HeadlessConfig config;
  config.desktop_width = 1024;
  config.desktop_height = 768;
  ASSERT_TRUE(start(config));
  user(300, 200, false);
  EXPECT_EQ(ScreenRect.left, 300 + get_system_metrics(SM_CXFRAME));
  EXPECT_EQ(ScreenRect.top, 200 + get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
  user(600, 500, true);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(Surfaces.back_width, 600);
  EXPECT_EQ(ClientRect.right, 600 - outer_width_for(0));
  // Dragged off the top-left corner: pushed back to 0 at the next resize; reaching past the
  // right and bottom edges: shortened to end at the screen size - 2.
  for (const auto& [x, y, right, bottom] : {std::tuple{-50, -30, 0, 0}, {700, 500, 1022, 766}}) {
    user(x, y, false);
    user(600, 500, true);
    Rect r;
    get_window_rect(&r);
    EXPECT_EQ(r.left, std::max(x, 0));
    EXPECT_EQ(r.top, std::max(y, 0));
    if (right) {
      EXPECT_EQ(std::vector<int>({r.right, r.bottom}), std::vector<int>({right, bottom}));
    }
    EXPECT_EQ(Surfaces.back_width, OuterWidth);
    EXPECT_EQ(DisplayReady, 1);
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

TEST_F(Display, AltEnterNeverReachesTheHeldKeysButEnterAloneDoes) {
  ASSERT_TRUE(start());
  headless_post(WM_SYSKEYDOWN, VK_MENU, 1 | (1 << 29));
  alt_enter();
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  EXPECT_EQ(Windowed, 0);
  headless_post(WM_KEYDOWN, VK_RETURN, 1);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
}

// What the held-key table reads after each pump, for key messages posted before it. Alt
// and keys pressed with it come as system keys, as the keyboard sends them.
struct KeyMessage {
  uint32_t message, vk;
  bool alt, repeat;
};
std::vector<uint32_t> key_entries_after_pumps(uint32_t vk, const std::vector<std::vector<KeyMessage>>& pumps) {
  std::vector<uint32_t> seen;
  for (const std::vector<KeyMessage>& messages : pumps) {
    for (const KeyMessage& m : messages) {
      const bool up = m.message == WM_KEYUP || m.message == WM_SYSKEYUP;
      headless_post(m.message, m.vk, 1 | (m.alt ? 1 << 29 : 0) | (m.repeat || up ? 1 << 30 : 0) | (up ? 1u << 31 : 0));
    }
    pump_messages();
    seen.push_back(KeyState[vk]);
  }
  return seen;
}

TEST_F(Display, KeyUpsWithAltTapsBetweenFramesAndFocusLoss) {
  const KeyMessage left_down = {WM_KEYDOWN, VK_LEFT, false, false}, left_repeat = {WM_KEYDOWN, VK_LEFT, false, true},
                   left_up = {WM_KEYUP, VK_LEFT, false, false}, left_up_alt = {WM_SYSKEYUP, VK_LEFT, true, false},
                   alt_down = {WM_SYSKEYDOWN, VK_MENU, true, false}, alt_up = {WM_SYSKEYUP, VK_MENU, true, false},
                   focus_lost = {WM_ACTIVATE, 0, false, false}, focus_back = {WM_ACTIVATE, 1, false, false};
  struct Case {
    const char* what;
    std::vector<std::vector<KeyMessage>> pumps;
    std::vector<uint32_t> left;  // KeyState[VK_LEFT] after each pump
  };
  const Case cases[] = {
      {"held through auto-repeat, released", {{left_down}, {left_repeat, left_repeat}, {left_up}, {}}, {1, 1, 0, 0}},
      {"released while Alt is held", {{left_down}, {alt_down}, {left_up_alt}, {alt_up}, {}}, {1, 1, 0, 0, 0}},
      {"released with Alt in the pump that pressed Alt", {{left_down}, {alt_down, left_up_alt, alt_up}, {}}, {1, 0, 0}},
      // A tap between two frames is held for the one frame that follows, then released.
      {"tapped", {{left_down, left_up}, {}, {}}, {1, 0, 0}},
      {"tapped with Alt down", {{left_down, left_up_alt}, {}}, {1, 0}},
      {"tapped twice", {{left_down, left_up, left_down, left_up}, {}}, {1, 0}},
      {"tapped and pressed again", {{left_down, left_up, left_down}, {}, {left_up}}, {1, 1, 0}},
      // A release in the pass of an auto-repeat is not held back: only a fresh press is.
      {"released in the pass of a repeat", {{left_down}, {left_repeat, left_up}, {}}, {1, 0, 0}},
      // Another window takes the focus: the key counts as released, and its key-up after
      // the focus came back changes nothing.
      {"focus lost while held", {{left_down}, {focus_lost}, {focus_back}, {left_up}}, {1, 0, 0, 0}},
      {"focus lost in the pass of a tap", {{left_down, left_up, focus_lost}, {}}, {0, 0}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(start());
    EXPECT_EQ(key_entries_after_pumps(VK_LEFT, c.pumps), c.left) << c.what;
  }
  // The Alt key itself never enters the table, and a tapped Escape is seen.
  ASSERT_TRUE(start());
  EXPECT_EQ(key_entries_after_pumps(VK_MENU, {{alt_down}, {alt_up}}), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(key_entries_after_pumps(VK_ESCAPE, {{{WM_KEYDOWN, VK_ESCAPE, false, false}, {WM_KEYUP, VK_ESCAPE, false, false}}}),
            (std::vector<uint32_t>{1}));
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
  EXPECT_EQ(DisplayReady, 0);
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
  EXPECT_EQ(headless_stats().messages, (Messages{"cannot rebuild the display", "cannot rebuild the display",
                                                 "cannot rebuild the display"}))
      << "once for each failure that followed a success";
}

TEST_F(Display, AWindowOnAScreenLeftOfOrAboveTheMainOneStaysThere) {
  HeadlessConfig config;
  config.desktop_width = 1024;
  config.desktop_height = 768;
  config.more_screens = {{-1280, -200, 0, 824}};  // left of the main screen, reaching higher
  ASSERT_TRUE(start(config));
  struct Case {
    int x, y;
    Rect after;  // once resized to 600 x 500
  };
  const Case cases[] = {
      {-900, -100, {-900, -100, -300, 400}},
      {-1400, -250, {-1280, -200, -800, 250}},  // past the left and top of all screens: pushed back
      {700, 500, {700, 500, 1022, 822}},        // the bottom edge of all screens is 824
  };
  for (const Case& c : cases) {
    user(c.x, c.y, false);
    user(600, 500, true);
    Rect r;
    get_window_rect(&r);
    EXPECT_EQ(std::vector<int>({r.left, r.top, r.right, r.bottom}),
              std::vector<int>({c.after.left, c.after.top, c.after.right, c.after.bottom}))
        << c.x << ", " << c.y;
    EXPECT_EQ(DisplayReady, 1);
  }
}

}  // namespace
