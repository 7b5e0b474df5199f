// The display device: the stand-in for the display-surface interface the show presents
// through. Like the interface it replaces it has two modes: a clipped blit into the window
// (cooperative level normal, an off-screen back surface), and an exclusive fullscreen mode
// with a display mode of its own and a flipping chain of a primary and one back buffer.
// Every call reports success as true; a failure changes nothing that the caller relies on.
#pragma once
#include <cstdint>

#include "platform/window.h"

struct PixelFormat {
  uint32_t rgbBitCount;
  uint32_t redMask, greenMask, blueMask;
};

// A locked surface: the first byte of its memory and the bytes from one row to the next.
struct SurfaceLock {
  uint8_t* bits;
  int32_t pitch;
  int32_t width, height;
};

class DisplayClipper {
 public:
  // Ties the clipper to the show's window: blits onto a surface that carries it are clipped
  // to the visible part of the window.
  virtual bool set_window() = 0;
  // Drops the caller's reference; a surface that carries the clipper keeps it alive.
  virtual void release() = 0;

 protected:
  ~DisplayClipper() = default;
};

class DisplaySurface {
 public:
  // Locks the whole surface, waiting while it is busy. False when the surface is lost.
  virtual bool lock(SurfaceLock* lock) = 0;
  virtual void unlock() = 0;
  virtual bool get_pixel_format(PixelFormat* format) = 0;
  // The back buffer of a flipping chain.
  virtual bool get_attached_back_buffer(DisplaySurface** back) = 0;
  virtual bool set_clipper(DisplayClipper* clipper) = 0;
  // Copies `source_rect` of `source` onto `dest_rect` of this surface (screen coordinates
  // for the primary), scaling when the sizes differ, waiting until the blit is possible.
  virtual bool blt(const Rect& dest_rect, DisplaySurface* source, const Rect& source_rect) = 0;
  // Brings the back buffer of this flipping chain to the front, waiting for the display.
  virtual bool flip() = 0;
  virtual void release() = 0;

 protected:
  ~DisplaySurface() = default;
};

class DisplayDevice {
 public:
  // exclusive false: share the desktop in the window; true: fullscreen and exclusive.
  virtual bool set_cooperative_level(bool exclusive) = 0;
  virtual bool set_display_mode(int width, int height, int depth) = 0;
  virtual bool restore_display_mode() = 0;
  // The primary surface: the window's share of the desktop, or with `flipping_chain` the
  // fullscreen primary with one attached back buffer.
  virtual bool create_primary_surface(bool flipping_chain, DisplaySurface** surface) = 0;
  virtual bool create_offscreen_surface(int width, int height, DisplaySurface** surface) = 0;
  virtual bool create_clipper(DisplayClipper** clipper) = 0;

 protected:
  ~DisplayDevice() = default;
};

// Opens the default display device. The object lives until the process ends.
bool create_display_device(DisplayDevice** device);
