// The SDL2 backend's window: SDL's events become the window messages the show's window
// procedure expects (keys as virtual-key codes, Alt held as system keys), and the window's
// geometry is read and set through SDL. SDL's window has no frame of its own to account
// for, so the frame metrics are 0 and the client area is the whole window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "platform/sdl/sdl_backend.h"
#include "platform/window.h"

SDL_Window* SdlWindow = nullptr;
SDL_Renderer* SdlRenderer = nullptr;

namespace {

WindowProc Proc = nullptr;
std::deque<WindowMessage> Queue;
bool ShortcutTable = false;
uint32_t ShortcutCommand = 0;
int CursorCount = 0;
// Whether Enter's last press came with Alt (as the shortcut).
bool EnterPressedAsSystemKey = false;

constexpr intptr_t AltContextBit = intptr_t{1} << 29;
constexpr intptr_t PreviousStateBit = intptr_t{1} << 30;
constexpr intptr_t TransitionBit = intptr_t{1} << 31;

// SDL's key codes as Windows virtual-key codes; 0 for keys the show has no code for.
uint32_t virtual_key(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) {
    return static_cast<uint32_t>('A' + (key - SDLK_a));
  }
  if (key >= SDLK_0 && key <= SDLK_9) {
    return static_cast<uint32_t>('0' + (key - SDLK_0));
  }
  if (key >= SDLK_F1 && key <= SDLK_F12) {
    return 112 + static_cast<uint32_t>(key - SDLK_F1);
  }
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) {
    return 97 + static_cast<uint32_t>(key - SDLK_KP_1);
  }
  switch (key) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 17;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_KP_0: return 96;
    default: return 0;
  }
}

intptr_t pack_point(int x, int y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(y & 0xffff) << 16) | static_cast<uint32_t>(x & 0xffff));
}

void post(uint32_t message, uintptr_t wParam, intptr_t lParam) { Queue.push_back({message, wParam, lParam}); }

// Keys pressed while Alt is held (and Alt itself) are system keys, as on the desktop the
// show was made for: they never reach the held-key table, and Alt+Enter is the shortcut.
void translate_key(const SDL_KeyboardEvent& key) {
  const uint32_t vk = virtual_key(key.keysym.sym);
  if (vk == 0) {
    return;
  }
  bool alt = (key.keysym.mod & KMOD_ALT) != 0 || vk == VK_MENU;
  if (key.type == SDL_KEYDOWN && vk == VK_RETURN) {
    // Enter's auto-repeat keeps the kind of the press that started it: Enter held on after
    // Alt+Enter when Alt is let go first stays a system key and never becomes an Enter
    // press. Every other key's repeats go by the Alt key as it is now, so an arrow pressed
    // with Alt and held on after Alt is let go counts from then on.
    if (key.repeat != 0) {
      alt = EnterPressedAsSystemKey;
    } else {
      EnterPressedAsSystemKey = alt;
    }
  }
  intptr_t lParam = 1 | (static_cast<intptr_t>(key.keysym.scancode & 0xff) << 16);
  if (alt) {
    lParam |= AltContextBit;
  }
  if (key.type == SDL_KEYDOWN) {
    if (key.repeat != 0) {
      lParam |= PreviousStateBit;
    }
    post(alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, lParam);
  } else {
    post(alt ? WM_SYSKEYUP : WM_KEYUP, vk, lParam | PreviousStateBit | TransitionBit);
  }
}

// The window message an SDL window event stands for; false for events the show ignores.
bool window_message(const SDL_WindowEvent& w, WindowMessage* m) {
  switch (w.event) {
    case SDL_WINDOWEVENT_CLOSE: *m = {WM_CLOSE, 0, 0}; return true;
    case SDL_WINDOWEVENT_MOVED: *m = {WM_MOVE, 0, pack_point(w.data1, w.data2)}; return true;
    case SDL_WINDOWEVENT_SIZE_CHANGED: *m = {WM_SIZE, 0, pack_point(w.data1, w.data2)}; return true;
    case SDL_WINDOWEVENT_MINIMIZED: *m = {WM_SIZE, SIZE_MINIMIZED, 0}; return true;
    case SDL_WINDOWEVENT_RESTORED: *m = {WM_SIZE, 0, 0}; return true;
    case SDL_WINDOWEVENT_FOCUS_GAINED: *m = {WM_ACTIVATE, 1, 0}; return true;
    case SDL_WINDOWEVENT_FOCUS_LOST: *m = {WM_ACTIVATE, 0, 0}; return true;
    case SDL_WINDOWEVENT_ENTER: *m = {WM_SETCURSOR, 0, 0}; return true;
    default: return false;
  }
}

void translate_window_event(const SDL_WindowEvent& w) {
  WindowMessage m;
  if (window_message(w, &m)) {
    post(m.message, m.wParam, m.lParam);
  }
}

// Moves everything SDL has gathered into the message queue. Never waits.
void gather_events() {
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        translate_key(e.key);
        break;
      case SDL_WINDOWEVENT:
        translate_window_event(e.window);
        break;
      case SDL_MOUSEMOTION:
        post(WM_SETCURSOR, 0, 0);
        break;
      case SDL_QUIT:
        // Also what an interrupt from the terminal becomes: end the show as the close box does.
        post(WM_CLOSE, 0, 0);
        break;
      case SDL_RENDER_DEVICE_RESET:
        ++SdlLostGeneration;
        break;
      default:
        break;
    }
  }
}

void apply_cursor(bool visible) { SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE); }

// Why no window could be made, for standard error only: the caller's report names the
// failure, and this line says what the window system answered.
bool no_window(const char* reason) {
  std::fprintf(stderr, "musicdisk: no window: %s\n", reason != nullptr && *reason != '\0' ? reason : "no reason given");
  return false;
}

}  // namespace

