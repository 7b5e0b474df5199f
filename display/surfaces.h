// Display set-up and tear-down in either mode, the fullscreen mode search and the
// pixel-format detection.
#pragma once
#include <cstdint>

#include "platform/display_device.h"

// 32, 24, 16 (5-6-5) or 15 (5-5-5) bits per pixel, as presentation understands them.
extern int32_t DisplayDepth;

// The device and surfaces, null when released. The device is made once and kept.
struct DisplaySurfaces {
  DisplayDevice* device;
  DisplaySurface* primary;
  DisplaySurface* back;
  // The back surface's size in pixels as it was made; presentation never writes beyond it.
  int32_t back_width, back_height;
};
extern DisplaySurfaces Surfaces;

bool init_display();
bool init_windowed_surfaces();
bool init_fullscreen_surfaces();
// Safe to call when nothing exists; clears DisplayReady first.
void release_display();
bool negotiate_display_mode(int32_t width, int32_t height);
bool try_display_mode(int32_t width, int32_t height, int32_t depth);
bool detect_pixel_format();
constexpr int32_t count_bits(uint32_t mask) {
  int32_t n = 0;
  for (int i = 0; i < 32; ++i) {
    n += static_cast<int32_t>(mask & 1u);
    mask >>= 1;
  }
  return n;
}

void reset_surface_state();
