// Decoder of the built-in pictures: MPEG-1 video streams holding one intra picture, decoded
// into 32-bit pixels 0x00RRGGBB with the system's own integer inverse transform and colour
// conversion. Only the subset the pictures use is accepted; decoding stops quietly at
// anything else.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "codecs/bitreader.h"

// Colour offsets indexed by a centred chroma value c + 512, c in -512..511.
struct ColourTables {
  std::array<int32_t, 1024> blueFromCb;
  std::array<int32_t, 1024> greenFromCb;
  std::array<int32_t, 1024> redFromCr;
  std::array<int32_t, 1024> greenFromCr;
};
extern const ColourTables PictureColours;

// Sizes from the sequence header; macroblocks are 16 x 16 pixels.
struct PictureState {
  int32_t width = 0;
  int32_t height = 0;
  int32_t columns = 0;  // macroblock columns, (width + 15) / 16
  int32_t rows = 0;     // macroblock rows
  int32_t macroblocks = 0;
  IntraMatrix intraMatrix = DefaultIntraMatrix;
};

// One macroblock after the inverse transform: luminance relative to mid-grey (128 is added
// at colour conversion), chroma centred on 0.
struct MacroblockArea {
  int32_t luminance[16 * 16];
  int32_t cb[8 * 8];
  int32_t cr[8 * 8];
  int32_t coefficients[64];
};

struct PictureDecoder {
  BitReader reader;
  PictureState picture;
  MacroblockArea area;
  int32_t quantiserScale = 1;
  DcPredictor predictor{};
};

// Reads the sequence and picture headers of `stream` (`size` bytes) from bit 0. Returns 1
// when they were accepted and the reader stands at the first slice, 0 otherwise.
int parse_picture_headers(PictureDecoder& decoder, const uint8_t* stream, size_t size);

// Decodes the macroblocks that follow into `pixels`: rows of `stride` pixels, `rows` rows.
// Macroblocks write whole 16 x 16 squares; parts outside stride x rows are dropped.
void decode_picture(PictureDecoder& decoder, uint32_t* pixels, int32_t stride, int32_t rows);

// Decodes the macroblocks that follow into planes before colour conversion: luminance
// (16 x columns by 16 x rows values) and Cb, Cr (8 x columns by 8 x rows each), in the
// decoder's units (luminance relative to 128, chroma centred on 0). For tests and tools.
struct PicturePlanes {
  int32_t* y;
  int32_t* cb;
  int32_t* cr;
};
void decode_picture_planes(PictureDecoder& decoder, const PicturePlanes& planes);

// The two passes of the inverse transform: columns in place, then rows (the eight outputs
// of a row may overwrite its inputs). A block holding only the DC value 8p gives p
// everywhere.
void idct_column(int32_t* block, int column);
void idct_row(const int32_t* row, int32_t* out);
// Both passes on a whole block, eight columns and then eight rows side by side: the same
// values as idct_column on every column and idct_row on every row. `block` (64 values, raster
// order) may be used as work space; the 8 x 8 result goes to `out`, rows `stride` values apart.
void idct_block(int32_t* block, int32_t* out, int stride);

// (r << 16) | (g << 8) | b with each channel limited to 0..255.
inline uint32_t pack_rgb(int32_t r, int32_t g, int32_t b) {
  auto limit = [](int32_t v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return (limit(r) << 16) | (limit(g) << 8) | limit(b);
}

// Removes a black level (0..254) and stretches what is left to 0..255, clearing the lowest
// bit of every channel (the result is prepared colours). The top byte is dropped.
void stretch_levels(uint32_t* pixels, int32_t black_level, int32_t count);

// The whole start-up step for one built-in picture: headers, picture, then the level
// stretch over stride x rows pixels. The buffer must be zero-filled beforehand, so that
// a picture that fails to decode (result false) stays black.
bool decode_picture_stream(const uint8_t* stream, size_t size, uint32_t* pixels, int32_t stride,
                           int32_t rows, int32_t black_level);
