#include "display/window.h"

#include "display/surfaces.h"
#include "platform/report.h"
#include "render/framebuffer.h"

uint32_t KeyState[256] = {};
int32_t Windowed = 1;
int32_t DisplayReady = 0;
int32_t OuterWidth = 0;
int32_t OuterHeight = 0;
Rect WindowRect = {};
Rect ClientRect = {};
Rect ScreenRect = {};

namespace {
CloseHandler OnClose = nullptr;
bool ShortcutTable = false;
bool Minimised = false;
// A rebuild after a resize failed and has not yet succeeded: the next resize, restore or
// Alt+Enter tries again (the failure was reported once).
bool RebuildFailed = false;
// Per virtual-key code: a fresh press seen since the frame last read the table, and a
// release held back so that the next frame still sees that press.
bool PressedThisPass[256] = {};
bool ReleaseHeldBack[256] = {};

constexpr uint32_t WA_INACTIVE = 0;
constexpr intptr_t PreviousStateBit = intptr_t{1} << 30;

[[noreturn]] void close_handling() {
  if (OnClose != nullptr) {
    OnClose();
  }
  release_display();
  post_quit_message(0);
  // 0 when the user closed the window, 1 when an error was reported on the way.
  exit_process(report_exit_code());
}

// Before an error box: the window back where it was last seen, and the cursor shown.
void prepare_error_report() {
  if (window_exists()) {
    set_window_pos(WindowRect.left, WindowRect.top, OuterWidth, OuterHeight);
  }
  show_cursor(true);
}

void key_down(uintptr_t wParam, intptr_t lParam) {
  const uint32_t vk = wParam & 0xff;
  KeyState[vk] = 1;
  ReleaseHeldBack[vk] = false;
  if ((lParam & PreviousStateBit) == 0) {
    PressedThisPass[vk] = true;
  }
}

// A key-up clears the key's entry whatever modifier is held. A key pressed and released
// between two frames stays held for the one frame that follows, so a quick tap is not lost.
void key_up(uintptr_t wParam) {
  const uint32_t vk = wParam & 0xff;
  if (PressedThisPass[vk]) {
    ReleaseHeldBack[vk] = true;
  } else {
    KeyState[vk] = 0;
  }
}

// Another window took the keyboard: no key is held any more (as SDL and most toolkits
// report it), so a held Enter does not open the link again while the browser has the focus.
void release_all_keys() {
  for (int vk = 0; vk < 256; ++vk) {
    KeyState[vk] = 0;
    PressedThisPass[vk] = ReleaseHeldBack[vk] = false;
  }
}

// The rebuild after a resize (or a restore). A failure is reported once, and the display
// is tried again at the next resize, restore or Alt+Enter.
void rebuild_after_resize() {
  release_display();
  keep_window_on_screen();
  if (switch_display(false)) {
    RebuildFailed = false;
    return;
  }
  if (!RebuildFailed) {
    RebuildFailed = true;
    report_error("cannot rebuild the display");
  }
}

void toggle_display_command() {
  if (!DisplayReady && !RebuildFailed) {
    return;
  }
  RebuildFailed = false;
  if (switch_display(true)) {
    return;
  }
  report_error("window-switching failed");
  if (switch_display(true)) {
    return;
  }
  report_error("window-restore failed");
  close_handling();
}
}  // namespace

void set_close_handler(CloseHandler handler) { OnClose = handler; }

void reset_window_state() {
  for (uint32_t& k : KeyState) {
    k = 0;
  }
  Windowed = 1;
  DisplayReady = 0;
  OuterWidth = 0;
  OuterHeight = 0;
  WindowRect = ClientRect = ScreenRect = Rect{};
  ShortcutTable = false;
  Minimised = false;
  RebuildFailed = false;
  release_all_keys();
}

bool window_minimised() { return Minimised; }

bool create_main_window(int32_t outer_width, int32_t outer_height) {
  return create_window(WindowTitle, outer_width, outer_height, window_proc);
}

bool init_display_window(int32_t width, int32_t height, bool fullscreen) {
  set_report_prepare_hook(prepare_error_report);
  if (OuterWidth == 0 && OuterHeight == 0) {
    OuterWidth = width;
    OuterHeight = height;
  }
  if (!fullscreen) {
    OuterWidth += 2 * get_system_metrics(SM_CXFRAME);
    OuterHeight += get_system_metrics(SM_CYMENU) + 2 * get_system_metrics(SM_CYFRAME);
  }
  if (!create_main_window(OuterWidth, OuterHeight)) {
    return false;
  }
  set_frame_size(width, height);
  Windowed = fullscreen ? 0 : 1;
  show_window();
  get_window_rect(&WindowRect);
  if (!init_display()) {
    if (!switch_display(true)) {
      return false;
    }
  }
  ShortcutTable = create_shortcut_table(CMD_TOGGLE_DISPLAY);
  if (!ShortcutTable) {
    report_error("init for keyboard-shortcut failed");
  }
  DisplayReady = 1;
  return true;
}

