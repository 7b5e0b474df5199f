#include "display/present.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "display/surfaces.h"
#include "display/window.h"

// The converters' building blocks are inlined into each converter, so that every build of
// it (see MD_CONVERTER_CLONES) compiles them for its own instruction set.
#define MD_INLINE [[gnu::always_inline]] inline

namespace {

// The four target formats: bytes per pixel and how one 0x00RRGGBB pixel is written. The
// 16- and 15-bit values keep the top bits of each channel and are stored little-endian.
struct Xrgb32 {
  static constexpr int Bytes = 4;
  [[gnu::always_inline]] static void store(uint8_t* d, uint32_t p) { std::memcpy(d, &p, 4); }
};

struct Bgr24 {
  static constexpr int Bytes = 3;
  [[gnu::always_inline]] static void store(uint8_t* d, uint32_t p) {
    d[0] = static_cast<uint8_t>(p);
    d[1] = static_cast<uint8_t>(p >> 8);
    d[2] = static_cast<uint8_t>(p >> 16);
  }
};

struct Rgb565 {
  static constexpr int Bytes = 2;
  [[gnu::always_inline]] static uint16_t pack(uint32_t p) {
    return static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) | ((p >> 3) & 0x001F));
  }
  [[gnu::always_inline]] static void store(uint8_t* d, uint32_t p) {
    const uint16_t v = pack(p);
    std::memcpy(d, &v, 2);
  }
};

struct Rgb555 {
  static constexpr int Bytes = 2;
  [[gnu::always_inline]] static uint16_t pack(uint32_t p) {
    return static_cast<uint16_t>(((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) | ((p >> 3) & 0x001F));
  }
  [[gnu::always_inline]] static void store(uint8_t* d, uint32_t p) {
    const uint16_t v = pack(p);
    std::memcpy(d, &v, 2);
  }
};

static_assert(std::endian::native == std::endian::little, "the surfaces' 16- and 32-bit pixels are little-endian");

// Source pixel (acc >> 20) for each destination pixel, acc advancing by `step`.
template <typename F>
MD_INLINE void convert_row_stepped(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  uint32_t acc = 0;
  const uint32_t ustep = static_cast<uint32_t>(step);
  for (int32_t i = 0; i < count; ++i) {
    F::store(dest, source[acc >> 20]);
    dest += F::Bytes;
    acc += ustep;
  }
}

// The two steps that matter most, written as plain array loops the compiler can vectorise.
// They give exactly what the stepped loop gives: with step 0x100000 destination pixel i is
// source pixel i, with 0x80000 it is source pixel i / 2.
template <typename F>
MD_INLINE void convert_row_whole(uint8_t* dest, const uint32_t* source, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    F::store(dest + static_cast<size_t>(i) * F::Bytes, source[i]);
  }
}

template <>
MD_INLINE void convert_row_whole<Xrgb32>(uint8_t* dest, const uint32_t* source, int32_t count) {
  std::memcpy(dest, source, static_cast<size_t>(count) * 4);
}

// Four pixels as twelve bytes, B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3: three little-endian
// words.
MD_INLINE void store_four_24(uint8_t* d, uint32_t a, uint32_t b, uint32_t c, uint32_t e) {
  const uint32_t w0 = (a & 0xFFFFFF) | (b << 24);
  const uint32_t w1 = ((b >> 8) & 0xFFFF) | (c << 16);
  const uint32_t w2 = ((c >> 16) & 0xFF) | (e << 8);
  std::memcpy(d, &w0, 4);
  std::memcpy(d + 4, &w1, 4);
  std::memcpy(d + 8, &w2, 4);
}

