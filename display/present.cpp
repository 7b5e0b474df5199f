#include "display/present.h"

#include <algorithm>
#include <cstring>

#include "display/surfaces.h"
#include "display/window.h"

namespace {

// One loop shape for every pixel format; the format's store is inlined into it.
template <typename Store>
inline void convert_row(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step, int bytes,
                        Store store) {
  uint32_t acc = 0;
  const uint32_t ustep = static_cast<uint32_t>(step);
  for (int32_t i = 0; i < count; ++i) {
    store(dest, source[acc >> 20]);
    dest += bytes;
    acc += ustep;
  }
}

inline void store16(uint8_t* d, uint32_t v) {
  d[0] = static_cast<uint8_t>(v);
  d[1] = static_cast<uint8_t>(v >> 8);
}

constexpr uint32_t pack_565(uint32_t p) { return ((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) | ((p >> 3) & 0x001F); }
constexpr uint32_t pack_555(uint32_t p) { return ((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) | ((p >> 3) & 0x001F); }

RowConverter converter_for(int32_t depth) {
  switch (depth) {
    case 15: return convert_row_555;
    case 16: return convert_row_565;
    case 24: return convert_row_24;
    case 32: return convert_row_32;
    default: return nullptr;
  }
}

}  // namespace

void convert_row_32(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  if (step == 0x100000) {
    std::memcpy(dest, source, static_cast<size_t>(count) * 4);
    return;
  }
  convert_row(dest, source, count, step, 4, [](uint8_t* d, uint32_t p) { std::memcpy(d, &p, 4); });
}

void convert_row_24(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row(dest, source, count, step, 3, [](uint8_t* d, uint32_t p) {
    d[0] = static_cast<uint8_t>(p);
    d[1] = static_cast<uint8_t>(p >> 8);
    d[2] = static_cast<uint8_t>(p >> 16);
  });
}

void convert_row_565(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row(dest, source, count, step, 2, [](uint8_t* d, uint32_t p) { store16(d, pack_565(p)); });
}

void convert_row_555(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row(dest, source, count, step, 2, [](uint8_t* d, uint32_t p) { store16(d, pack_555(p)); });
}

bool compute_scaling(Scaling* scaling) {
  int32_t width, height;
  if (Windowed) {
    // The real client area: the same rectangle the blit takes from the back surface. A
    // window that has grown since the back surface was made (its size message not yet
    // handled) is held to the surface, so the conversion never writes past it.
    width = std::min(ClientRect.right - ClientRect.left, Surfaces.back_width);
    height = std::min(ClientRect.bottom - ClientRect.top, Surfaces.back_height);
  } else {
    width = OuterWidth;
    height = OuterHeight;
  }
  if (width < 2 || height < 2) {
    return false;
  }
  scaling->width = width;
  scaling->height = height;
  scaling->step_x = static_cast<int32_t>((static_cast<int64_t>(Framebuffer.width) << 20) / width);
  scaling->step_y = static_cast<int32_t>((static_cast<int64_t>(Framebuffer.height) << 20) / height);
  return true;
}

void convert_frame_to(uint8_t* dest, const FramebufferRecord& frame, int32_t pitch, int32_t depth,
                      const Scaling& scaling) {
  RowConverter convert = converter_for(depth);
  if (convert == nullptr) {
    return;
  }
  uint32_t acc = 0;
  for (int32_t row = 0; row < scaling.height; ++row) {
    int32_t source_row = static_cast<int32_t>(acc >> 20);
    if (source_row >= frame.height) {
      source_row = frame.height - 1;
    }
    convert(dest, frame.pixels + source_row * frame.width, scaling.width, scaling.step_x);
    dest += pitch;
    acc += static_cast<uint32_t>(scaling.step_y);
  }
}

void convert_frame(uint8_t* dest, const FramebufferRecord& frame, int32_t pitch) {
  if (converter_for(DisplayDepth) == nullptr) {
    return;
  }
  Scaling scaling;
  if (!compute_scaling(&scaling)) {
    return;
  }
  convert_frame_to(dest, frame, pitch, DisplayDepth, scaling);
}

bool lock_back_surface(SurfaceLock* lock) {
  *lock = SurfaceLock{};
  return Surfaces.back != nullptr && Surfaces.back->lock(lock);
}

void unlock_back_surface() { Surfaces.back->unlock(); }

void show_back_surface() {
  if (Windowed) {
    Surfaces.primary->blt(ScreenRect, Surfaces.back, ClientRect);
  } else {
    Surfaces.primary->flip();
  }
}

void present_frame(const FramebufferRecord& frame) {
  SurfaceLock lock;
  if (!lock_back_surface(&lock)) {
    return;
  }
  convert_frame(lock.bits, frame, lock.pitch);
  unlock_back_surface();
  show_back_surface();
}
