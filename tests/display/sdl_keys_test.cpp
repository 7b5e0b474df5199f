// The SDL backend's keyboard: SDL key events, pushed into SDL's queue on its dummy video
// driver, reach the held-key table and the Alt+Enter shortcut as the window messages the
// show expects.
#include <SDL.h>
#include <gtest/gtest.h>

#include "display/window.h"
#include "driver/show.h"

namespace {

void push_key(bool down, SDL_Keycode sym, uint16_t mod, bool repeat = false) {
  SDL_Event e = {};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.type = e.type;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat ? 1 : 0;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
}

TEST(SdlKeys, HeldKeysAndTheAltEnterShortcut) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, false));
  ASSERT_EQ(Windowed, 1);
  pump_messages();

  // A held arrow stays set through auto-repeat; letters come as their capitals' codes.
  push_key(true, SDLK_LEFT, KMOD_NONE);
  push_key(true, SDLK_LEFT, KMOD_NONE, true);
  push_key(true, SDLK_a, KMOD_NONE);
  pump_messages();
  EXPECT_EQ(KeyState[VK_LEFT], 1u);
  EXPECT_EQ(KeyState['A'], 1u);
  push_key(false, SDLK_LEFT, KMOD_NONE);
  pump_messages();
  EXPECT_EQ(KeyState[VK_LEFT], 0u);

  // Alt+Enter switches to fullscreen and back without touching the Enter entry, also when
  // Alt is let go before Enter and Enter's auto-repeat goes on.
  push_key(true, SDLK_LALT, KMOD_LALT);
  push_key(true, SDLK_RETURN, KMOD_LALT);
  push_key(true, SDLK_RETURN, KMOD_LALT, true);  // held: switches once
  pump_messages();
  EXPECT_EQ(Windowed, 0);
  push_key(false, SDLK_LALT, KMOD_NONE);
  push_key(true, SDLK_RETURN, KMOD_NONE, true);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  push_key(false, SDLK_RETURN, KMOD_NONE);
  push_key(true, SDLK_LALT, KMOD_LALT);
  push_key(true, SDLK_RETURN, KMOD_LALT);
  pump_messages();
  EXPECT_EQ(Windowed, 1);
  EXPECT_EQ(DisplayReady, 1);
  EXPECT_EQ(KeyState[VK_RETURN], 0u);
  EXPECT_EQ(KeyState[VK_MENU], 0u);

  // Enter and Escape alone are ordinary keys.
  push_key(false, SDLK_RETURN, KMOD_NONE);
  push_key(false, SDLK_LALT, KMOD_NONE);
  push_key(true, SDLK_RETURN, KMOD_NONE);
  push_key(true, SDLK_ESCAPE, KMOD_NONE);
  pump_messages();
  EXPECT_EQ(KeyState[VK_RETURN], 1u);
  EXPECT_EQ(KeyState[VK_ESCAPE], 1u);
}

}  // namespace
