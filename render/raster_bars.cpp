#include "render/raster_bars.h"

#include <cmath>

#include "render/framebuffer.h"

uint32_t raster_bar_colour(int32_t s, int32_t f, int32_t i, int32_t j) {
  int32_t k = (s + 2 * i + j) & 31;
  // The first entry weighs 65535, not 65536, so a whole step comes out one level low.
  int32_t h = (BarRamp[k] * (65535 - f) + BarRamp[k + 1] * f) >> 16;
  BarTint tint = bar_tint(i);
  uint32_t r = static_cast<uint32_t>((h * tint.red) >> 8);
  uint32_t g = static_cast<uint32_t>((h * tint.green) >> 8);
  uint32_t b = static_cast<uint32_t>((h * tint.blue) >> 8);
  return ((r << 16) + (g << 8) + b) & PreparedMask;
}

void draw_raster_bars(float t) {
  double a = std::sin(static_cast<double>(t) * 0.01) * 150.0;
  // Only the positive side is reduced; a negative phase reaches down to -150.
  while (a >= 64.0) {
    a -= 64.0;
  }
  int32_t s = float_to_int(a);
  // The fraction of the two's-complement 16.16 value, not of floor(a).
  int32_t f = float_to_int(a * 65536.0) & 0xffff;
  for (int32_t i = 0; i < RasterBarCount; ++i) {
    for (int32_t j = 0; j < RasterBarRows; ++j) {
      int32_t row = RasterBarFirstRow + RasterBarRows * i + j;
      add_colour_to_run(Framebuffer.pixels + row * Framebuffer.width, Framebuffer.width,
                        raster_bar_colour(s, f, i, j));
    }
  }
}