bool create_window(const char* title, int outer_width, int outer_height, WindowProc proc) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      return no_window(SDL_GetError());
    }
    // Without a screen SDL can fall back to drivers that draw nowhere. Unless one was asked
    // for by name, that is no screen: the show ends with its report instead of running unseen.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* wanted = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver != nullptr && (wanted == nullptr || *wanted == '\0') &&
        (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      return no_window("no video driver but one that draws nowhere");
    }
  }
  // Centred on the screen, where a new window is expected.
  SdlWindow = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, outer_width, outer_height,
                               SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (SdlWindow == nullptr) {
    return no_window(SDL_GetError());
  }
  SdlRenderer = SDL_CreateRenderer(SdlWindow, -1, SDL_RENDERER_PRESENTVSYNC);
  if (SdlRenderer == nullptr) {
    // No renderer that waits for the retrace: any renderer at all.
    SdlRenderer = SDL_CreateRenderer(SdlWindow, -1, 0);
  }
  SDL_StopTextInput();
  Proc = proc;
  return true;
}

bool window_exists() { return SdlWindow != nullptr; }

void show_window() {
  if (SdlWindow != nullptr) {
    SDL_ShowWindow(SdlWindow);
  }
}

bool get_window_rect(Rect* rect) {
  if (SdlWindow == nullptr) {
    return false;
  }
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(SdlWindow, &x, &y);
  SDL_GetWindowSize(SdlWindow, &w, &h);
  *rect = {x, y, x + w, y + h};
  return true;
}

bool get_client_rect(Rect* rect) {
  if (SdlWindow == nullptr) {
    return false;
  }
  int w = 0, h = 0;
  SDL_GetWindowSize(SdlWindow, &w, &h);
  *rect = {0, 0, w, h};
  return true;
}

void client_to_screen(Point* point) {
  if (SdlWindow == nullptr) {
    return;
  }
  int x = 0, y = 0;
  SDL_GetWindowPosition(SdlWindow, &x, &y);
  point->x += x;
  point->y += y;
}

void set_window_pos(int left, int top, int width, int height) {
  if (SdlWindow == nullptr) {
    return;
  }
  // Only real changes go to SDL.
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(SdlWindow, &x, &y);
  SDL_GetWindowSize(SdlWindow, &w, &h);
  if (x != left || y != top) {
    SDL_SetWindowPosition(SdlWindow, left, top);
  }
  if ((w != width || h != height) && width > 0 && height > 0) {
    SDL_SetWindowSize(SdlWindow, width, height);
  }
  SDL_ShowWindow(SdlWindow);
  sdl_deliver_own_window_messages();
}

void sdl_deliver_own_window_messages() {
  SDL_PumpEvents();
  SDL_Event events[32];
  int n = 0;
  while ((n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT)) > 0) {
    for (int i = 0; i < n; ++i) {
      WindowMessage m;
      if (!window_message(events[i].window, &m)) {
        continue;
      }
      if (m.message == WM_MOVE || m.message == WM_SIZE) {
        send_message(m.message, m.wParam, m.lParam);
      } else {
        post(m.message, m.wParam, m.lParam);
      }
    }
  }
}

int get_system_metrics(int) { return 0; }

bool get_screen_bounds(Rect* bounds) {
  bool any = false;
  const int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect b;
    if (SDL_GetDisplayBounds(i, &b) != 0 || b.w <= 0 || b.h <= 0) {
      continue;
    }
    const Rect r = {b.x, b.y, b.x + b.w, b.y + b.h};
    *bounds = any ? Rect{std::min(bounds->left, r.left), std::min(bounds->top, r.top),
                         std::max(bounds->right, r.right), std::max(bounds->bottom, r.bottom)}
                  : r;
    any = true;
  }
  return any;
}

int show_cursor(bool show) {
  CursorCount += show ? 1 : -1;
  apply_cursor(CursorCount >= 0);
  return CursorCount;
}

void clear_cursor() { apply_cursor(false); }

bool peek_message() {
  gather_events();
  return !Queue.empty();
}

void wait_message() {
  gather_events();
  if (Queue.empty()) {
    SDL_WaitEvent(nullptr);  // left in SDL's queue for the next gathering
  }
}

void get_message(WindowMessage* message) {
  if (Queue.empty()) {
    gather_events();
  }
  if (Queue.empty()) {
    *message = {0, 0, 0};
    return;
  }
  *message = Queue.front();
  Queue.pop_front();
}

bool create_shortcut_table(uint32_t command) {
  ShortcutTable = true;
  ShortcutCommand = command;
  return true;
}

bool translate_shortcut(const WindowMessage& message) {
  if (!ShortcutTable || message.message != WM_SYSKEYDOWN || message.wParam != VK_RETURN ||
      (message.lParam & AltContextBit) == 0) {
    return false;
  }
  // Alt+Enter held down switches once: the key's auto-repeat is taken but does nothing.
  if ((message.lParam & PreviousStateBit) == 0) {
    send_message(WM_COMMAND, ShortcutCommand, 0);
  }
  return true;
}

intptr_t dispatch_message(const WindowMessage& message) {
  return send_message(message.message, message.wParam, message.lParam);
}

intptr_t send_message(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return Proc != nullptr ? Proc(message, wParam, lParam) : 0;
}

intptr_t default_window_proc(uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_SETCURSOR) {
    // The arrow, while the display counter says the cursor is shown.
    apply_cursor(CursorCount >= 0);
  }
  return 0;
}

void post_quit_message(int) { post(WM_QUIT, 0, 0); }
