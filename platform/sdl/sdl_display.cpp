// The SDL2 backend's display device: the renderer of the show's window. Surfaces with
// memory are streaming textures in the format of their depth (32: XRGB8888, 24: bytes blue,
// green, red, 16: 5-6-5, 15: 5-5-5); presenting them (the blit in a window, the flip
// fullscreen) waits for the vertical retrace.
//
// Fullscreen: a mode the screen lists (size and depth) is set as a real mode; any other is
// shown on the desktop's own mode, the back buffer scaled to the largest centred 4:3 area on
// black, since today's screens rarely list the frame size or twice the frame size.
#include <algorithm>

#include "platform/display_device.h"
#include "platform/sdl/sdl_backend.h"

uint32_t SdlLostGeneration = 0;

namespace {

struct Mode {
  int width = 0, height = 0, depth = 0;
};

bool Exclusive = false;
Mode FullscreenMode;  // depth 0 while no fullscreen mode is set

// The depth a pixel format stands for here: 32, 24, 16 (5-6-5), 15 (5-5-5), or 8 for
// anything else (palettes and the like), which the show refuses.
int depth_of_format(uint32_t format) {
  switch (SDL_BYTESPERPIXEL(format)) {
    case 4: return 32;
    case 3: return 24;
    case 2: return SDL_BITSPERPIXEL(format) == 15 ? 15 : 16;
    default: return 8;
  }
}

uint32_t format_of_depth(int depth) {
  switch (depth) {
    case 32: return SDL_PIXELFORMAT_RGB888;
    case 24: return SDL_PIXELFORMAT_BGR24;
    case 16: return SDL_PIXELFORMAT_RGB565;
    case 15: return SDL_PIXELFORMAT_RGB555;
    default: return SDL_PIXELFORMAT_UNKNOWN;
  }
}

int desktop_depth() {
  const int display = SDL_GetWindowDisplayIndex(SdlWindow);
  SDL_DisplayMode mode;
  if (display < 0 || SDL_GetDesktopDisplayMode(display, &mode) != 0) {
    return 32;
  }
  return depth_of_format(mode.format);
}

// The largest area of `aspect_w`:`aspect_h` that fits the renderer's output, centred.
SDL_Rect centred_area(int aspect_w, int aspect_h) {
  int ow = 0, oh = 0;
  SDL_GetRendererOutputSize(SdlRenderer, &ow, &oh);
  int w = ow;
  int h = static_cast<int>(static_cast<int64_t>(ow) * aspect_h / aspect_w);
  if (h > oh) {
    h = oh;
    w = static_cast<int>(static_cast<int64_t>(oh) * aspect_w / aspect_h);
  }
  return {(ow - w) / 2, (oh - h) / 2, w, h};
}

class SdlClipper final : public DisplayClipper {
 public:
  // SDL draws only into the window's own area: there is nothing to clip against.
  bool set_window() override { return SdlWindow != nullptr; }
  void release() override {
    if (--refs == 0) {
      delete this;
    }
  }
  int refs = 1;
};

class SdlSurface final : public DisplaySurface {
 public:
  SdlSurface(int w, int h, int d) : width(w), height(h), depth(d), generation(SdlLostGeneration) {}

  // Makes the texture; false when the renderer cannot.
  bool make_texture(SDL_ScaleMode scale) {
    const uint32_t format = format_of_depth(depth);
    if (format == SDL_PIXELFORMAT_UNKNOWN || width <= 0 || height <= 0) {
      return false;
    }
    texture = SDL_CreateTexture(SdlRenderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (texture == nullptr) {
      return false;
    }
    SDL_SetTextureScaleMode(texture, scale);
    return true;
  }

  bool lost() const { return generation != SdlLostGeneration; }

  bool lock(SurfaceLock* lock) override {
    if (texture == nullptr || lost() || locked) {
      return false;
    }
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0) {
      return false;
    }
    locked = true;
    *lock = {static_cast<uint8_t*>(pixels), pitch, width, height};
    return true;
  }

