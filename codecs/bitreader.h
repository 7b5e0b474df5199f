// Big-endian bit reader with start-code search, and the decoding of one 8 x 8 intra block
// of an MPEG-1 video stream (ISO/IEC 11172-2) into dequantised DCT coefficients.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// Reads a byte stream most significant bit first. The reader knows the stream's length:
// bits past the end read as 0 and the start-code search stops at the end, so no input can
// make it read outside the stream.
struct BitReader {
  const uint8_t* data = nullptr;
  int32_t position = 0;  // bits from the most significant bit of data[0]
  int32_t size = 0;      // bytes of data
};

// Points the reader at a stream, position 0. Streams longer than MaxStreamBytes are read
// as if cut there, which keeps every bit position within 32 bits.
constexpr size_t MaxStreamBytes = size_t{1} << 27;
void reset_bit_reader(BitReader& reader, const uint8_t* data, size_t size);

// The next n bits (1 to 32) as an unsigned number, without moving.
inline uint32_t peek_bits(const BitReader& reader, int n) {
  const int32_t byte = reader.position >> 3;
  uint32_t word;
  if (byte + 4 <= reader.size) {
    const uint8_t* p = reader.data + byte;
    word = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  } else {
    word = 0;
    for (int32_t i = byte; i < byte + 4; ++i) {
      word = (word << 8) | (i < reader.size ? reader.data[i] : 0u);
    }
  }
  word <<= reader.position & 7;
  return word >> (32 - n);
}

inline void skip_bits(BitReader& reader, int n) { reader.position += n; }

inline uint32_t read_bits(BitReader& reader, int n) {
  const uint32_t value = peek_bits(reader, n);
  reader.position += n;
  return value;
}

inline uint32_t read_bit(BitReader& reader) {
  const int32_t byte = reader.position >> 3;
  const uint32_t bit = byte < reader.size ? (reader.data[byte] >> (7 - (reader.position & 7))) & 1u : 0u;
  reader.position += 1;
  return bit;
}

// Rounds the position up to a byte boundary, then moves byte by byte to the next 00 00 01
// prefix and leaves it unread. Without one before the end of the stream, the position
// ends at the stream's end (where everything reads as 0) and the result is false.
bool seek_start_code(BitReader& reader);

// Mean levels of the last luminance, Cb and Cr blocks, in pixel units relative to mid-grey
// (the stream's DC predictor / 8 - 128). Reset to 0 at every slice.
using DcPredictor = std::array<int32_t, 3>;

// Quantiser weights in zig-zag scan order, the order a sequence header transmits them.
using IntraMatrix = std::array<uint8_t, 64>;
extern const IntraMatrix DefaultIntraMatrix;

// Scan position 0..63 to raster index (row x 8 + column).
extern const std::array<uint8_t, 64> ZigZag;

// Decodes one intra block (index 0..3 luminance, 4 Cb, 5 Cr) into 64 coefficients in raster
// order. Returns 1 when the block ended with end-of-block, 0 on a code error (the
// coefficients then hold what was decoded so far).
int decode_intra_block(BitReader& reader, int32_t* coefficients, int block, DcPredictor& predictor,
                       const IntraMatrix& matrix, int quantiser_scale);

// The variable-length codes, as the standard lists them (sign bit not included).
struct DcSizeCode {
  const char* code;
  int size;
};
// dct_dc_size_luminance and dct_dc_size_chrominance, sizes 0 to 11.
extern const std::array<DcSizeCode, 12> DcSizeLuminance;
extern const std::array<DcSizeCode, 12> DcSizeChrominance;

enum class CoeffCodeKind : uint8_t { Invalid, RunLevel, EndOfBlock, Escape };
struct CoeffCode {
  const char* code;
  CoeffCodeKind kind;
  int run;
  int level;
};
// dct_coeff_next: end of block, escape and the 111 run/level pairs.
extern const std::array<CoeffCode, 113> DctCoeffNext;
