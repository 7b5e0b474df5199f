// The sine scroller: a long text moving right to left near the bottom of the frame, each
// column bobbing on a travelling sine wave, cut at the water line (between frame rows 270
// and 271), with a darker, squashed, mirrored reflection below it.
#pragma once
#include <cstdint>

// The off-screen strip the glyphs are laid into: 640 x 128 pixels, made by build_font.
constexpr int32_t ScrollStripWidth = 640;
constexpr int32_t ScrollStripRows = 128;
extern uint32_t* ScrollStrip;

// Strip column where the next glyph goes (starts at 200), index of the next character of
// the text, and the phase of the last shift.
extern int32_t ScrollPos;
extern uint32_t ScrollTextIndex;
extern float LastScrollPhase;

constexpr int32_t WAVE_TABLE_SIZE = 1024;

// One frame of the scroller at show time t, with the disk's text (the built-in ScrollText
// unless a disk block brought another).
void draw_scroller(float t);
// The same with any NUL-terminated text of code page 437 bytes (bytes 1 to 31 are
// ignored); it must hold a character of code 32 or above.
void draw_scroller_text(float t, const unsigned char* text);

// Puts ScrollPos, ScrollTextIndex and LastScrollPhase back to their start values.
void reset_scroller_state();
