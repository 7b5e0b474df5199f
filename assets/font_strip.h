// The font strip: the show's one proportional font, glyphs side by side from code 32, one
// byte per pixel holding a coverage level 0 to 15. Made at build time from
// assets/font/font_strip.png.
#pragma once
#include <cstdint>

struct FontStripRecord {
  uint16_t width;          // columns
  uint16_t height;         // rows (52)
  const uint8_t* levels;   // width x height, row-major
};

extern const FontStripRecord FontStrip;
