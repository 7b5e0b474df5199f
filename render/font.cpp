#include "render/font.h"

#include <vector>

#include "assets/disk.h"
#include "platform/blocks.h"
#include "render/framebuffer.h"
#include "render/scroller.h"

FontRecord Font = {};

namespace {

// The character that stands for e with acute accent in menu texts, and its glyph's code.
constexpr char AcuteStandIn = '#';
constexpr int32_t AcuteCode = 130;
constexpr int32_t MenuSpace = 10;

}  // namespace

void build_font_from(const FontStripRecord& strip) {
  Font.width = strip.width;
  Font.height = strip.height;
  const size_t count = static_cast<size_t>(strip.width) * strip.height;
  Font.pixels = static_cast<uint32_t*>(alloc_block(count * 4));
  uint32_t tint[256];
  for (uint32_t level = 0; level < 256; ++level) tint[level] = modulate_colour(level * 0x101010u, FONT_COLOUR);
  // Level 0 tints to 0, which the zero-filled block already holds: rows of the strip that
  // are empty leave their pages untouched. The columns with coverage (a non-zero blue byte)
  // are marked on the way, row by row, rather than read back a column at a time.
  std::vector<uint8_t> covered(static_cast<size_t>(strip.width) + 1, 0);
  for (size_t row = 0; row < count; row += strip.width) {
    for (size_t x = 0; x < strip.width; ++x) {
      const uint8_t level = strip.levels[row + x];
      if (level == 0) continue;
      Font.pixels[row + x] = tint[level];
      covered[x] |= (tint[level] & 0xff) != 0 ? 1 : 0;
    }
  }
  // Glyph scan. A strip that ends in empty columns yields one more glyph of width 0 at its
  // end. The tables hold 256 glyphs; the build refuses a strip with more, and the scan
  // stops there rather than write past them.
  int32_t c = 0;
  int32_t n = 0;
  while (c < Font.width && n < 256) {
    while (c < Font.width && !covered[c]) ++c;
    Font.glyph_start[n] = static_cast<uint16_t>(c);
    while (c < Font.width && covered[c]) ++c;
    Font.glyph_end[n] = static_cast<uint16_t>(c);
    ++n;
  }
  Font.glyph_count = static_cast<uint16_t>(n);
  Font.first_char = 32;
}

void build_font() {
  build_font_from(CustomDisk && CustomDisk->font ? *CustomDisk->font : FontStrip);
  // Starts empty: the block comes zero-filled.
  ScrollStrip = static_cast<uint32_t*>(alloc_block(ScrollStripWidth * ScrollStripRows * 4));
}

void free_font() {
  free_block(Font.pixels);
  Font = FontRecord{};
  free_block(ScrollStrip);
  ScrollStrip = nullptr;
}

int32_t column_coverage(int32_t column) {
  if (column >= Font.width) return 0;
  int32_t count = 0;
  for (int32_t y = 0; y < Font.height; ++y) {
    count += (Font.pixels[y * Font.width + column] & 0xff) != 0 ? 1 : 0;
  }
  return count;
}

int32_t glyph_width(int32_t code) {
  const int32_t g = code - Font.first_char;
  if (g < 0 || g >= Font.glyph_count) return 0;
  return Font.glyph_end[g] - Font.glyph_start[g];
}

int32_t blit_glyph(uint32_t* target, int32_t stride, int32_t code, int32_t x, bool halved) {
  const int32_t width = glyph_width(code);
  if (width == 0) return 0;
  const uint32_t* source = Font.pixels + Font.glyph_start[code - Font.first_char];
  uint32_t* out = target + x;
  for (int32_t y = 0; y < Font.height - 1; ++y) {
    for (int32_t i = 0; i < width; ++i) {
      out[i] = halved ? half_brightness(source[i]) : source[i];
    }
    source += Font.width;
    out += stride;
  }
  return width;
}

int32_t measure_text(const char* text) {
  int32_t total = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto ch = static_cast<int8_t>(*p);
    if (ch == ' ') {
      total += MenuSpace;
    } else {
      total += glyph_width(ch == AcuteStandIn ? AcuteCode : ch) + 1;
    }
  }
  return total;
}

void draw_centred_text(const char* text, uint32_t* target, int32_t stride) {
  int32_t x = (stride - measure_text(text)) >> 1;
  for (const char* p = text; *p != '\0'; ++p) {
    // Signed: codes from 128 up are negative and skipped with those below 32.
    const auto ch = static_cast<int8_t>(*p);
    if (ch == ' ') {
      x += MenuSpace;
    } else if (ch == AcuteStandIn) {
      x += blit_glyph(target, stride, AcuteCode, x, true) + 1;
    } else if (ch > ' ') {
      x += blit_glyph(target, stride, ch, x, true) + 1;
    }
  }
}
