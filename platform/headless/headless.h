// Control of the headless backend: a virtual clock, scripted keys, a configurable screen
// and display device whose presented frames can be read back, and fault injection. Tests
// and tools set it up with headless_reset, run the show code, and read the results.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window.h"

struct HeadlessKey {
  uint32_t time_ms;  // virtual milliseconds after the clock's start
  uint32_t vk;       // virtual-key code
  bool down;
  bool alt;          // with Alt held: Enter then gives the Alt+Enter shortcut
};

struct HeadlessMode {
  int width, height, depth;
};

struct HeadlessConfig {
  // Clock: the tick count at the start, and the virtual time one presented frame takes
  // (20000 us: 50 frames per second). With 0 the clock moves only under the caller's control.
  uint32_t start_tick = 0;
  uint32_t frame_us = 20000;
  std::vector<HeadlessKey> keys;
  int64_t close_at_ms = -1;  // a close request at this virtual time; -1 none
  int64_t focus_lost_at_ms = -1;  // another window takes the focus at this time; -1 never
  // The user minimises the window at the first time and restores it at the second; -1 never.
  int64_t minimised_from_ms = -1;
  int64_t minimised_until_ms = -1;

  // Screen: the desktop, the fullscreen modes offered, the 16-bit green mask.
  int desktop_width = 1920;
  int desktop_height = 1080;
  int desktop_depth = 32;
  // Further screens beside the main one (0, 0, desktop_width, desktop_height), in the
  // same coordinates: a screen to the left has a negative left edge.
  std::vector<Rect> more_screens;
  std::vector<HeadlessMode> modes = {{400, 300, 32}, {400, 300, 24}, {400, 300, 16}, {800, 600, 32},
                                     {800, 600, 24}, {800, 600, 16}};
  uint32_t green_mask_16 = 0x07E0;
  // Faults.
  bool fail_window = false;          // the window cannot be created
  bool fail_device = false;          // the display device cannot be opened
  bool fail_windowed = false;        // windowed set-up (normal cooperative level) fails
  bool fail_fullscreen = false;      // exclusive cooperative level fails
  bool fail_mode_switch = false;     // every display mode is refused, listed or not
  bool fail_shortcut = false;        // the shortcut table cannot be made
  int64_t fail_alloc_after = -1;     // page blocks after this many succeed fail; -1 never

  // Sound device faults: no device at all, or one creation step failing.
  bool sound_absent = false;
  bool sound_fail_cooperative = false;
  bool sound_fail_primary = false;
  bool sound_fail_secondary = false;
  bool sound_fail_lock = false;      // every Lock fails (not as a lost buffer)
  bool sound_fail_play = false;
  bool sound_fail_restore = false;   // a lost buffer stays lost: another program holds the device

  // Worker threads sleep in real time (a thousandth of what they ask) instead of in step
  // with the virtual clock, so they run truly alongside the thread that drives the clock.
  // For stress tests under the thread sanitizer; the sound record is then not repeatable.
  bool free_running_workers = false;
};

struct HeadlessSoundStats {
  int devices_made = 0, devices_released = 0;
  int buffers_made = 0, buffers_released = 0;
  int restores = 0;
  struct LockCall {
    uint32_t offset, bytes;
    bool ok;
  };
  std::vector<LockCall> locks;   // every Lock of a secondary buffer, in order
  uint32_t format_rate = 0;      // the primary buffer's format, once set
  uint16_t format_channels = 0, format_bits = 0;
};

// One picture as it reached the screen, decoded back to 0x00RRGGBB.
struct HeadlessFrame {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t tick = 0;  // clock when it was presented
};

struct HeadlessStats {
  uint64_t presented = 0;          // frames blitted or flipped
  uint64_t devices_created = 0;    // display device objects made
  int mode_width = 0, mode_height = 0, mode_depth = 0;  // fullscreen mode in use, 0 when none
  bool exclusive = false;
  int cursor_count = 0;            // the cursor's display counter (shown while >= 0)
  std::vector<std::string> messages;  // texts of the message boxes, in order
  int quit_posted = 0;
  int waits = 0;                   // times the show waited for a message with none there
};

// Thrown by exit_process in the headless backend, so the caller of the show gets control back.
struct HeadlessExit {
  int code;
};

void headless_reset(const HeadlessConfig& config);
HeadlessConfig& headless_config();
const HeadlessStats& headless_stats();
const HeadlessFrame& headless_last_frame();
// Called with every presented frame, before the clock moves on.
void headless_set_present_hook(std::function<void(const HeadlessFrame&)> hook);

// Virtual clock control.
void headless_set_tick(uint32_t tick);
void headless_advance_us(uint64_t us);
uint32_t headless_elapsed_ms();

// The sound that left the device, from the clock's start: 44100 Hz stereo frames, left then
// right, one frame for each 1/44100 s of virtual time (silence while no buffer plays).
std::vector<int16_t> headless_heard_sound();
// Hands the heard sound, as it is played, to `sink` (`count` stereo frames at `frames`)
// instead of keeping it, so a long run needs no memory for it; headless_heard_sound then
// holds nothing. Called with the sound lock held, by the thread that moves the clock.
// headless_reset removes it.
void headless_set_sound_sink(std::function<void(const int16_t* frames, size_t count)> sink);
HeadlessSoundStats headless_sound_stats();
// Makes the playing buffer lost until it is restored: at once, or when it is next locked
// (after its position was read).
void headless_lose_sound_buffer(bool at_next_lock = false);
// The addresses the show asked the desktop to open, in order.
std::vector<std::string> headless_opened_addresses();

// Display surfaces made and not yet released, across resets (a reset does not free what the
// show still holds).
int headless_live_surfaces();
// Makes the current surfaces lost (locks fail) until they are made again.
void headless_lose_surfaces();
// Puts a message into the window's queue as if the window system had sent it.
void headless_post(uint32_t message, uintptr_t wParam, intptr_t lParam);
// Moves or sizes the window as a user would (WM_MOVE / WM_SIZE follow).
void headless_user_move(int left, int top);
void headless_user_size(int outer_width, int outer_height);
void headless_user_minimise();

// Runs `body` (the show, or a piece of it) and returns the exit code it ended with, or -1
// when it returned without ending the process.
int headless_run(const std::function<void()>& body);
