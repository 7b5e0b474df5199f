// The web backend's display device: surfaces are 32-bit memory, and the primary surface is
// the canvas. A blit or a flip turns the frame's 0x00RRGGBB words into the canvas's RGBA
// bytes and draws them. Fullscreen is the browser's fullscreen of the show's screen with the
// one display mode of the frame's own size; the page scales it up by whole pixels.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/display_device.h"
#include "platform/web/web_backend.h"

namespace {

int ModeWidth = 0, ModeHeight = 0;

class WebSurface final : public DisplaySurface {
 public:
  WebSurface(int width, int height, bool primary)
      : width_(width), height_(height), primary_(primary), pixels_(static_cast<size_t>(width) * height, 0) {}

  bool lock(SurfaceLock* lock) override {
    if (primary_) return false;
    *lock = {reinterpret_cast<uint8_t*>(pixels_.data()), width_ * 4, width_, height_};
    return true;
  }
  void unlock() override {}
  bool get_pixel_format(PixelFormat* format) override {
    *format = {32, 0xff0000, 0x00ff00, 0x0000ff};
    return true;
  }
  bool get_attached_back_buffer(DisplaySurface** back) override {
    if (back_ == nullptr) return false;
    *back = back_;
    return true;
  }
  bool set_clipper(DisplayClipper*) override { return true; }
  bool blt(const Rect& dest_rect, DisplaySurface* source, const Rect& source_rect) override {
    if (!primary_ || source == nullptr) return false;
    // The window never moves or scales: the client area is the canvas, one to one.
    if (dest_rect.right - dest_rect.left != source_rect.right - source_rect.left ||
        dest_rect.bottom - dest_rect.top != source_rect.bottom - source_rect.top) {
      return false;
    }
    draw(*static_cast<WebSurface*>(source), source_rect);
    return true;
  }
  bool flip() override {
    if (back_ == nullptr) return false;
    draw(*back_, {0, 0, back_->width_, back_->height_});
    return true;
  }
  void release() override {
    delete back_;
    delete this;
  }
  void attach_back_buffer() { back_ = new WebSurface(width_, height_, false); }

 private:
  void draw(const WebSurface& source, const Rect& r) {
    const int w = std::min(r.right, source.width_) - r.left;
    const int h = std::min(r.bottom, source.height_) - r.top;
    if (w <= 0 || h <= 0 || r.left < 0 || r.top < 0) return;
    // One word per pixel, R G B A in memory order (little-endian): whole-word masks and
    // shifts, which the compiler vectorises.
    rgba_.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    uint32_t* out = rgba_.data();
    for (int y = 0; y < h; ++y) {
      const uint32_t* row = source.pixels_.data() + static_cast<size_t>(r.top + y) * source.width_ + r.left;
      for (int x = 0; x < w; ++x) {
        const uint32_t p = row[x];
        out[x] = 0xff000000u | ((p & 0xff) << 16) | (p & 0xff00) | ((p >> 16) & 0xff);
      }
      out += w;
    }
    md_canvas_draw(reinterpret_cast<const uint8_t*>(rgba_.data()), w, h);
    md_frame_presented();
  }

  int width_, height_;
  bool primary_;
  std::vector<uint32_t> pixels_;
  std::vector<uint32_t> rgba_;  // the canvas's pixels
  WebSurface* back_ = nullptr;
};

class WebClipper final : public DisplayClipper {
 public:
  bool set_window() override { return true; }
  void release() override { delete this; }
};

class WebDevice final : public DisplayDevice {
 public:
  bool set_cooperative_level(bool exclusive) override {
    md_fullscreen(exclusive);
    return true;
  }
  // The frame's own size only, at 32 bits: the page does the scaling, by whole pixels.
  bool set_display_mode(int width, int height, int depth) override {
    if (depth != 32 || width != ModeWidth || height != ModeHeight) return false;
    return true;
  }
  bool restore_display_mode() override { return true; }
  bool create_primary_surface(bool flipping_chain, DisplaySurface** surface) override {
    auto* primary = new WebSurface(ModeWidth, ModeHeight, true);
    if (flipping_chain) primary->attach_back_buffer();
    *surface = primary;
    return true;
  }
  bool create_offscreen_surface(int width, int height, DisplaySurface** surface) override {
    if (width <= 0 || height <= 0) return false;
    *surface = new WebSurface(width, height, false);
    return true;
  }
  bool create_clipper(DisplayClipper** clipper) override {
    *clipper = new WebClipper();
    return true;
  }
};

}  // namespace

// The canvas's size is the window's (create_window), which is the frame's.
bool create_display_device(DisplayDevice** device) {
  static WebDevice Device;
  Rect r;
  if (!get_window_rect(&r)) return false;
  ModeWidth = r.right - r.left;
  ModeHeight = r.bottom - r.top;
  *device = &Device;
  return true;
}
