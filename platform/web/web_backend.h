// What the web backend's parts share: the calls into the page's side of the backend
// (web_library.js), which owns the canvas, the keys, the fullscreen state, Web Audio and the
// clock. Everything here runs on the page's one thread.
#pragma once
#include <cstdint>

extern "C" {
// The canvas and the page's key and fullscreen listeners; false when the page has no canvas.
bool md_canvas_open(int width, int height);
// Draws width x height RGBA pixels (alpha 255) onto the canvas.
void md_canvas_draw(const uint8_t* rgba, int width, int height);
// Asks the browser for fullscreen of the show's screen (true) or leaves it (false).
void md_fullscreen(bool on);
void md_cursor(bool visible);
void md_message_box(const char* text, const char* caption);
void md_open_address(const char* address);
// Ends the show's run: the page takes over (a final frame stays, and the show can start
// again). Never returns to the caller.
[[noreturn]] void md_exit(int code);

// The show's clock in milliseconds: still until the show starts, then real time, or in the
// page's test mode a virtual clock that moves on by one frame with each presented frame.
uint32_t md_clock_ticks();
// A frame has reached the canvas (the virtual clock's step).
void md_frame_presented();

// Web Audio: whether the page can make sound at all.
bool md_sound_available();
// The stream: `ring` (bytes of 16-bit stereo PCM) plays in a loop from offset 0 once the
// page has its audio running; `md_sound_written` hands it what the refill wrote there.
void md_sound_play(const uint8_t* ring, uint32_t bytes);
void md_sound_written(const uint8_t* ring, uint32_t offset, uint32_t bytes);
// The play cursor in bytes: how far the loop has been played (0 until the audio runs).
uint32_t md_sound_cursor();
void md_sound_stop();
}
