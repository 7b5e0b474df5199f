#include "render/scroller.h"

#include <cmath>
#include <cstring>

#include "assets/disk.h"
#include "assets/scroll_text.h"
#include "render/font.h"
#include "render/framebuffer.h"

uint32_t* ScrollStrip = nullptr;
int32_t ScrollPos = 200;
uint32_t ScrollTextIndex = 0;
float LastScrollPhase = 0.0f;

namespace {

constexpr int32_t RefillLimit = ScrollStripWidth - 64;  // a glyph placed before it fits
constexpr int32_t ScrollSpace = 17;
constexpr int32_t GlyphGap = 2;
constexpr int32_t TextTopRow = 234;     // frame row of strip row 0 at wave offset 0
constexpr int32_t TextRows = 37;        // strip rows 0 to 36 are shown
constexpr int32_t ReflectionRow = 271;  // first row below the water line

// Pixels of scroll per unit of phase: 24, so 7.2 per time unit and 144 per second.
constexpr double PixelsPerPhase = 24.0;

void shift_strip(int32_t shift) {
  for (int32_t y = 0; y < ScrollStripRows; ++y) {
    uint32_t* row = ScrollStrip + y * ScrollStripWidth;
    std::memmove(row, row + shift, static_cast<size_t>(ScrollStripWidth - shift) * 4);
    std::memset(row + ScrollStripWidth - shift, 0, static_cast<size_t>(shift) * 4);
  }
}

void refill_strip(const unsigned char* text) {
  while (ScrollPos < RefillLimit) {
    const unsigned char c = text[ScrollTextIndex++];
    if (c == 0) {
      ScrollTextIndex = 0;
    } else if (c == ' ') {
      ScrollPos += ScrollSpace;
    } else if (c > ' ') {
      ScrollPos += blit_glyph(ScrollStrip, ScrollStripWidth, c, ScrollPos, false) + GlyphGap;
    }
  }
}

}  // namespace

void draw_scroller(float t) { draw_scroller_text(t, CustomDisk ? CustomDisk->scrollText : ScrollText); }

void draw_scroller_text(float t, const unsigned char* text) {
  const float phase = static_cast<float>(0.3 * static_cast<double>(t));
  int8_t wave[WAVE_TABLE_SIZE];
  for (int32_t i = 0; i < WAVE_TABLE_SIZE; ++i) {
    wave[i] = static_cast<int8_t>(float_to_int(std::sin(i * 0.02 - static_cast<double>(phase)) * 15.0));
  }

  // The shift is the number of whole pixels the text's position (24 x phase) has passed
  // since the last shift. Taking the difference of the truncated positions, rather than
  // truncating the difference, keeps the fraction of every step for the next one: the
  // text then moves exactly 144 pixels per second at any frame rate.
  if (phase < LastScrollPhase) {
    // The show clock wrapped (after 2^32 ms): go on from the new phase.
    LastScrollPhase = phase;
  }
  int32_t shift = float_to_int(static_cast<double>(phase) * PixelsPerPhase) -
                  float_to_int(static_cast<double>(LastScrollPhase) * PixelsPerPhase);
  if (shift >= ScrollPos) shift = ScrollPos - 1;  // after a long stall
  if (shift > 0) {
    LastScrollPhase = phase;
    shift_strip(shift);
    ScrollPos -= shift;
    refill_strip(text);
  }

  uint32_t* frame = Framebuffer.pixels;
  const int32_t stride = Framebuffer.width;
  for (int32_t x = 0; x < Framebuffer.width; ++x) {
    const int32_t g = wave[x];
    const int32_t n = g <= 0 ? TextRows : TextRows - g;
    // The text: every strip pixel of rows 0 to n - 1 is added, empty ones included.
    uint32_t* out = frame + (TextTopRow + g) * stride + x;
    const uint32_t* in = ScrollStrip + x;
    for (int32_t r = 0; r < n; ++r) {
      *out = saturating_add(*in & PreparedMask, *out & PreparedMask);
      out += stride;
      in += ScrollStripWidth;
    }
    // The reflection: half height, quarter brightness, mirrored, moving away from the
    // water line by half as much as the text rises above it.
    const int32_t gb = g <= 0 ? g : 0;
    out = frame + (ReflectionRow + gb - ((3 * gb) >> 1)) * stride + x;
    in = ScrollStrip + n * ScrollStripWidth + x;
    for (int32_t r = 0; r < (n >> 1); ++r) {
      if (*in != 0) *out = saturating_add(quarter_brightness(*in), *out & PreparedMask);
      out += stride;
      in -= 2 * ScrollStripWidth;
    }
  }
}

void reset_scroller_state() {
  ScrollPos = 200;
  ScrollTextIndex = 0;
  LastScrollPhase = 0.0f;
}
