// The web backend's window: the canvas stands for the show's window. The page's key events
// arrive through web_post_key as the window messages the show's window procedure expects
// (keys as virtual-key codes, which the browser's key codes already are for every key the
// show reads; keys with Alt held as system keys). The window never moves and keeps the
// frame's size: the page scales the canvas, as a compositor would.
#include <emscripten/emscripten.h>

#include <deque>

#include "platform/web/web_backend.h"
#include "platform/window.h"

namespace {

WindowProc Proc = nullptr;
bool Exists = false;
int Width = 0, Height = 0;
std::deque<WindowMessage> Queue;
bool ShortcutTable = false;
uint32_t ShortcutCommand = 0;
int CursorCount = 0;

constexpr intptr_t AltContextBit = intptr_t{1} << 29;
constexpr intptr_t PreviousStateBit = intptr_t{1} << 30;
constexpr intptr_t TransitionBit = intptr_t{1} << 31;

void post(uint32_t message, uintptr_t wParam, intptr_t lParam) { Queue.push_back({message, wParam, lParam}); }

}  // namespace

extern "C" {

// A key from the page: `down` press or release, `repeat` the browser's auto-repeat, `alt`
// with Alt held (Alt itself counts as held).
EMSCRIPTEN_KEEPALIVE void web_post_key(int vk, int down, int repeat, int alt) {
  if (!Exists || vk <= 0 || vk > 255) return;
  intptr_t lParam = 1;
  if (alt) lParam |= AltContextBit;
  if (down) {
    if (repeat) lParam |= PreviousStateBit;
    post(alt ? WM_SYSKEYDOWN : WM_KEYDOWN, static_cast<uintptr_t>(vk), lParam);
  } else {
    post(alt ? WM_SYSKEYUP : WM_KEYUP, static_cast<uintptr_t>(vk), lParam | PreviousStateBit | TransitionBit);
  }
}

// The page lost the keyboard (another tab or window took it).
EMSCRIPTEN_KEEPALIVE void web_post_focus(int active) {
  if (Exists) post(WM_ACTIVATE, active ? 1 : 0, 0);
}

// The browser left fullscreen by itself (its own Escape, or a refusal): the show switches
// back as Alt+Enter would.
EMSCRIPTEN_KEEPALIVE void web_post_display_toggle() {
  if (Exists && ShortcutTable) post(WM_COMMAND, ShortcutCommand, 0);
}

}  // extern "C"

bool create_window(const char*, int outer_width, int outer_height, WindowProc proc) {
  if (!md_canvas_open(outer_width, outer_height)) return false;
  Width = outer_width;
  Height = outer_height;
  Proc = proc;
  Exists = true;
  Queue.clear();
  return true;
}

bool window_exists() { return Exists; }

void show_window() {}

bool get_window_rect(Rect* rect) {
  if (!Exists) return false;
  *rect = {0, 0, Width, Height};
  return true;
}

bool get_client_rect(Rect* rect) { return get_window_rect(rect); }

void client_to_screen(Point*) {}

void set_window_pos(int, int, int, int) {}

int get_system_metrics(int) { return 0; }

bool get_screen_bounds(Rect* bounds) {
  if (!Exists) return false;
  *bounds = {0, 0, Width + 2, Height + 2};
  return true;
}

int show_cursor(bool show) {
  CursorCount += show ? 1 : -1;
  md_cursor(CursorCount >= 0);
  return CursorCount;
}

void clear_cursor() { md_cursor(false); }

bool peek_message() { return !Queue.empty(); }

// The page's thread may never block: the animation frame comes back by itself, and a page
// is never minimised.
void wait_message() {}

void get_message(WindowMessage* message) {
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
  // Alt+Enter held down switches once.
  if ((message.lParam & PreviousStateBit) == 0) send_message(WM_COMMAND, ShortcutCommand, 0);
  return true;
}

intptr_t dispatch_message(const WindowMessage& message) {
  return send_message(message.message, message.wParam, message.lParam);
}

intptr_t send_message(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return Proc != nullptr ? Proc(message, wParam, lParam) : 0;
}

intptr_t default_window_proc(uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_SETCURSOR) md_cursor(CursorCount >= 0);
  return 0;
}

void post_quit_message(int) { post(WM_QUIT, 0, 0); }

// The page cannot hold the show up with a modal box: the box stays over the canvas until
// the user closes it, and the call returns at once.
void message_box(const char* text, const char* caption) { md_message_box(text, caption); }

void exit_process(int code) {
  Exists = false;
  ShortcutTable = false;
  Queue.clear();
  CursorCount = 0;
  md_cursor(true);
  md_exit(code);
}
