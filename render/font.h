// The show's proportional bitmap font and the text rasteriser.
//
// The built-in strip is tinted into 32-bit pixels once at start-up and its glyphs are found
// by the empty columns between them. Glyph g draws character code first_char + g.
#pragma once
#include <cstdint>

#include "assets/font_strip.h"

struct FontRecord {
  uint16_t width;          // strip width in pixels
  uint16_t height;         // strip height in rows
  uint32_t* pixels;        // width x height tinted pixels (not prepared colours)
  uint16_t first_char;     // code of glyph 0: 32
  uint16_t glyph_count;
  uint16_t glyph_start[256];  // first column of glyph g
  uint16_t glyph_end[256];    // one past its last column
};

extern FontRecord Font;

// Level l is tinted to modulate_colour(l x 0x101010, FONT_COLOUR): 15 gives (105, 120, 165).
constexpr uint32_t FONT_COLOUR = 0x7080b0;

// Tints the built-in strip, finds its glyphs, and allocates the scroller's strip (empty).
void build_font();
// The same for any strip (the tools and tests). Font's pixels come from alloc_block.
void build_font_from(const FontStripRecord& strip);
// Gives back what build_font allocated (for runs of the show in one process).
void free_font();

// Rows of `column` whose tinted pixel has a non-zero blue byte; 0 for column == width.
int32_t column_coverage(int32_t column);
// Width of the glyph for `code`, 0 when there is none.
int32_t glyph_width(int32_t code);
// Copies the glyph for `code` opaquely into rows 0 to height - 2 of `target` (row length
// `stride`) from column x; halved pixels become (p >> 1) & 0x7e7e7e. Returns the width (0
// and nothing drawn for a code without a glyph). No clipping: the glyph must fit the row.
int32_t blit_glyph(uint32_t* target, int32_t stride, int32_t code, int32_t x, bool halved);

// The measure draw_centred_text centres by: 10 per space, glyph width + 1 for any other
// character ('#' measured as code 130).
int32_t measure_text(const char* text);
// Draws a NUL-terminated text centred on the row length, halved, into rows 0 to 50 of
// `target`. '#' draws the glyph of code 130 (e with acute accent); characters below 32 and
// from 128 up are skipped. The text must measure at most `stride`.
void draw_centred_text(const char* text, uint32_t* target, int32_t stride);