  void unlock() override {
    if (locked) {
      SDL_UnlockTexture(texture);
      locked = false;
    }
  }

  bool get_pixel_format(PixelFormat* format) override {
    if (lost()) {
      return false;
    }
    switch (depth) {
      case 32:
      case 24: *format = {static_cast<uint32_t>(depth), 0xFF0000, 0x00FF00, 0x0000FF}; break;
      case 16: *format = {16, 0xF800, 0x07E0, 0x001F}; break;
      case 15: *format = {16, 0x7C00, 0x03E0, 0x001F}; break;
      default: *format = {8, 0, 0, 0}; break;
    }
    return true;
  }

  bool get_attached_back_buffer(DisplaySurface** out) override {
    if (back == nullptr) {
      return false;
    }
    ++back->refs;
    *out = back;
    return true;
  }

  bool set_clipper(DisplayClipper* c) override {
    auto* clipper_in = static_cast<SdlClipper*>(c);
    ++clipper_in->refs;
    if (clipper != nullptr) {
      clipper->release();
    }
    clipper = clipper_in;
    return true;
  }

  // The window's primary: `dest_rect` is in screen coordinates, as the window's client area.
  bool blt(const Rect& dest_rect, DisplaySurface* source, const Rect& source_rect) override {
    auto* src = static_cast<SdlSurface*>(source);
    if (lost() || src->texture == nullptr || src->lost() || src->locked) {
      return false;
    }
    // The source rectangle within the surface (a window can outgrow its back surface until
    // its size message has rebuilt it).
    const int left = std::clamp(source_rect.left, 0, src->width);
    const int top = std::clamp(source_rect.top, 0, src->height);
    const SDL_Rect from = {left, top, std::clamp(source_rect.right, 0, src->width) - left,
                           std::clamp(source_rect.bottom, 0, src->height) - top};
    if (from.w <= 0 || from.h <= 0) {
      return false;
    }
    // Screen to window coordinates, then to the renderer's pixels (more than the window's
    // on a high-density screen).
    int wx = 0, wy = 0, ww = 1, wh = 1, ow = 1, oh = 1;
    SDL_GetWindowPosition(SdlWindow, &wx, &wy);
    SDL_GetWindowSize(SdlWindow, &ww, &wh);
    SDL_GetRendererOutputSize(SdlRenderer, &ow, &oh);
    const auto sx = [&](int x) { return static_cast<int>(static_cast<int64_t>(x - wx) * ow / std::max(ww, 1)); };
    const auto sy = [&](int y) { return static_cast<int>(static_cast<int64_t>(y - wy) * oh / std::max(wh, 1)); };
    const SDL_Rect to = {sx(dest_rect.left), sy(dest_rect.top), sx(dest_rect.right) - sx(dest_rect.left),
                         sy(dest_rect.bottom) - sy(dest_rect.top)};
    SDL_SetRenderDrawColor(SdlRenderer, 0, 0, 0, 255);
    SDL_RenderClear(SdlRenderer);
    SDL_RenderCopy(SdlRenderer, src->texture, &from, &to);
    SDL_RenderPresent(SdlRenderer);
    return true;
  }

  bool flip() override {
    if (lost() || back == nullptr || back->texture == nullptr || back->lost() || back->locked) {
      return false;
    }
    const SDL_Rect to = centred_area(4, 3);
    SDL_SetRenderDrawColor(SdlRenderer, 0, 0, 0, 255);
    SDL_RenderClear(SdlRenderer);
    SDL_RenderCopy(SdlRenderer, back->texture, nullptr, &to);
    SDL_RenderPresent(SdlRenderer);
    return true;
  }

