// The SDL backend's keyboard: SDL key events, pushed into SDL's queue on its dummy video
// driver, reach the held-key table and the Alt+Enter shortcut as the window messages the
// show expects.
#include <SDL.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "display/window.h"
#include "driver/show.h"

namespace {

struct Key {
  bool down;
  SDL_Keycode sym;
  uint16_t mod = KMOD_NONE;
  bool repeat = false;
};

// Pushes the events and pumps them through the show's message loop.
void keys(std::initializer_list<Key> events) {
  for (const Key& k : events) {
    SDL_Event e = {};
    e.type = e.key.type = k.down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = k.down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = k.repeat ? 1 : 0;
    e.key.keysym.sym = k.sym;
    e.key.keysym.mod = k.mod;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  }
  pump_messages();
}

TEST(SdlKeys, HeldKeysAndTheAltEnterShortcut) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, false));
  ASSERT_EQ(Windowed, 1);
  // A held arrow stays set through auto-repeat; letters come as their capitals' codes.
  keys({{true, SDLK_LEFT}, {true, SDLK_LEFT, KMOD_NONE, true}, {true, SDLK_a}});
  EXPECT_EQ(KeyState[VK_LEFT], 1u);
  EXPECT_EQ(KeyState['A'], 1u);
  keys({{false, SDLK_LEFT}});
  EXPECT_EQ(KeyState[VK_LEFT], 0u);
  // Alt+Enter switches to fullscreen (once, however long Enter is held) and back without
  // touching the Enter entry, also when Alt is let go before Enter and Enter repeats on.
  keys({{true, SDLK_LALT, KMOD_LALT}, {true, SDLK_RETURN, KMOD_LALT}, {true, SDLK_RETURN, KMOD_LALT, true}});
  EXPECT_EQ(Windowed, 0);
  keys({{false, SDLK_LALT}, {true, SDLK_RETURN, KMOD_NONE, true}});
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  keys({{false, SDLK_RETURN}, {true, SDLK_LALT, KMOD_LALT}, {true, SDLK_RETURN, KMOD_LALT}});
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  EXPECT_EQ(KeyState[VK_MENU], 0u);
  // Enter and Escape alone are ordinary keys.
  keys({{false, SDLK_RETURN}, {false, SDLK_LALT}, {true, SDLK_RETURN}, {true, SDLK_ESCAPE}});
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
  EXPECT_EQ(KeyState[VK_ESCAPE], 1u);
}

TEST(SdlKeys, ReleasesWithAltRepeatsAfterAltTapsAndFocusLoss) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, false));
  // Left down, Alt down, Left up (a system key-up, Alt being held), Alt up: released.
  keys({{true, SDLK_LEFT}, {true, SDLK_LALT, KMOD_LALT}});
  EXPECT_EQ(KeyState[VK_LEFT], 1u);
  keys({{false, SDLK_LEFT, KMOD_LALT}, {false, SDLK_LALT}});
  EXPECT_EQ(KeyState[VK_LEFT], 0u);
  // Left pressed with Alt held is a system key; held on after Alt is let go, its repeats
  // are ordinary key-downs.
  keys({{true, SDLK_LALT, KMOD_LALT}, {true, SDLK_LEFT, KMOD_LALT}});
  EXPECT_EQ(KeyState[VK_LEFT], 0u);
  keys({{false, SDLK_LALT}, {true, SDLK_LEFT, KMOD_NONE, true}});
  EXPECT_EQ(KeyState[VK_LEFT], 1u);
  keys({{false, SDLK_LEFT}});
  EXPECT_EQ(KeyState[VK_LEFT], 0u);
  // Pressed and released between two frames: held for the frame that follows, then not.
  keys({{true, SDLK_RIGHT}, {false, SDLK_RIGHT}});
  EXPECT_EQ(KeyState[VK_RIGHT], 1u);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RIGHT], 0u);
  // Another window takes the focus while Enter is held: Enter counts as released.
  keys({{true, SDLK_RETURN}});
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
  SDL_Event e = {};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
}

TEST(SdlWindow, BackFromFullscreenWhereAndAsLargeAsBefore) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, false));
  // Partly off the screen's left edge, as a user may leave it.
  Rect before;
  get_window_rect(&before);
  set_window_pos(-60, 100, before.right - before.left, before.bottom - before.top);
  pump_messages();
  get_window_rect(&before);
  ASSERT_EQ(before.left, -60);
  for (int i = 0; i < 2; ++i) {
    keys({{true, SDLK_LALT, KMOD_LALT}, {true, SDLK_RETURN, KMOD_LALT}, {false, SDLK_RETURN, KMOD_LALT},
          {false, SDLK_LALT}});
    pump_messages();
    pump_messages();
  }
  ASSERT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  Rect after;
  get_window_rect(&after);
  EXPECT_EQ(std::vector<int>({after.left, after.top, after.right, after.bottom}),
            std::vector<int>({before.left, before.top, before.right, before.bottom}));
  EXPECT_EQ(std::vector<int>({WindowRect.left, OuterWidth, ClientRect.right}),
            std::vector<int>({-60, before.right - before.left, before.right - before.left}));
}

}  // namespace
