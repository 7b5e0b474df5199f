// Font strips made in the test: glyph g (code 32 + g) is cycle_width(32 + g) columns of one
// level in rows 1 to 38, glyphs one empty column apart, the strip starting with one empty
// column.
#pragma once
#include <vector>

#include "render/font.h"

// 2 to 8 columns, repeating: code 32 is 2 wide, 'A' (65) 7, 'B' 8, code 130 2.
constexpr int cycle_width(int code) { return 2 + (code - 32) % 7; }

struct SyntheticFont {
  std::vector<uint8_t> levels;
  std::vector<int> starts;  // first column of each glyph, by construction
  int width = 1;

  // `glyphs` glyphs and `tail` empty columns after the last one.
  explicit SyntheticFont(int glyphs, int tail = 1) {
    for (int g = 0; g < glyphs; ++g) {
      starts.push_back(width);
      width += cycle_width(32 + g) + 1;
    }
    width += tail - 1;
    levels.assign(static_cast<size_t>(width) * 52, 0);
    for (int g = 0; g < glyphs; ++g)
      for (int x = 0; x < cycle_width(32 + g); ++x)
        for (int y = 1; y <= 38; ++y) set(starts[static_cast<size_t>(g)] + x, y, static_cast<uint8_t>(1 + (g + x + y) % 15));
  }
  void set(int x, int y, uint8_t level) { levels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = level; }
  void build() {
    free_font();
    build_font_from(FontStripRecord{static_cast<uint16_t>(width), 52, levels.data()});
  }
};