intptr_t window_proc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
      close_handling();
    case WM_MOVE:
      // A minimised window reports a place far off the screen; the rectangles keep the
      // last real one until the window is restored.
      if (Windowed && DisplayReady && !Minimised) {
        track_window_move();
      }
      return 0;
    case WM_SIZE:
      // A minimised window has no area to present into (the window rectangle would give a
      // negative size): the display stays as it is until the window is restored, and the
      // size message of the restore rebuilds it.
      if (wParam == SIZE_MINIMIZED) {
        Minimised = true;
        return 0;
      }
      Minimised = false;
      if (Windowed && (DisplayReady || RebuildFailed)) {
        rebuild_after_resize();
      }
      return 0;
    case WM_ACTIVATE:
      if ((wParam & 0xffff) == WA_INACTIVE) {
        release_all_keys();
      }
      return Windowed ? default_window_proc(message, wParam, lParam) : 0;
    case WM_SETCURSOR:
      if (Windowed) {
        return default_window_proc(message, wParam, lParam);
      }
      clear_cursor();
      return 0;
    case WM_KEYDOWN:
      key_down(wParam, lParam);
      return default_window_proc(message, wParam, lParam);
    case WM_KEYUP:
    case WM_SYSKEYUP:
      key_up(wParam);
      return default_window_proc(message, wParam, lParam);
    case WM_COMMAND:
      if ((wParam & 0xffff) == CMD_TOGGLE_DISPLAY) {
        toggle_display_command();
        return 0;
      }
      return default_window_proc(message, wParam, lParam);
    default:
      return default_window_proc(message, wParam, lParam);
  }
}

void pump_messages() {
  // The frame has read the table since the last pass: taps held back for it end now.
  for (int vk = 0; vk < 256; ++vk) {
    if (ReleaseHeldBack[vk]) {
      KeyState[vk] = 0;
    }
    PressedThisPass[vk] = ReleaseHeldBack[vk] = false;
  }
  while (peek_message()) {
    WindowMessage message;
    get_message(&message);
    // The quit request posted by a non-fatal error report is taken and dropped.
    if (message.message == WM_QUIT) {
      continue;
    }
    if (ShortcutTable && translate_shortcut(message)) {
      continue;
    }
    dispatch_message(message);
  }
}

bool switch_display(bool toggle) {
  if (Windowed) {
    get_window_rect(&WindowRect);
  }
  release_display();
  if (toggle) {
    Windowed = Windowed ? 0 : 1;
  }
  if (Windowed) {
    OuterWidth = WindowRect.right - WindowRect.left;
    OuterHeight = WindowRect.bottom - WindowRect.top;
    set_window_pos(WindowRect.left, WindowRect.top, OuterWidth, OuterHeight);
  }
  return init_display();
}

void keep_window_on_screen() {
  // All screens together: a window on a screen left of or above the main one has a
  // negative left or top edge and is on the screen all the same.
  Rect screens = {};
  const bool known = get_screen_bounds(&screens);
  get_window_rect(&WindowRect);
  Rect r = WindowRect;
  if (r.left < screens.left) {
    r.left = screens.left;
  }
  if (r.top < screens.top) {
    r.top = screens.top;
  }
  if (known && r.right >= screens.right - 1) {
    r.right = screens.right - 2;
  }
  if (known && r.bottom >= screens.bottom - 1) {
    r.bottom = screens.bottom - 2;
  }
  WindowRect = r;
  OuterWidth = r.right - r.left;
  OuterHeight = r.bottom - r.top;
  set_window_pos(r.left, r.top, OuterWidth, OuterHeight);
}

void read_client_rects() {
  get_client_rect(&ClientRect);
  get_client_rect(&ScreenRect);
  Point top_left = {ScreenRect.left, ScreenRect.top};
  Point bottom_right = {ScreenRect.right, ScreenRect.bottom};
  client_to_screen(&top_left);
  client_to_screen(&bottom_right);
  ScreenRect = {top_left.x, top_left.y, bottom_right.x, bottom_right.y};
}

void track_window_move() {
  get_window_rect(&WindowRect);
  read_client_rects();
}

void close_window() {
  send_message(WM_CLOSE, 0, 0);
  pump_messages();
  OuterWidth = 0;
  OuterHeight = 0;
}
