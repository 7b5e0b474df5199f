// The Win32 backend's display device: DirectDraw in its first interface version
// (IDirectDraw, IDirectDrawSurface, IDirectDrawClipper), on the show's window.
//
// Lost surfaces (another program took the display, or the display mode changed under a
// window) are restored here, where DirectDraw reports them: a lock, blit or flip that finds
// its surface lost restores it and, for a lock, tries once more. Until the display can be
// had again the restore fails and the frame is skipped; once it can, the show's next frame
// is seen, with no need for the user to switch modes to get the picture moving again.
#include "platform/win32/win32_backend.h"

#include <ddraw.h>

namespace {

IDirectDraw* DirectDraw = nullptr;

RECT to_rect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

class Win32Clipper final : public DisplayClipper {
 public:
  explicit Win32Clipper(IDirectDrawClipper* c) : clipper(c) {}

  bool set_window() override { return Win32Window != nullptr && SUCCEEDED(clipper->SetHWnd(0, Win32Window)); }

  void release() override {
    clipper->Release();
    delete this;
  }

  IDirectDrawClipper* clipper;
};

class Win32Surface final : public DisplaySurface {
 public:
  // `owner`: the surface whose restore brings this one back (the front of a flipping chain
  // for its back buffer); null for a surface of its own.
  Win32Surface(IDirectDrawSurface* s, IDirectDrawSurface* owner) : surface(s), restorer(owner != nullptr ? owner : s) {}

  bool lock(SurfaceLock* lock) override {
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    HRESULT hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    if (hr == DDERR_SURFACELOST && restore()) {
      hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    }
    if (FAILED(hr)) {
      return false;
    }
    locked = true;
    *lock = {static_cast<uint8_t*>(desc.lpSurface), static_cast<int32_t>(desc.lPitch),
             static_cast<int32_t>(desc.dwWidth), static_cast<int32_t>(desc.dwHeight)};
    return true;
  }

  void unlock() override {
    if (locked) {
      surface->Unlock(nullptr);
      locked = false;
    }
  }

  bool get_pixel_format(PixelFormat* format) override {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof(pf);
    if (FAILED(surface->GetPixelFormat(&pf))) {
      return false;
    }
    if ((pf.dwFlags & DDPF_RGB) == 0) {
      // Palette or other non-RGB formats: no depth the converters serve.
      *format = {8, 0, 0, 0};
      return true;
    }
    *format = {pf.dwRGBBitCount, pf.dwRBitMask, pf.dwGBitMask, pf.dwBBitMask};
    return true;
  }

  bool get_attached_back_buffer(DisplaySurface** back) override {
    DDSCAPS caps = {};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    IDirectDrawSurface* attached = nullptr;
    if (FAILED(surface->GetAttachedSurface(&caps, &attached))) {
      return false;
    }
    *back = new Win32Surface(attached, surface);
    return true;
  }

  bool set_clipper(DisplayClipper* clipper) override {
    return SUCCEEDED(surface->SetClipper(static_cast<Win32Clipper*>(clipper)->clipper));
  }

  bool blt(const Rect& dest_rect, DisplaySurface* source, const Rect& source_rect) override {
    auto* from = static_cast<Win32Surface*>(source);
    RECT dest = to_rect(dest_rect);
    RECT src = to_rect(source_rect);
    // The windowed present waits for the display's vertical blank, as the fullscreen flip
    // does, so the show draws as many frames as the display shows, not hundreds a second.
    DirectDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    const HRESULT hr = surface->Blt(&dest, from->surface, &src, DDBLT_WAIT, nullptr);
    if (hr == DDERR_SURFACELOST) {
      restore();
      from->restore();
    }
    return SUCCEEDED(hr);
  }

  bool flip() override {
    const HRESULT hr = surface->Flip(nullptr, DDFLIP_WAIT);
    if (hr == DDERR_SURFACELOST) {
      restore();
    }
    return SUCCEEDED(hr);
  }

  void release() override {
    unlock();
    surface->Release();
    delete this;
  }

 private:
  bool restore() { return SUCCEEDED(restorer->Restore()); }

  IDirectDrawSurface* surface;
  IDirectDrawSurface* restorer;
  bool locked = false;
};

class Win32Device final : public DisplayDevice {
 public:
  bool set_cooperative_level(bool exclusive) override {
    const DWORD level = exclusive ? DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE : DDSCL_NORMAL;
    return SUCCEEDED(DirectDraw->SetCooperativeLevel(Win32Window, level));
  }

  bool set_display_mode(int width, int height, int depth) override {
    return SUCCEEDED(DirectDraw->SetDisplayMode(static_cast<DWORD>(width), static_cast<DWORD>(height),
                                                static_cast<DWORD>(depth)));
  }

  bool restore_display_mode() override { return SUCCEEDED(DirectDraw->RestoreDisplayMode()); }

  bool create_primary_surface(bool flipping_chain, DisplaySurface** out) override {
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (flipping_chain) {
      desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
      desc.dwBackBufferCount = 1;
    }
    return create(desc, out);
  }

  bool create_offscreen_surface(int width, int height, DisplaySurface** out) override {
    if (width <= 0 || height <= 0) {
      return false;
    }
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    return create(desc, out);
  }

  bool create_clipper(DisplayClipper** out) override {
    IDirectDrawClipper* clipper = nullptr;
    if (FAILED(DirectDraw->CreateClipper(0, &clipper, nullptr))) {
      return false;
    }
    *out = new Win32Clipper(clipper);
    return true;
  }

 private:
  static bool create(DDSURFACEDESC& desc, DisplaySurface** out) {
    IDirectDrawSurface* surface = nullptr;
    if (FAILED(DirectDraw->CreateSurface(&desc, &surface, nullptr))) {
      return false;
    }
    *out = new Win32Surface(surface, nullptr);
    return true;
  }
};

}  // namespace

bool create_display_device(DisplayDevice** device) {
  static Win32Device Device;
  if (DirectDraw == nullptr && FAILED(DirectDrawCreate(nullptr, &DirectDraw, nullptr))) {
    DirectDraw = nullptr;
    return false;
  }
  *device = &Device;
  return true;
}
