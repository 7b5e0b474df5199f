#include "codecs/picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The block transform's lane helpers pass vectors by value but are always inlined, so the
// calling convention the compiler warns about never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

// On x86-64 the block transform is also built for AVX2 and the loader picks the build the
// processor runs best (as for the pixel converters); both give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
#define MD_PICTURE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MD_PICTURE_CLONES
#endif

namespace {

// Shifts of negative values round towards minus infinity.
constexpr ColourTables build_colour_tables() {
  ColourTables t{};
  for (int32_t c = -512; c < 512; ++c) {
    t.blueFromCb[c + 512] = (3629 * c) >> 11;
    t.greenFromCb[c + 512] = (-11 * c) >> 5;
    t.redFromCr[c + 512] = (11485 * c) >> 13;
    t.greenFromCr[c + 512] = (-2925 * c) >> 12;
  }
  return t;
}

constexpr uint32_t SequenceHeaderCode = 0x1B3;
constexpr uint32_t GroupOfPicturesCode = 0x1B8;
constexpr uint32_t UserDataCode = 0x1B2;
constexpr uint32_t PictureCode = 0x100;
constexpr uint32_t FirstSliceCode = 0x101;
constexpr uint32_t LastSliceCode = 0x1AF;
constexpr uint32_t IntraPicture = 1;

}  // namespace

constexpr ColourTables PictureColours = build_colour_tables();

int parse_picture_headers(PictureDecoder& decoder, const uint8_t* stream, size_t size) {
  BitReader& reader = decoder.reader;
  PictureState& picture = decoder.picture;
  picture = PictureState{};
  reset_bit_reader(reader, stream, size);

  if (read_bits(reader, 32) != SequenceHeaderCode) return 0;
  picture.width = static_cast<int32_t>(read_bits(reader, 12));
  picture.height = static_cast<int32_t>(read_bits(reader, 12));
  skip_bits(reader, 38);  // aspect ratio, frame rate, bit rate, marker, buffer size, constrained flag
  if (read_bit(reader)) {
    for (uint8_t& weight : picture.intraMatrix) weight = static_cast<uint8_t>(read_bits(reader, 8));
  }
  if (read_bit(reader)) skip_bits(reader, 512);  // the non-intra matrix
  picture.columns = (picture.width + 15) / 16;
  picture.rows = (picture.height + 15) / 16;

  for (;;) {
    seek_start_code(reader);
    const uint32_t code = read_bits(reader, 32);
    if (code == PictureCode) break;
    if (code == GroupOfPicturesCode) {
      skip_bits(reader, 27);
    } else if (code != UserDataCode) {
      return 0;
    }
  }
  skip_bits(reader, 10);  // temporal reference
  if (read_bits(reader, 3) != IntraPicture) return 0;
  skip_bits(reader, 16);  // buffer delay
  while (read_bit(reader)) skip_bits(reader, 8);

  for (;;) {
    seek_start_code(reader);
    if (peek_bits(reader, 32) != UserDataCode) break;
    skip_bits(reader, 32);
  }
  picture.macroblocks = picture.columns * picture.rows;
  return 1;
}

