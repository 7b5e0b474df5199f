#include "render/plane.h"

#include <cmath>
#include <cstring>

#include "platform/blocks.h"
#include "render/framebuffer.h"

uint32_t* PlaneColours = nullptr;

void build_plane_colours() {
  int32_t height = Framebuffer.height;
  PlaneColours = static_cast<uint32_t*>(alloc_block(static_cast<size_t>(height) * 8));
  for (int32_t i = 0; i < height; ++i) {
    uint32_t grey = static_cast<uint32_t>(plane_level(i)) * 0x010101u;
    PlaneColours[2 * i] = modulate_colour(0x405070, grey);
    PlaneColours[2 * i + 1] = modulate_colour(0x304060, grey);
  }
}

void draw_plane(uint32_t* target, float near_far_a, float near_far_b, float angle, float camera_u,
                float camera_v) {
  const int32_t width = Framebuffer.width;
  const float theta = static_cast<float>(static_cast<double>(angle) * 0.01);
  const int32_t rows = Framebuffer.height - PlaneFirstRow;
  if (rows <= 0) {
    return;
  }
  // The camera offsets wrap modulo 2^32 as the show time grows; only sign bits are read.
  const uint32_t d = static_cast<uint32_t>(float_to_int(static_cast<double>(camera_u) * 2048.0 * 65536.0));
  const uint32_t e = static_cast<uint32_t>(float_to_int(static_cast<double>(camera_v) * 1024.0 * 65536.0));
  float o = static_cast<float>(1.0 / static_cast<double>(near_far_a));
  const float step = static_cast<float>((1.0 / static_cast<double>(near_far_b) - static_cast<double>(o)) / rows);
  const float sin_scaled = static_cast<float>(std::sin(static_cast<double>(theta)) * 65536.0);
  const float cos_scaled = static_cast<float>(std::cos(static_cast<double>(theta)) * 65536.0);
  const uint32_t half = static_cast<uint32_t>(width >> 1);
  const uint32_t r_count = static_cast<uint32_t>(rows);

  for (int32_t i = 0; i < rows; ++i) {
    const double z = 1.0 / static_cast<double>(o);
    const uint32_t ds = static_cast<uint32_t>(float_to_int(static_cast<double>(sin_scaled) * z));
    const uint32_t dc = static_cast<uint32_t>(float_to_int(static_cast<double>(cos_scaled) * z));
    o = static_cast<float>(static_cast<double>(o) + static_cast<double>(step));

    uint32_t u = d - dc * half - ds * r_count;
    uint32_t v = e + dc * r_count - ds * half;
    // The colour is colours[(u >> 31) + (v >> 31)]: entry 2 is the next row's first colour
    // (there is one: the plane starts below row 0, and the table has a pair per frame row).
    const uint32_t* colours = PlaneColours + 2 * i;
    uint32_t* out = target + (PlaneFirstRow + i) * width;
    // Four pixels per step: each lane's top bits of u and v, as all-ones masks, pick one of
    // the three colours.
    int32_t x = 0;
    PixelLanes us = {u, u + dc, u + 2 * dc, u + 3 * dc};
    PixelLanes vs = {v, v + ds, v + 2 * ds, v + 3 * ds};
    for (; x + 4 <= width; x += 4) {
      const PixelLanes mu = reinterpret_cast<PixelLanes>(reinterpret_cast<PixelLanesSigned>(us) >> 31);
      const PixelLanes mv = reinterpret_cast<PixelLanes>(reinterpret_cast<PixelLanesSigned>(vs) >> 31);
      const PixelLanes both = mu & mv, one = mu ^ mv;
      const PixelLanes pixels = (~(both | one) & colours[0]) | (one & colours[1]) | (both & colours[2]);
      std::memcpy(out + x, &pixels, 16);
      us += 4 * dc;
      vs += 4 * ds;
    }
    u = us[0];
    v = vs[0];
    for (; x < width; ++x) {
      out[x] = colours[(u >> 31) + (v >> 31)];
      u += dc;
      v += ds;
    }
  }
}
