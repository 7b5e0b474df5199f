#include "render/framebuffer.h"

#include <cmath>
#include <cstring>

FramebufferRecord Framebuffer = {};
uint32_t RandomState = 1;

void set_frame_size(int32_t width, int32_t height) {
  Framebuffer.width = width;
  Framebuffer.height = height;
  Framebuffer.pixel_count = width * height;
  Framebuffer.byte_size = width * height * 4;
}

void add_colour_to_run(uint32_t* run, int32_t count, uint32_t colour) {
  // Four pixels per step, saturating_add on each lane.
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    PixelLanes s;
    std::memcpy(&s, run + i, 16);
    s += colour;
    const PixelLanes c = s & 0x1010100u;
    s |= c - (c >> 8);
    std::memcpy(run + i, &s, 16);
  }
  for (; i < count; ++i) {
    run[i] = saturating_add(run[i], colour);
  }
}

void reset_random() { RandomState = 1; }

int32_t lcg_next() {
  RandomState = RandomState * 214013u + 2531011u;
  return static_cast<int32_t>((RandomState >> 16) & 0x7fff);
}

double random_below(float x) {
  return static_cast<double>(lcg_next()) * static_cast<double>(x) * 0.000030517578125;
}

int32_t float_to_int(double v) {
  // 2^63: the first value the 64-bit conversion cannot hold.
  if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) {
    return 0;
  }
  auto wide = static_cast<int64_t>(v);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

int32_t ceil_fixed(double v) {
  uint32_t s = 65535u - static_cast<uint32_t>(float_to_int(-65536.0 * v));
  return static_cast<int32_t>(s) >> 16;
}
