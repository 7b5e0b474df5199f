#include "render/logo_swing.h"

#include <cmath>
#include <cstring>

#include "render/framebuffer.h"
#include "render/graphics.h"

int32_t logo_offset(float t) {
  const double a = std::sin(static_cast<double>(t) * 0.06);
  return float_to_int(a * 250.0 + 120.0);
}

void draw_logo_swing(float t) {
  const int32_t width = Framebuffer.width;
  const int32_t offset = logo_offset(t);
  int32_t first = offset;
  int32_t margin = 0;
  int32_t n = width;
  if (offset < 0) {
    first = 0;
    margin = -offset;
    n = width - margin;
  }
  if (first + n >= LogoWidth) {
    n = LogoWidth - first;  // never past the picture's right edge
  }
  for (int32_t r = 0; r < LogoHeight; ++r) {
    uint32_t* row = Framebuffer.pixels + (LogoBandFirstRow + r) * width;
    std::memset(row, 0, static_cast<size_t>(margin) * 4);
    std::memcpy(row + margin, LogoPicture + r * LogoWidth + first, static_cast<size_t>(n) * 4);
    std::memset(row + margin + n, 0, static_cast<size_t>(width - margin - n) * 4);
  }
}
