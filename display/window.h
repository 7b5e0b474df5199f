// The show's one window: held keys, the Alt+Enter switch between windowed and fullscreen
// display, moving and resizing, closing, and the non-blocking message pump.
#pragma once
#include <cstdint>

#include "platform/window.h"

// The fixed text used as window class name and title.
constexpr const char* WindowTitle = "musicdisk";
constexpr uint32_t CMD_TOGGLE_DISPLAY = 1000;

// 1 while the key with that virtual-key code is held.
extern uint32_t KeyState[256];
// 1 windowed, 0 fullscreen.
extern int32_t Windowed;
// 1 while the display objects exist and may be used.
extern int32_t DisplayReady;
// Windowed: the whole window's size; fullscreen: the display mode's size.
extern int32_t OuterWidth;
extern int32_t OuterHeight;
// Where the window was last seen in windowed mode (screen coordinates).
extern Rect WindowRect;
// Source and destination rectangles of the windowed blit.
extern Rect ClientRect;
extern Rect ScreenRect;

// Creates the window around a width x height client area (or of that size when
// fullscreen), records the frame size and brings up the display, windowed first and the
// other mode as the fallback. False when no display could be set up.
bool init_display_window(int32_t width, int32_t height, bool fullscreen);
bool create_main_window(int32_t outer_width, int32_t outer_height);
intptr_t window_proc(uint32_t message, uintptr_t wParam, intptr_t lParam);
// Handles every waiting message and returns; never waits.
void pump_messages();
// True while the user has the window minimised (from its minimise until its restore).
bool window_minimised();
// With toggle, changes between windowed and fullscreen; without, rebuilds the current mode.
// True when the display works afterwards.
bool switch_display(bool toggle);
void keep_window_on_screen();
void track_window_move();
// ClientRect from the client area, ScreenRect the same area in screen coordinates.
void read_client_rects();
void close_window();

// What closing the window does before the display is released and the process ends (the
// driver stops the tune there); null for nothing. The exit code is 1 once an error has been
// reported, else 0.
using CloseHandler = void (*)();
void set_close_handler(CloseHandler handler);

// Puts every value above back to its start value (for a fresh run of the show in one process).
void reset_window_state();