namespace {

// Walks the slices and macroblocks; `store` receives each complete macroblock's address
// while its samples are in the decoder's work area.
template <class Store>
void decode_macroblocks(PictureDecoder& decoder, Store&& store) {
  BitReader& reader = decoder.reader;
  const PictureState& picture = decoder.picture;
  MacroblockArea& area = decoder.area;
  int32_t address = 0;
  for (;;) {
    if (peek_bits(reader, 23) == 0) {
      if (address >= picture.macroblocks) return;
      seek_start_code(reader);
      const uint32_t code = read_bits(reader, 32);
      if (code < FirstSliceCode || code > LastSliceCode) return;
      decoder.quantiserScale = static_cast<int32_t>(read_bits(reader, 5));
      while (read_bit(reader)) skip_bits(reader, 8);
      address = static_cast<int32_t>(code - FirstSliceCode) * picture.columns;
      decoder.predictor = {0, 0, 0};
    }
    if (address >= picture.macroblocks) return;
    if (!read_bit(reader)) return;  // only an address increment of 1 is accepted
    if (!read_bit(reader)) {        // not plain intra: must be intra with quantiser
      if (!read_bit(reader)) return;
      decoder.quantiserScale = static_cast<int32_t>(read_bits(reader, 5));
    }
    for (int block = 0; block < 6; ++block) {
      if (!decode_intra_block(reader, area.coefficients, block, decoder.predictor, picture.intraMatrix,
                              decoder.quantiserScale)) {
        return;
      }
      int32_t* out;
      int stride;
      if (block < 4) {
        out = area.luminance + 8 * (block >> 1) * 16 + 8 * (block & 1);
        stride = 16;
      } else {
        out = block == 4 ? area.cb : area.cr;
        stride = 8;
      }
      idct_block(area.coefficients, out, stride);
    }
    // A macroblock that needed bits past the end of a cut stream may differ from the one
    // that was sent (a final "1" read with a missing bit as "10" ends a block early).
    if (reader.position > reader.size * 8) return;
    store(address);
    ++address;
  }
}

}  // namespace

