// The show's main sequence, its frame loop and show clock.
#pragma once
#include <cstdint>

// The tick count at which the show time starts (after all unpacking and the first tune).
extern uint32_t ShowStartTick;

constexpr int32_t FrameWidth = 400;
constexpr int32_t FrameHeight = 300;

// Show time t: 20 units per second of elapsed milliseconds, held in single precision, and
// the plane's turn value derived from it.
struct ShowClock {
  float t;
  float turn;
};
// elapsed x 0.02 in double, stored as float; turn = 200 cos(0.01 x t) + 100 sin(0.007 x t),
// the cosine taking the double product, the sine the rounded t.
ShowClock show_clock(uint32_t elapsed_ms);

// Start-up, the frame loop until Escape, shutdown. 1 after a normal end, 0 when the window
// or display could not be brought up.
int run_show();
// The process's exit code: 1 once any error has been reported (the show could not start,
// ran out of memory, or lost its display), else 0, also when the user ends the show.
int show_exit_code();
// Passes until KeyState[27] (Escape) is held; a pass that has begun is always presented.
// The loop is begin_frame_loop, then frame_pass while show_ended is false; a host that
// hands each frame to its own event loop (the browser's animation frames) calls the same
// steps.
void frame_loop();
// Sets the menu's two guards to the current tick count, once before the first pass.
void begin_frame_loop();
// One pass: messages, clock, menu, every effect in drawing order, and the present.
void frame_pass();
// True once Escape is held: no further pass begins.
bool show_ended();
// The main sequence in its two halves around the frame loop. start_show loads the disk
// (driver/disk.h) and brings up the window and display (false, with the error reported,
// when either fails), unpacks everything,
// starts the first tune and the show clock; end_show frees the show buffers, stops the tune
// and closes the window, which ends the process.
bool start_show();
void end_show();
// Frees the frame buffer, the logo picture and the sprite picture, in that order.
void free_show_buffers();

// Puts every program-wide value of the show back to its start value, so that the show can
// run again in the same process (the headless tools and tests do).
void reset_show_state();
