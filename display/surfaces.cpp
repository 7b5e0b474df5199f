#include "display/surfaces.h"

#include "display/window.h"
#include "render/framebuffer.h"

int32_t DisplayDepth = 0;
DisplaySurfaces Surfaces = {};

void reset_surface_state() {
  release_display();
  Surfaces.device = nullptr;
  DisplayDepth = 0;
}

bool init_display() {
  if (Surfaces.device == nullptr && !create_display_device(&Surfaces.device)) {
    Surfaces.device = nullptr;
    return false;
  }
  bool ok = Windowed ? init_windowed_surfaces() : init_fullscreen_surfaces();
  if (!ok) {
    return false;
  }
  DisplayReady = 1;
  return true;
}

bool init_windowed_surfaces() {
  DisplayDevice* device = Surfaces.device;
  if (!device->set_cooperative_level(false)) {
    return false;
  }
  read_client_rects();

  if (!device->create_primary_surface(false, &Surfaces.primary)) {
    Surfaces.primary = nullptr;
    return false;
  }
  DisplayClipper* clipper = nullptr;
  if (!device->create_clipper(&clipper)) {
    return false;
  }
  clipper->set_window();
  Surfaces.primary->set_clipper(clipper);
  clipper->release();

  // As large as the whole window, so it always holds the converted frame.
  if (!device->create_offscreen_surface(OuterWidth, OuterHeight, &Surfaces.back)) {
    Surfaces.back = nullptr;
    return false;
  }
  Surfaces.back_width = OuterWidth;
  Surfaces.back_height = OuterHeight;
  if (!detect_pixel_format()) {
    return false;
  }
  show_cursor(true);
  Windowed = 1;
  return true;
}

bool init_fullscreen_surfaces() {
  DisplayDevice* device = Surfaces.device;
  if (!device->set_cooperative_level(true)) {
    return false;
  }
  if (!negotiate_display_mode(Framebuffer.width, Framebuffer.height)) {
    return false;
  }
  ClientRect = {0, 0, Framebuffer.width, Framebuffer.height};
  ScreenRect = ClientRect;
  if (!device->create_primary_surface(true, &Surfaces.primary)) {
    Surfaces.primary = nullptr;
    return false;
  }
  if (!Surfaces.primary->get_attached_back_buffer(&Surfaces.back)) {
    Surfaces.back = nullptr;
    return false;
  }
  Surfaces.back_width = OuterWidth;
  Surfaces.back_height = OuterHeight;
  if (!detect_pixel_format()) {
    return false;
  }
  Windowed = 0;
  show_cursor(false);
  return true;
}

bool negotiate_display_mode(int32_t width, int32_t height) {
  static constexpr int32_t Depths[] = {32, 24, 16, 15};
  OuterWidth = width;
  OuterHeight = height;
  for (int32_t depth : Depths) {
    DisplayDepth = depth;
    if (try_display_mode(OuterWidth, OuterHeight, depth)) {
      return true;
    }
  }
  OuterWidth = 2 * width;
  OuterHeight = 2 * height;
  for (int32_t depth : Depths) {
    DisplayDepth = depth;
    if (try_display_mode(OuterWidth, OuterHeight, depth)) {
      return true;
    }
  }
  return false;
}

bool try_display_mode(int32_t width, int32_t height, int32_t depth) {
  return Surfaces.device->set_display_mode(width, height, depth);
}

bool detect_pixel_format() {
  PixelFormat format = {};
  if (!Surfaces.primary->get_pixel_format(&format)) {
    return false;
  }
  DisplayDepth = static_cast<int32_t>(format.rgbBitCount);
  if (DisplayDepth == 16) {
    // A 5-5-5 layout reports itself as 16 bits; its green mask tells.
    if (count_bits(format.greenMask) < 6) {
      DisplayDepth = 15;
    }
    return true;
  }
  return DisplayDepth >= 15;
}

void release_display() {
  DisplayReady = 0;
  if (Surfaces.device == nullptr) {
    return;
  }
  Surfaces.device->set_cooperative_level(false);
  Surfaces.device->restore_display_mode();
  if (Surfaces.back != nullptr) {
    Surfaces.back->release();
    Surfaces.back = nullptr;
  }
  if (Surfaces.primary != nullptr) {
    Surfaces.primary->release();
    Surfaces.primary = nullptr;
  }
  Surfaces.back_width = 0;
  Surfaces.back_height = 0;
}