template <>
MD_INLINE void convert_row_whole<Bgr24>(uint8_t* dest, const uint32_t* source, int32_t count) {
  int32_t i = 0;
#if defined(__GNUC__) && !defined(__clang__)
  // Four pixels at a time through one byte shuffle. Each store writes 16 bytes of which the
  // last 4 are overwritten by the next group, so groups run while those 4 stay in the row.
  using Bytes16 = uint8_t __attribute__((vector_size(16)));
  const Bytes16 pick = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 12, 13, 14, 15};
  for (; i + 6 <= count; i += 4) {
    Bytes16 v;
    std::memcpy(&v, source + i, 16);
    const Bytes16 packed = __builtin_shuffle(v, pick);
    std::memcpy(dest + static_cast<size_t>(i) * 3, &packed, 16);
  }
#endif
  for (; i + 4 <= count; i += 4) {
    store_four_24(dest + static_cast<size_t>(i) * 3, source[i], source[i + 1], source[i + 2], source[i + 3]);
  }
  for (; i < count; ++i) {
    Bgr24::store(dest + static_cast<size_t>(i) * 3, source[i]);
  }
}

template <typename F>
MD_INLINE void convert_row_doubled(uint8_t* dest, const uint32_t* source, int32_t count) {
  const int32_t pairs = count / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    uint8_t* d = dest + static_cast<size_t>(i) * 2 * F::Bytes;
    F::store(d, source[i]);
    F::store(d + F::Bytes, source[i]);
  }
  if ((count & 1) != 0) {
    F::store(dest + static_cast<size_t>(count - 1) * F::Bytes, source[pairs]);
  }
}

template <>
MD_INLINE void convert_row_doubled<Bgr24>(uint8_t* dest, const uint32_t* source, int32_t count) {
  const int32_t pairs = count / 4;  // two source pixels, four destination pixels
  for (int32_t i = 0; i < pairs; ++i) {
    const uint32_t a = source[2 * i], b = source[2 * i + 1];
    store_four_24(dest + static_cast<size_t>(i) * 12, a, a, b, b);
  }
  for (int32_t i = pairs * 4; i < count; ++i) {
    Bgr24::store(dest + static_cast<size_t>(i) * 3, source[i / 2]);
  }
}

template <typename F>
MD_INLINE void convert_row_as(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  if (step == 0x100000) {
    convert_row_whole<F>(dest, source, count);
  } else if (step == 0x80000) {
    convert_row_doubled<F>(dest, source, count);
  } else {
    convert_row_stepped<F>(dest, source, count, step);
  }
}

int32_t bytes_per_pixel(int32_t depth) { return depth == 32 ? 4 : depth == 24 ? 3 : 2; }

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

// On x86-64 each converter is also built for AVX2 and the loader picks the build the
// processor runs best; the results are the same bits. Not under the thread sanitizer: the
// loader runs the choosing code before the sanitizer's runtime is ready. Not on Windows,
// whose program format has no loader-time choice of function.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(_WIN32)
#define MD_CONVERTER_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MD_CONVERTER_CLONES
#endif

MD_CONVERTER_CLONES
void convert_row_32(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row_as<Xrgb32>(dest, source, count, step);
}

MD_CONVERTER_CLONES
void convert_row_24(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row_as<Bgr24>(dest, source, count, step);
}

MD_CONVERTER_CLONES
void convert_row_565(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row_as<Rgb565>(dest, source, count, step);
}

MD_CONVERTER_CLONES
void convert_row_555(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step) {
  convert_row_as<Rgb555>(dest, source, count, step);
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
  // A destination row that shows the same source row as the one above it is the same bytes:
  // copied instead of converted again (every second row when the frame is doubled).
  const size_t row_bytes = static_cast<size_t>(scaling.width) * static_cast<size_t>(bytes_per_pixel(depth));
  uint32_t acc = 0;
  int32_t previous_row = -1;
  for (int32_t row = 0; row < scaling.height; ++row) {
    int32_t source_row = static_cast<int32_t>(acc >> 20);
    if (source_row >= frame.height) {
      source_row = frame.height - 1;
    }
    if (source_row == previous_row) {
      std::memcpy(dest, dest - pitch, row_bytes);
    } else {
      convert(dest, frame.pixels + source_row * frame.width, scaling.width, scaling.step_x);
    }
    previous_row = source_row;
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