  void release() override {
    if (--refs > 0) {
      return;
    }
    unlock();
    if (back != nullptr) {
      back->release();
      back = nullptr;
    }
    if (clipper != nullptr) {
      clipper->release();
      clipper = nullptr;
    }
    // Textures of a reset renderer are gone already; destroying them again is harmless in
    // SDL, which checks its objects.
    if (texture != nullptr) {
      SDL_DestroyTexture(texture);
    }
    delete this;
  }

  int width, height, depth;
  uint32_t generation;
  SDL_Texture* texture = nullptr;
  SdlSurface* back = nullptr;
  SdlClipper* clipper = nullptr;
  bool locked = false;
  int refs = 1;
};

// A real display mode of this size and depth in the screen's list, if there is one.
bool find_listed_mode(int width, int height, int depth, SDL_DisplayMode* found) {
  const int display = SDL_GetWindowDisplayIndex(SdlWindow);
  if (display < 0) {
    return false;
  }
  const int count = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(display, i, &mode) == 0 && mode.w == width && mode.h == height &&
        depth_of_format(mode.format) == depth) {
      *found = mode;
      return true;
    }
  }
  return false;
}

class SdlDevice final : public DisplayDevice {
 public:
  bool set_cooperative_level(bool exclusive) override {
    if (SdlWindow == nullptr) {
      return false;
    }
    Exclusive = exclusive;
    return true;
  }

  bool set_display_mode(int width, int height, int depth) override {
    if (!Exclusive || format_of_depth(depth) == SDL_PIXELFORMAT_UNKNOWN) {
      return false;
    }
    SDL_DisplayMode listed;
    bool set = false;
    if (find_listed_mode(width, height, depth, &listed)) {
      set = SDL_SetWindowDisplayMode(SdlWindow, &listed) == 0 &&
            SDL_SetWindowFullscreen(SdlWindow, SDL_WINDOW_FULLSCREEN) == 0;
    }
    if (!set) {
      set = SDL_SetWindowFullscreen(SdlWindow, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
    }
    sdl_deliver_own_window_messages();
    if (!set) {
      return false;
    }
    FullscreenMode = {width, height, depth};
    return true;
  }

  bool restore_display_mode() override {
    if (SdlWindow != nullptr && (SDL_GetWindowFlags(SdlWindow) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
      SDL_SetWindowFullscreen(SdlWindow, 0);
      sdl_deliver_own_window_messages();
    }
    FullscreenMode = {};
    return true;
  }

  bool create_primary_surface(bool flipping_chain, DisplaySurface** surface) override {
    if (!flipping_chain) {
      // The window's share of the desktop: nothing to lock, only blitted onto.
      *surface = new SdlSurface(0, 0, desktop_depth());
      return true;
    }
    if (!Exclusive || FullscreenMode.depth == 0) {
      return false;
    }
    auto* front = new SdlSurface(FullscreenMode.width, FullscreenMode.height, FullscreenMode.depth);
    auto* back = new SdlSurface(FullscreenMode.width, FullscreenMode.height, FullscreenMode.depth);
    // Smooth when the desktop's mode is larger than the frame's; a listed mode is 1:1.
    if (!back->make_texture(SDL_ScaleModeLinear)) {
      back->release();
      front->release();
      return false;
    }
    front->back = back;
    *surface = front;
    return true;
  }

  bool create_offscreen_surface(int width, int height, DisplaySurface** surface) override {
    // In the desktop's format, as an off-screen surface beside a windowed primary is.
    auto* s = new SdlSurface(width, height, desktop_depth());
    if (!s->make_texture(SDL_ScaleModeNearest)) {
      s->release();
      return false;
    }
    *surface = s;
    return true;
  }

  bool create_clipper(DisplayClipper** clipper) override {
    *clipper = new SdlClipper();
    return true;
  }
};

}  // namespace

bool create_display_device(DisplayDevice** device) {
  static SdlDevice* Device = nullptr;
  if (SdlWindow == nullptr || SdlRenderer == nullptr) {
    return false;
  }
  if (Device == nullptr) {
    Device = new SdlDevice();
  }
  *device = Device;
  return true;
}
