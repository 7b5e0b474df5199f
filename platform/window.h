// The window, its message queue, the shortcut table, the cursor, the message box and
// process exit: the stand-in for the window-system calls the show makes. Message numbers,
// virtual-key codes and metric indices keep the values the show's logic is written for.
#pragma once
#include <cstdint>

enum : uint32_t {
  WM_DESTROY = 0x0002,
  WM_MOVE = 0x0003,
  WM_SIZE = 0x0005,
  WM_ACTIVATE = 0x0006,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_SETCURSOR = 0x0020,
  WM_KEYDOWN = 0x0100,
  WM_KEYUP = 0x0101,
  WM_SYSKEYDOWN = 0x0104,
  WM_SYSKEYUP = 0x0105,
  WM_COMMAND = 0x0111,
};

// Virtual-key codes the show reads.
enum : uint32_t {
  VK_RETURN = 13,
  VK_MENU = 18,  // Alt
  VK_ESCAPE = 27,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
};

// Metric indices for get_system_metrics.
enum : int {
  SM_CYMENU = 15,
  SM_CXFRAME = 32,
  SM_CYFRAME = 33,
};

// WM_SIZE's wParam when the window was minimised.
constexpr uintptr_t SIZE_MINIMIZED = 1;

struct WindowMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

struct Rect {
  int32_t left, top, right, bottom;
};

struct Point {
  int32_t x, y;
};

using WindowProc = intptr_t (*)(uint32_t message, uintptr_t wParam, intptr_t lParam);

// Creates the one window: sizable, with title bar and system menu, at the screen's top-left
// corner, `title` as its title (and class name), the given outer size, messages going to
// `proc`. Not yet shown. True when the window exists.
bool create_window(const char* title, int outer_width, int outer_height, WindowProc proc);
bool window_exists();
// Shows the window normally and paints it once.
void show_window();

// Whole window in screen coordinates; client area in client coordinates (0, 0, w, h).
bool get_window_rect(Rect* rect);
bool get_client_rect(Rect* rect);
void client_to_screen(Point* point);
// Moves and sizes the whole window (not topmost) and shows it.
void set_window_pos(int left, int top, int width, int height);
int get_system_metrics(int index);
// The area all screens cover together, in the window's screen coordinates (a screen left of
// or above the main one lies at negative coordinates); false when it cannot be read.
bool get_screen_bounds(Rect* bounds);

// Counts the cursor's display counter up (show) or down (hide); returns the new count.
int show_cursor(bool show);
// Removes the cursor image over the window (the fullscreen answer to WM_SETCURSOR).
void clear_cursor();

// True when any message waits in the thread's queue, the quit request included. Never waits.
bool peek_message();
// Waits until a message is in the thread's queue; returns at once when one is there already.
void wait_message();
// Takes the next waiting message (the caller has seen peek_message true). The quit request
// comes out as WM_QUIT.
void get_message(WindowMessage* message);
// The one-entry shortcut table: Alt+Enter gives WM_COMMAND with `command`. False when it
// cannot be made.
bool create_shortcut_table(uint32_t command);
// When the message is the shortcut, sends the command to the window procedure and returns true.
bool translate_shortcut(const WindowMessage& message);
// Hands the message to the window procedure and returns its result.
intptr_t dispatch_message(const WindowMessage& message);
// Sends a message to the window procedure at once and returns its result.
intptr_t send_message(uint32_t message, uintptr_t wParam, intptr_t lParam);
// What the window system does with a message the procedure does not handle.
intptr_t default_window_proc(uint32_t message, uintptr_t wParam, intptr_t lParam);
void post_quit_message(int code);

// A modal error box with this caption and text; returns when the user has closed it.
void message_box(const char* text, const char* caption);

// Ends the process with this exit code.
[[noreturn]] void exit_process(int code);