namespace {

// The level stretch of one channel value, as stretch_levels computes it.
void stretch_table(int32_t black_level, uint32_t* level) {
  const int32_t k = std::clamp(black_level, 0, 254);
  // The factor is held in single precision; the product is formed in double.
  const float f = 255.0f / static_cast<float>(255 - k);
  for (int32_t v = 0; v < 256; ++v) {
    const auto stretched = static_cast<int32_t>(static_cast<double>(v - k) * static_cast<double>(f));
    level[v] = static_cast<uint32_t>(std::clamp(stretched, 0, 255)) & 0xFEu;
  }
}

// The stretch as colour conversion applies it: the double product truncated, with its
// lowest bit cleared, equals an integer product and shift for every black level (checked on
// all 256 values when the stretch is set up; should a level ever fail the check, the
// separate pass is used instead).
struct Stretch {
  bool on;
  int32_t black;       // limited to 0..254
  int32_t multiplier;  // the factor x 2^15, rounded down or up, whichever gives the same levels; 0 if neither
};
constexpr int StretchShift = 15;  // (v - black) x multiplier stays below 2^31 for v - black <= 255

Stretch stretch_for(int32_t black_level) {
  const int32_t k = std::clamp(black_level, 0, 254);
  Stretch stretch{true, k, 0};
  uint32_t level[256];
  stretch_table(black_level, level);
  const double factor = static_cast<double>(255.0f / static_cast<float>(255 - k));
  const double scaled = std::ldexp(factor, StretchShift);
  for (const double candidate : {std::floor(scaled), std::ceil(scaled)}) {
    const auto m = static_cast<int32_t>(candidate);
    bool same = true;
    for (int32_t v = 0; v < 256 && same; ++v) {
      const int32_t product = (std::max(v - k, 0) * m) >> StretchShift;
      same = static_cast<uint32_t>(std::min(product, 255) & 0xFE) == level[v];
    }
    if (same) {
      stretch.multiplier = m;
      break;
    }
  }
  return stretch;
}

typedef int32_t Ints __attribute__((vector_size(32)));

__attribute__((always_inline)) inline Ints load_ints(const int32_t* p) {
  Ints v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline Ints limit(Ints v, int32_t low, int32_t high) {
  v = v < low ? low : v;
  return v > high ? high : v;
}
__attribute__((always_inline)) inline Ints limit_to(Ints v, Ints high) {
  v = v < 0 ? 0 : v;
  return v > high ? high : v;
}
// One channel of eight pixels from its sum less the black level (0 when not stretched),
// `top` being 255 less the black level: the channel limited to 0..255 with the black level
// taken off and limited below at 0 in one step, then stretched when asked.
template <bool Stretched>
__attribute__((always_inline)) inline Ints channel(Ints sum, Ints top, Ints multiplier) {
  if constexpr (!Stretched) return limit(sum, 0, 255);
  const Ints t = limit_to(sum, top);
  const Ints product = (t * multiplier) >> StretchShift;  // never negative
  return product > 255 ? 255 : product;  // the lowest bit is cleared once the channels are packed
}

// Each of the first (last) four lanes twice: the offsets of a chroma row for the left (right)
// half of a luminance row.
__attribute__((always_inline)) inline Ints left_pairs(Ints v) { return __builtin_shufflevector(v, v, 0, 0, 1, 1, 2, 2, 3, 3); }
__attribute__((always_inline)) inline Ints right_pairs(Ints v) { return __builtin_shufflevector(v, v, 4, 4, 5, 5, 6, 6, 7, 7); }

// One macroblock's pixels from its luminance and chroma, eight pixels at a time. Each
// chroma sample colours its 2 x 2 group of luminance samples, without interpolation. The
// chroma offsets are the colour tables' values, computed eight at a time as the tables are.
template <bool Stretched>
__attribute__((always_inline)) inline void convert_macroblock_as(const MacroblockArea& area, const Stretch& stretch,
                                                                 uint32_t* rgb, size_t stride) {
  const int32_t black = Stretched ? stretch.black : 0;
  const Ints top = Ints{} + (255 - black);
  const Ints multiplier = Ints{} + stretch.multiplier;
  for (int cy = 0; cy < 8; ++cy) {
    const Ints cb = limit(load_ints(area.cb + cy * 8), -512, 511);
    const Ints cr = limit(load_ints(area.cr + cy * 8), -512, 511);
    const Ints red = (11485 * cr) >> 13;
    const Ints green = ((-11 * cb) >> 5) + ((-2925 * cr) >> 12);
    const Ints blue = (3629 * cb) >> 11;
    // Each offset repeated for the two pixels of a row it colours, left and right half.
    const Ints dr[2] = {left_pairs(red), right_pairs(red)};
    const Ints dg[2] = {left_pairs(green), right_pairs(green)};
    const Ints db[2] = {left_pairs(blue), right_pairs(blue)};
    for (int y = 2 * cy; y < 2 * cy + 2; ++y) {
      for (int half = 0; half < 2; ++half) {
        // Beyond +-4096 every channel saturates anyway; the limit keeps the sums in range.
        const Ints luma = limit(load_ints(area.luminance + y * 16 + 8 * half), -4096, 4096) + (128 - black);
        const Ints r = channel<Stretched>(luma + dr[half], top, multiplier);
        const Ints g = channel<Stretched>(luma + dg[half], top, multiplier);
        const Ints b = channel<Stretched>(luma + db[half], top, multiplier);
        Ints packed = (r << 16) | (g << 8) | b;
        if constexpr (Stretched) packed &= 0xFEFEFE;
        std::memcpy(rgb + y * stride + static_cast<size_t>(8 * half), &packed, sizeof packed);
      }
    }
  }
}

// Rows of the result go `stride` pixels apart.
MD_PICTURE_CLONES
void convert_macroblock(const MacroblockArea& area, const Stretch& stretch, uint32_t* rgb, size_t stride) {
  if (stretch.on)
    convert_macroblock_as<true>(area, stretch, rgb, stride);
  else
    convert_macroblock_as<false>(area, stretch, rgb, stride);
}

void decode_picture_through(PictureDecoder& decoder, uint32_t* pixels, int32_t stride, int32_t rows,
                            const Stretch& stretch) {
  if (!pixels || stride <= 0 || rows <= 0) return;
  const int32_t columns = decoder.picture.columns;
  const MacroblockArea& area = decoder.area;
  decode_macroblocks(decoder, [&](int32_t address) {
    const int32_t top = 16 * (address / columns);
    const int32_t left = 16 * (address % columns);
    if (left + 16 <= stride && top + 16 <= rows) {  // wholly inside: straight into place
      convert_macroblock(area, stretch, pixels + static_cast<size_t>(top) * static_cast<size_t>(stride) + left,
                         static_cast<size_t>(stride));
      return;
    }
    uint32_t rgb[16 * 16];
    convert_macroblock(area, stretch, rgb, 16);
    const int32_t width = std::min(16, stride - left);
    for (int y = 0; y < 16 && top + y < rows && width > 0; ++y) {
      std::copy_n(rgb + y * 16, width, pixels + static_cast<size_t>(top + y) * static_cast<size_t>(stride) + left);
    }
  });
}

}  // namespace

void decode_picture(PictureDecoder& decoder, uint32_t* pixels, int32_t stride, int32_t rows) {
  decode_picture_through(decoder, pixels, stride, rows, Stretch{false, 0, 0});
}

void decode_picture_planes(PictureDecoder& decoder, const PicturePlanes& planes) {
  const int32_t columns = decoder.picture.columns;
  const size_t luma_stride = static_cast<size_t>(16 * columns);
  const size_t chroma_stride = static_cast<size_t>(8 * columns);
  const MacroblockArea& area = decoder.area;
  decode_macroblocks(decoder, [&](int32_t address) {
    const size_t top = static_cast<size_t>(address / columns);
    const size_t left = static_cast<size_t>(address % columns);
    for (size_t y = 0; y < 16; ++y) {
      std::copy_n(area.luminance + y * 16, 16, planes.y + (16 * top + y) * luma_stride + 16 * left);
    }
    for (size_t y = 0; y < 8; ++y) {
      std::copy_n(area.cb + y * 8, 8, planes.cb + (8 * top + y) * chroma_stride + 8 * left);
      std::copy_n(area.cr + y * 8, 8, planes.cr + (8 * top + y) * chroma_stride + 8 * left);
    }
  });
}

// The transform is specified on signed 32-bit values that wrap on overflow: it is computed
// on unsigned values (which wrap by definition) with arithmetic shifts.
namespace {
using U = uint32_t;
inline U asr(U v, int n) { return static_cast<U>(static_cast<int32_t>(v) >> n); }
}  // namespace

void idct_column(int32_t* block, int column) {
  int32_t* p = block + column;
  const U x0 = static_cast<U>(p[0]), x1 = static_cast<U>(p[8]), x2 = static_cast<U>(p[16]),
          x3 = static_cast<U>(p[24]), x4 = static_cast<U>(p[32]), x5 = static_cast<U>(p[40]),
          x6 = static_cast<U>(p[48]), x7 = static_cast<U>(p[56]);
  const U o = (x0 + x4) * 4096 + 16, d = (x0 - x4) * 4096 + 16;
  const U r = x2 * 5352 + x6 * 2217, c = x2 * 2217 - x6 * 5352;
  const U m = x1 * 5681 + x7 * 1130, a = x1 * 1130 - x7 * 5681;
  const U l = x3 * 4816 + x5 * 3218, e = x5 * 4816 - x3 * 3218;
  const U t = asr((a + m - e - l) * 181 + 128, 8), u = asr((m + e - l - a) * 181 + 128, 8);
  p[0] = static_cast<int32_t>(asr(o + r + m + l, 5));
  p[8] = static_cast<int32_t>(asr(d + c + t, 5));
  p[16] = static_cast<int32_t>(asr(d - c + u, 5));
  p[24] = static_cast<int32_t>(asr(o - r + a + e, 5));
  p[32] = static_cast<int32_t>(asr(o - r - a - e, 5));
  p[40] = static_cast<int32_t>(asr(d - c - u, 5));
  p[48] = static_cast<int32_t>(asr(d + c - t, 5));
  p[56] = static_cast<int32_t>(asr(o + r - m - l, 5));
}

void idct_row(const int32_t* row, int32_t* out) {
  const U x0 = static_cast<U>(row[0]), x1 = static_cast<U>(row[1]), x2 = static_cast<U>(row[2]),
          x3 = static_cast<U>(row[3]), x4 = static_cast<U>(row[4]), x5 = static_cast<U>(row[5]),
          x6 = static_cast<U>(row[6]), x7 = static_cast<U>(row[7]);
  const U l = x0 + x4, e = x0 - x4;
  const U F = asr(x1 * 5681 + x7 * 1130 + 2048, 12), M = asr(x1 * 1130 - x7 * 5681 + 2048, 12);
  const U C = asr(x3 * 4816 + x5 * 3218 + 2048, 12), O = asr(x5 * 4816 - x3 * 3218 + 2048, 12);
  const U G = asr(x2 * 5352 + x6 * 2217 + 2048, 12), R = asr(x2 * 2217 - x6 * 5352 + 2048, 12);
  const U t = asr((M + F - O - C) * 181 + 128, 8), u = asr((F + O - C - M) * 181 + 128, 8);
  out[0] = static_cast<int32_t>(asr(l + G + F + C + 512, 10));
  out[1] = static_cast<int32_t>(asr(e + R + t + 512, 10));
  out[2] = static_cast<int32_t>(asr(e - R + u + 512, 10));
  out[3] = static_cast<int32_t>(asr(l - G + M + O + 512, 10));
  out[4] = static_cast<int32_t>(asr(l - G - M - O + 512, 10));
  out[5] = static_cast<int32_t>(asr(e - R - u + 512, 10));
  out[6] = static_cast<int32_t>(asr(e + R - t + 512, 10));
  out[7] = static_cast<int32_t>(asr(l + G - F - C + 512, 10));
}

namespace {

// Eight lanes of 32 bits; the arithmetic wraps like U, the shifts are arithmetic.
typedef uint32_t Lanes __attribute__((vector_size(32)));
typedef int32_t SignedLanes __attribute__((vector_size(32)));
__attribute__((always_inline)) inline Lanes asr(Lanes v, int n) { return reinterpret_cast<Lanes>(reinterpret_cast<SignedLanes>(v) >> n); }

__attribute__((always_inline)) inline Lanes load(const int32_t* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline void store(int32_t* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

// 8 x 8 transpose of the rows m[0..7] in place: interleave pairs of 32-bit values, then
// pairs of 64-bit values within each half, then swap the halves across.
__attribute__((always_inline)) inline void transpose(Lanes (&m)[8]) {
  // __builtin_shufflevector takes its lane numbers as constants, in GCC and clang alike.
  Lanes t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = __builtin_shufflevector(m[i], m[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    t[i + 1] = __builtin_shufflevector(m[i], m[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  for (int i = 0; i < 8; i += 4) {
    u[i] = __builtin_shufflevector(t[i], t[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
    u[i + 1] = __builtin_shufflevector(t[i], t[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    u[i + 2] = __builtin_shufflevector(t[i + 1], t[i + 3], 0, 1, 8, 9, 4, 5, 12, 13);
    u[i + 3] = __builtin_shufflevector(t[i + 1], t[i + 3], 2, 3, 10, 11, 6, 7, 14, 15);
  }
  for (int i = 0; i < 4; ++i) {
    m[i] = __builtin_shufflevector(u[i], u[i + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    m[i + 4] = __builtin_shufflevector(u[i], u[i + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

}  // namespace

// idct_column on all eight columns at once (lane c = column c), then idct_row on all eight
// rows at once on the transposed block (lane r = row r): the same operations on the same
// values as the plain passes. A block with only its DC value is flat and skips both.
MD_PICTURE_CLONES
void idct_block(int32_t* block, int32_t* out, int stride) {
  int32_t any = 0;
  for (int i = 1; i < 64; ++i) any |= block[i];
  if (any == 0) {
    // Column pass: every row asr(x0 4096 + 16, 5) in column 0, zero elsewhere; row pass:
    // asr(that + 512, 10) in every position.
    const uint32_t column = static_cast<uint32_t>(block[0]) * 4096u + 16u;
    const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(column) >> 5) + 512u;
    const int32_t flat = static_cast<int32_t>(v) >> 10;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) out[r * stride + c] = flat;
    return;
  }
  Lanes m[8];
  {
    const Lanes x0 = load(block), x1 = load(block + 8), x2 = load(block + 16), x3 = load(block + 24),
                x4 = load(block + 32), x5 = load(block + 40), x6 = load(block + 48), x7 = load(block + 56);
    const Lanes o = (x0 + x4) * 4096 + 16, d = (x0 - x4) * 4096 + 16;
    const Lanes r = x2 * 5352 + x6 * 2217, c = x2 * 2217 - x6 * 5352;
    const Lanes m1 = x1 * 5681 + x7 * 1130, a = x1 * 1130 - x7 * 5681;
    const Lanes l = x3 * 4816 + x5 * 3218, e = x5 * 4816 - x3 * 3218;
    const Lanes t = asr((a + m1 - e - l) * 181 + 128, 8), u = asr((m1 + e - l - a) * 181 + 128, 8);
    m[0] = asr(o + r + m1 + l, 5);
    m[1] = asr(d + c + t, 5);
    m[2] = asr(d - c + u, 5);
    m[3] = asr(o - r + a + e, 5);
    m[4] = asr(o - r - a - e, 5);
    m[5] = asr(d - c - u, 5);
    m[6] = asr(d + c - t, 5);
    m[7] = asr(o + r - m1 - l, 5);
  }
  transpose(m);  // m[c] is now column c: lane r holds row r's value
  {
    const Lanes x0 = m[0], x1 = m[1], x2 = m[2], x3 = m[3], x4 = m[4], x5 = m[5], x6 = m[6], x7 = m[7];
    const Lanes l = x0 + x4, e = x0 - x4;
    const Lanes F = asr(x1 * 5681 + x7 * 1130 + 2048, 12), M = asr(x1 * 1130 - x7 * 5681 + 2048, 12);
    const Lanes C = asr(x3 * 4816 + x5 * 3218 + 2048, 12), O = asr(x5 * 4816 - x3 * 3218 + 2048, 12);
    const Lanes G = asr(x2 * 5352 + x6 * 2217 + 2048, 12), R = asr(x2 * 2217 - x6 * 5352 + 2048, 12);
    const Lanes t = asr((M + F - O - C) * 181 + 128, 8), u = asr((F + O - C - M) * 181 + 128, 8);
    m[0] = asr(l + G + F + C + 512, 10);
    m[1] = asr(e + R + t + 512, 10);
    m[2] = asr(e - R + u + 512, 10);
    m[3] = asr(l - G + M + O + 512, 10);
    m[4] = asr(l - G - M - O + 512, 10);
    m[5] = asr(e - R - u + 512, 10);
    m[6] = asr(e + R - t + 512, 10);
    m[7] = asr(l + G - F - C + 512, 10);
  }
  transpose(m);  // m[j] lane r was output j of row r: now m[r] is row r
  for (int r = 0; r < 8; ++r) store(out + r * stride, m[r]);
}

void stretch_levels(uint32_t* pixels, int32_t black_level, int32_t count) {
  uint32_t level[256];
  stretch_table(black_level, level);
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t p = pixels[i];
    pixels[i] = (level[(p >> 16) & 0xFF] << 16) | (level[(p >> 8) & 0xFF] << 8) | level[p & 0xFF];
  }
}

bool decode_picture_stream(const uint8_t* stream, size_t size, uint32_t* pixels, int32_t stride,
                           int32_t rows, int32_t black_level) {
  if (!pixels || stride <= 0 || rows <= 0) return false;
  PictureDecoder decoder;
  if (parse_picture_headers(decoder, stream, size) != 1) return false;
  // The stretch is applied as each pixel is converted. Pixels the picture does not reach
  // stay as they were, zero, which the stretch keeps at zero (level 0 maps to 0 for every
  // black level), so no pass over the whole buffer is needed.
  const Stretch stretch = stretch_for(black_level);
  if (stretch.multiplier != 0) {
    decode_picture_through(decoder, pixels, stride, rows, stretch);
  } else {
    decode_picture(decoder, pixels, stride, rows);
    stretch_levels(pixels, black_level, stride * rows);
  }
  return true;
}
