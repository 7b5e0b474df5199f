// The SDL backend on SDL's dummy video driver: key events pushed into SDL's queue reach the
// held-key table (taps, repeats, Alt, focus loss) and the Alt+Enter shortcut as the window
// messages the show expects, and a presented frame lands where it belongs in the renderer's
// output.
#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "display/present.h"
#include "display/window.h"
#include "driver/show.h"
#include "platform/sdl/sdl_backend.h"

namespace {

// A key event; sym 0 stands for another window taking the focus.
struct Key {
  bool down;
  SDL_Keycode sym;
  uint16_t mod = KMOD_NONE;
  bool repeat = false;
};

void start(bool fullscreen = false) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  reset_show_state();
  ASSERT_TRUE(init_display_window(400, 300, fullscreen));
  ASSERT_EQ(Windowed, fullscreen ? 0 : 1);
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
  const Key left_down = {true, SDLK_LEFT}, left_repeat = {true, SDLK_LEFT, KMOD_NONE, true}, left_up = {false, SDLK_LEFT};
  struct Case {
    const char* what;
    uint32_t vk;
    std::vector<std::vector<Key>> pumps;
    std::vector<uint32_t> held;  // KeyState[vk] after each pump
    int windowed = 1;
  };
  const Case cases[] = {
      // A tap between two frames is held for the one frame that follows, then released; a
      // release in the pass of an auto-repeat is not held back: only a fresh press is.
      {"tapped", VK_LEFT, {{left_down, left_up}, {}, {}}, {1, 0, 0}},
      {"tapped and pressed again", VK_LEFT, {{left_down, left_up, left_down}, {}, {left_up}}, {1, 1, 0}},
      {"released in the pass of a repeat", VK_LEFT, {{left_down}, {left_repeat, left_up}, {}}, {1, 0, 0}},
      {"released while Alt is held (a system key-up)", VK_LEFT,
       {{left_down, alt_down}, {{false, SDLK_LEFT, KMOD_LALT}, alt_up}}, {1, 0}},
      // An arrow pressed with Alt is a system key; held on after Alt is let go, its repeats
      // are ordinary key-downs.
      {"pressed with Alt, repeated after it", VK_LEFT,
       {{alt_down, {true, SDLK_LEFT, KMOD_LALT}}, {alt_up, left_repeat}, {left_up}}, {0, 1, 0}},
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

// A frame of four coloured quadrants, presented windowed (one to one) and fullscreen (on the
// dummy driver's 1024 x 768 desktop, stretched over its largest 4:3 area, which here is all
// of it), then read back from the renderer: 3 pixels in from each corner, the colour of the
// quadrant at that corner (not a neighbour's, not a black border).
TEST(SdlPresent, EachQuadrantLandsInItsCornerWindowedAndFullscreen) {
  const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
  std::vector<uint32_t> pixels(400 * 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) pixels[y * 400 + x] = colours[(y >= 150 ? 2 : 0) + (x >= 200 ? 1 : 0)];
  for (const bool fullscreen : {false, true}) {
    SCOPED_TRACE(fullscreen ? "fullscreen" : "windowed");
    start(fullscreen);
    present_frame({400, 300, 400 * 300, 400 * 300 * 4, pixels.data()});
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(SdlRenderer, &w, &h);
    ASSERT_EQ(w, fullscreen ? 1024 : 400);
    ASSERT_EQ(h, fullscreen ? 768 : 300);
    std::vector<uint32_t> shown(static_cast<size_t>(w) * h);
    ASSERT_EQ(SDL_RenderReadPixels(SdlRenderer, nullptr, SDL_PIXELFORMAT_RGB888, shown.data(), w * 4), 0);
    for (int q = 0; q < 4; ++q) {
      const int x = (q & 1) != 0 ? w - 4 : 3, y = (q & 2) != 0 ? h - 4 : 3;
      EXPECT_EQ(shown[static_cast<size_t>(y) * w + x] & 0xFFFFFF, colours[q]) << x << ", " << y;
    }
  }
}

}  // namespace
