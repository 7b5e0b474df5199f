// The SDL backend's keyboard: SDL key events, pushed into SDL's queue on its dummy video
// driver, reach the held-key table and the Alt+Enter shortcut as the window messages the
// show expects.
#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "display/window.h"
#include "driver/show.h"

namespace {

// A key event; sym 0 stands for another window taking the focus.
struct Key {
  bool down;
  SDL_Keycode sym;
  uint16_t mod = KMOD_NONE;
  bool repeat = false;
};

void start() {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, false));
  ASSERT_EQ(Windowed, 1);
}

// Pushes the events and pumps them through the show's message loop.
void keys(const std::vector<Key>& events) {
  for (const Key& k : events) {
    SDL_Event e = {};
    if (k.sym == 0) {
      e.type = SDL_WINDOWEVENT;
      e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    } else {
      e.type = e.key.type = k.down ? SDL_KEYDOWN : SDL_KEYUP;
      e.key.state = k.down ? SDL_PRESSED : SDL_RELEASED;
      e.key.repeat = k.repeat ? 1 : 0;
      e.key.keysym.sym = k.sym;
      e.key.keysym.mod = k.mod;
    }
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  }
  pump_messages();
}

TEST(SdlKeys, HeldKeysSystemKeysAndTheAltEnterShortcut) {
  const Key alt_down = {true, SDLK_LALT, KMOD_LALT}, alt_up = {false, SDLK_LALT};
  struct Case {
    const char* what;
    uint32_t vk;
    std::vector<std::vector<Key>> pumps;
    std::vector<uint32_t> held;  // KeyState[vk] after each pump
    int windowed = 1;
  };
  const Case cases[] = {
      {"a letter comes as its capital's code", 'A', {{{true, SDLK_a}}}, {1}},
      {"Escape is an ordinary key", VK_ESCAPE, {{{true, SDLK_ESCAPE}}}, {1}},
      {"released while Alt is held (a system key-up)", VK_LEFT,
       {{{true, SDLK_LEFT}, alt_down}, {{false, SDLK_LEFT, KMOD_LALT}, alt_up}}, {1, 0}},
      // An arrow pressed with Alt is a system key; held on after Alt is let go, its repeats
      // are ordinary key-downs.
      {"pressed with Alt, repeated after it", VK_LEFT,
       {{alt_down, {true, SDLK_LEFT, KMOD_LALT}}, {alt_up, {true, SDLK_LEFT, KMOD_NONE, true}}, {{false, SDLK_LEFT}}},
       {0, 1, 0}},
      {"another window takes the focus while held", VK_RETURN, {{{true, SDLK_RETURN}}, {{false, 0}}}, {1, 0}},
      // Alt+Enter switches once however long Enter is held, and its repeats stay system
      // keys when Alt is let go first.
      {"Enter held on after Alt+Enter", VK_RETURN,
       {{alt_down, {true, SDLK_RETURN, KMOD_LALT}, {true, SDLK_RETURN, KMOD_LALT, true}},
        {alt_up, {true, SDLK_RETURN, KMOD_NONE, true}}},
       {0, 0}, 0},
  };
  for (const Case& c : cases) {
    start();
    std::vector<uint32_t> held;
    for (const std::vector<Key>& pump : c.pumps) {
      keys(pump);
      held.push_back(KeyState[c.vk]);
    }
    EXPECT_EQ(held, c.held) << c.what;
    EXPECT_EQ(Windowed, c.windowed) << c.what;
    EXPECT_EQ(KeyState[VK_MENU], 0u) << c.what;
  }
}

}  // namespace
