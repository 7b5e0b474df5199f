#include "codecs/bitreader.h"

#include <algorithm>
#include <cstring>

void reset_bit_reader(BitReader& reader, const uint8_t* data, size_t size) {
  reader.data = data;
  reader.position = 0;
  reader.size = static_cast<int32_t>(std::min(data ? size : 0, MaxStreamBytes));
}

bool seek_start_code(BitReader& reader) {
  int32_t byte = (reader.position + 7) >> 3;
  for (; byte + 3 <= reader.size; ++byte) {
    const uint8_t* p = reader.data + byte;
    if (p[0] == 0 && p[1] == 0 && p[2] == 1) {
      reader.position = byte * 8;
      return true;
    }
  }
  reader.position = std::max(reader.position, reader.size * 8);
  return false;
}

// Built from the standard's default intra quantiser matrix by reading it in scan order.
constexpr IntraMatrix DefaultIntraMatrix = {
    8,  16, 16, 19, 16, 19, 22, 22, 22, 22, 22, 22, 26, 24, 26, 27, 27, 27, 26, 26, 26, 26,
    27, 27, 27, 29, 29, 29, 34, 34, 34, 29, 29, 29, 27, 27, 29, 29, 32, 32, 34, 34, 37, 38,
    37, 35, 35, 34, 35, 38, 38, 40, 40, 40, 48, 48, 46, 46, 56, 56, 58, 69, 69, 83};

// The zig-zag walk: along the anti-diagonals, alternating direction, starting to the right.
static constexpr std::array<uint8_t, 64> build_zig_zag() {
  std::array<uint8_t, 64> scan{};
  int n = 0;
  for (int diagonal = 0; diagonal < 15; ++diagonal) {
    for (int i = 0; i <= diagonal; ++i) {
      const int row = diagonal % 2 ? i : diagonal - i;
      const int column = diagonal - row;
      if (row < 8 && column < 8) scan[n++] = static_cast<uint8_t>(row * 8 + column);
    }
  }
  return scan;
}
constexpr std::array<uint8_t, 64> ZigZag = build_zig_zag();

constexpr std::array<DcSizeCode, 12> DcSizeLuminance = {{
    {"100", 0},
    {"00", 1},
    {"01", 2},
    {"101", 3},
    {"110", 4},
    {"1110", 5},
    {"11110", 6},
    {"111110", 7},
    {"1111110", 8},
    {"11111110", 9},
    {"111111110", 10},
    {"111111111", 11},
}};

constexpr std::array<DcSizeCode, 12> DcSizeChrominance = {{
    {"00", 0},
    {"01", 1},
    {"10", 2},
    {"110", 3},
    {"1110", 4},
    {"11110", 5},
    {"111110", 6},
    {"1111110", 7},
    {"11111110", 8},
    {"111111110", 9},
    {"1111111110", 10},
    {"1111111111", 11},
}};

namespace {
constexpr CoeffCodeKind RL = CoeffCodeKind::RunLevel;
}

// Each code is followed by a sign bit (1 = negative), except end of block and escape.
constexpr std::array<CoeffCode, 113> DctCoeffNext = {{
    {"10", CoeffCodeKind::EndOfBlock, 0, 0},
    {"000001", CoeffCodeKind::Escape, 0, 0},
    {"11", RL, 0, 1},
    {"011", RL, 1, 1},
    {"0100", RL, 0, 2},
    {"0101", RL, 2, 1},
    {"00101", RL, 0, 3},
    {"00111", RL, 3, 1},
    {"00110", RL, 4, 1},
    {"000110", RL, 1, 2},
    {"000111", RL, 5, 1},
    {"000101", RL, 6, 1},
    {"000100", RL, 7, 1},
    {"0000110", RL, 0, 4},
    {"0000100", RL, 2, 2},
    {"0000111", RL, 8, 1},
    {"0000101", RL, 9, 1},
    {"00100110", RL, 0, 5},
    {"00100001", RL, 0, 6},
    {"00100101", RL, 1, 3},
    {"00100100", RL, 3, 2},
    {"00100111", RL, 10, 1},
    {"00100011", RL, 11, 1},
    {"00100010", RL, 12, 1},
    {"00100000", RL, 13, 1},
    {"0000001010", RL, 0, 7},
    {"0000001100", RL, 1, 4},
    {"0000001011", RL, 2, 3},
    {"0000001111", RL, 4, 2},
    {"0000001001", RL, 5, 2},
    {"0000001110", RL, 14, 1},
    {"0000001101", RL, 15, 1},
    {"0000001000", RL, 16, 1},
    {"000000011101", RL, 0, 8},
    {"000000011000", RL, 0, 9},
    {"000000010011", RL, 0, 10},
    {"000000010000", RL, 0, 11},
    {"000000011011", RL, 1, 5},
    {"000000010100", RL, 2, 4},
    {"000000011100", RL, 3, 3},
    {"000000010010", RL, 4, 3},
    {"000000011110", RL, 6, 2},
    {"000000010101", RL, 7, 2},
    {"000000010001", RL, 8, 2},
    {"000000011111", RL, 17, 1},
    {"000000011010", RL, 18, 1},
    {"000000011001", RL, 19, 1},
    {"000000010111", RL, 20, 1},
    {"000000010110", RL, 21, 1},
    {"0000000011010", RL, 0, 12},
    {"0000000011001", RL, 0, 13},
    {"0000000011000", RL, 0, 14},
    {"0000000010111", RL, 0, 15},
    {"0000000010110", RL, 1, 6},
    {"0000000010101", RL, 1, 7},
    {"0000000010100", RL, 2, 5},
    {"0000000010011", RL, 3, 4},
    {"0000000010010", RL, 5, 3},
    {"0000000010001", RL, 9, 2},
    {"0000000010000", RL, 10, 2},
    {"0000000011111", RL, 22, 1},
    {"0000000011110", RL, 23, 1},
    {"0000000011101", RL, 24, 1},
    {"0000000011100", RL, 25, 1},
    {"0000000011011", RL, 26, 1},
    {"00000000011111", RL, 0, 16},
    {"00000000011110", RL, 0, 17},
    {"00000000011101", RL, 0, 18},
    {"00000000011100", RL, 0, 19},
    {"00000000011011", RL, 0, 20},
    {"00000000011010", RL, 0, 21},
    {"00000000011001", RL, 0, 22},
    {"00000000011000", RL, 0, 23},
    {"00000000010111", RL, 0, 24},
    {"00000000010110", RL, 0, 25},
    {"00000000010101", RL, 0, 26},
    {"00000000010100", RL, 0, 27},
    {"00000000010011", RL, 0, 28},
    {"00000000010010", RL, 0, 29},
    {"00000000010001", RL, 0, 30},
    {"00000000010000", RL, 0, 31},
    {"000000000011000", RL, 0, 32},
    {"000000000010111", RL, 0, 33},
    {"000000000010110", RL, 0, 34},
    {"000000000010101", RL, 0, 35},
    {"000000000010100", RL, 0, 36},
    {"000000000010011", RL, 0, 37},
    {"000000000010010", RL, 0, 38},
    {"000000000010001", RL, 0, 39},
    {"000000000010000", RL, 0, 40},
    {"000000000011111", RL, 1, 8},
    {"000000000011110", RL, 1, 9},
    {"000000000011101", RL, 1, 10},
    {"000000000011100", RL, 1, 11},
    {"000000000011011", RL, 1, 12},
    {"000000000011010", RL, 1, 13},
    {"000000000011001", RL, 1, 14},
    {"0000000000010011", RL, 1, 15},
    {"0000000000010010", RL, 1, 16},
    {"0000000000010001", RL, 1, 17},
    {"0000000000010000", RL, 1, 18},
    {"0000000000010100", RL, 6, 3},
    {"0000000000011010", RL, 11, 2},
    {"0000000000011001", RL, 12, 2},
    {"0000000000011000", RL, 13, 2},
    {"0000000000010111", RL, 14, 2},
    {"0000000000010110", RL, 15, 2},
    {"0000000000010101", RL, 16, 2},
    {"0000000000011111", RL, 27, 1},
    {"0000000000011110", RL, 28, 1},
    {"0000000000011101", RL, 29, 1},
    {"0000000000011100", RL, 30, 1},
    {"0000000000011011", RL, 31, 1},
}};

namespace {

constexpr int code_length(const char* code) {
  int n = 0;
  while (code[n]) ++n;
  return n;
}

constexpr uint32_t code_value(const char* code) {
  uint32_t v = 0;
  for (int i = 0; code[i]; ++i) v = (v << 1) | static_cast<uint32_t>(code[i] == '1');
  return v;
}

// dct_dc_size lookup on the next 10 bits: codes that do not start with 11111 by their top
// five bits, the rest by the five bits after that prefix.
struct DcEntry {
  uint8_t size = 0;
  uint8_t length = 0;
};
struct DcLookup {
  DcEntry byTopFive[32];
  DcEntry afterFiveOnes[32];
};

constexpr DcLookup build_dc_lookup(const std::array<DcSizeCode, 12>& codes) {
  DcLookup lookup{};
  for (const DcSizeCode& c : codes) {
    const int length = code_length(c.code);
    const uint32_t value = code_value(c.code);
    const DcEntry entry{static_cast<uint8_t>(c.size), static_cast<uint8_t>(length)};
    DcEntry* table = lookup.byTopFive;
    int bits = length;
    uint32_t index = value;
    if (length >= 5 && (value >> (length - 5)) == 31) {
      table = lookup.afterFiveOnes;
      bits = length - 5;
      index = value & ((1u << bits) - 1);
    }
    if (bits > 5) throw "dc size code too long";
    for (uint32_t i = 0; i < (1u << (5 - bits)); ++i) table[(index << (5 - bits)) + i] = entry;
  }
  return lookup;
}

constexpr DcLookup LuminanceDc = build_dc_lookup(DcSizeLuminance);
constexpr DcLookup ChrominanceDc = build_dc_lookup(DcSizeChrominance);

// dct_coeff_next lookup on the next 16 bits, grouped by leading zeros: a value at or above
// a group's threshold is looked up by its bits above the group's shift.
struct CoeffEntry {
  CoeffCodeKind kind = CoeffCodeKind::Invalid;
  uint8_t run = 0;
  int8_t level = 0;
  uint8_t length = 0;
};
struct CoeffGroup {
  uint32_t threshold;
  int shift;
};
constexpr CoeffGroup CoeffGroups[8] = {{0x4000, 12}, {0x400, 8}, {0x200, 6}, {0x100, 4},
                                       {0x80, 3},    {0x40, 2},  {0x20, 1},  {0x10, 0}};
using CoeffLookup = std::array<std::array<CoeffEntry, 64>, 8>;

constexpr CoeffLookup build_coeff_lookup() {
  CoeffLookup lookup{};
  for (const CoeffCode& c : DctCoeffNext) {
    const int length = code_length(c.code);
    const uint32_t first = code_value(c.code) << (16 - length);
    const uint32_t last = first + (1u << (16 - length)) - 1;
    int g = 0;
    while (first < CoeffGroups[g].threshold) ++g;
    const int shift = CoeffGroups[g].shift;
    if (16 - length < shift) throw "code longer than its group's index";
    const CoeffEntry entry{c.kind, static_cast<uint8_t>(c.run), static_cast<int8_t>(c.level),
                           static_cast<uint8_t>(length)};
    for (uint32_t i = first >> shift; i <= (last >> shift); ++i) {
      if (lookup[g][i].kind != CoeffCodeKind::Invalid) throw "codes overlap";
      lookup[g][i] = entry;
    }
  }
  return lookup;
}

constexpr CoeffLookup CoeffNext = build_coeff_lookup();

inline const CoeffEntry& look_up_coeff(uint32_t v) {
  for (int g = 0;; ++g) {
    if (v >= CoeffGroups[g].threshold) return CoeffNext[g][v >> CoeffGroups[g].shift];
  }
}

// The common short codes looked up directly on the next 9 bits: every run/level code of up to
// 8 bits together with its sign bit, end of block and escape. length 0 marks the indices of
// the longer codes (and of no code), which go through the grouped lookup.
struct ShortCode {
  CoeffCodeKind kind = CoeffCodeKind::Invalid;
  uint8_t run = 0;
  uint8_t magnitude = 0;  // the level without its sign
  int8_t sign = 0;        // -1 for a negative level, else 0
  uint8_t length = 0;     // bits taken, sign included
};
using ShortLookup = std::array<ShortCode, 512>;

constexpr ShortLookup build_short_lookup() {
  ShortLookup lookup{};
  for (const CoeffCode& c : DctCoeffNext) {
    const int length = code_length(c.code);
    const bool signed_code = c.kind == CoeffCodeKind::RunLevel;
    const int taken = length + (signed_code ? 1 : 0);
    if (taken > 9) continue;
    const uint32_t value = code_value(c.code);
    for (uint32_t rest = 0; rest < (1u << (9 - length)); ++rest) {
      const uint32_t index = (value << (9 - length)) | rest;
      const bool negative = signed_code && (rest >> (9 - length - 1)) != 0;
      lookup[index] = ShortCode{c.kind, static_cast<uint8_t>(c.run), static_cast<uint8_t>(c.level),
                                static_cast<int8_t>(negative ? -1 : 0), static_cast<uint8_t>(taken)};
    }
  }
  return lookup;
}

constexpr ShortLookup ShortCodes = build_short_lookup();

}  // namespace

int decode_intra_block(BitReader& reader, int32_t* coefficients, int block, DcPredictor& predictor,
                       const IntraMatrix& matrix, int quantiser_scale) {
  // Sixteen 16-byte stores (see codecs/CMakeLists.txt).
  typedef int32_t Four __attribute__((vector_size(16)));
  const Four zero = {};
  for (int i = 0; i < 64; i += 4) std::memcpy(coefficients + i, &zero, sizeof zero);

  const DcLookup& dc = block < 4 ? LuminanceDc : ChrominanceDc;
  const uint32_t top = peek_bits(reader, 10);
  const DcEntry size = top < 992 ? dc.byTopFive[top >> 5] : dc.afterFiveOnes[top & 31];
  skip_bits(reader, size.length);
  int32_t differential = 0;
  if (size.size > 0) {
    const int32_t v = static_cast<int32_t>(read_bits(reader, size.size));
    differential = (v & (1 << (size.size - 1))) ? v : v + 1 - (1 << size.size);
  }
  // Corrupt streams can push a predictor anywhere; the sums wrap rather than overflow.
  int32_t& mean = predictor[block < 4 ? 0 : block - 3];
  mean = static_cast<int32_t>(static_cast<uint32_t>(mean) + static_cast<uint32_t>(differential));
  coefficients[0] = static_cast<int32_t>(static_cast<uint32_t>(mean) * 8u);

  // The short codes are read through a 64-bit window on the stream (bits past its end read
  // as 0, as with peek_bits), so most codes cost a shift instead of a fresh read; the rest
  // go through the reader itself, which the window then follows.
  uint64_t window = 0;
  int32_t available = 0;
  auto refill = [&] {
    const int32_t byte = reader.position >> 3;
    uint64_t w = 0;
    if (byte + 8 <= reader.size) {
      std::memcpy(&w, reader.data + byte, 8);
      w = __builtin_bswap64(w);
    } else {
      for (int32_t i = byte; i < byte + 8; ++i) w = (w << 8) | (i < reader.size ? reader.data[i] : 0u);
    }
    window = w << (reader.position & 7);
    available = 64 - (reader.position & 7);
  };
  refill();
  for (int position = 1;;) {
    if (available < 9) refill();
    const ShortCode& short_code = ShortCodes[window >> 55];
    if (short_code.kind == CoeffCodeKind::RunLevel) {  // the common case, straight through
      window <<= short_code.length;
      available -= short_code.length;
      reader.position += short_code.length;
      position += short_code.run;
      if (position >= 64) return 0;
      const int32_t m = (matrix[position] * short_code.magnitude * quantiser_scale) >> 3;
      const int32_t value = (m - 1) | 1;
      coefficients[ZigZag[position]] = (value ^ short_code.sign) - short_code.sign;
      ++position;
      continue;
    }
    if (short_code.kind == CoeffCodeKind::EndOfBlock) {
      reader.position += short_code.length;
      return 1;
    }
    // Escape and the longer codes.
    int32_t run = 0, level = 0;
    const uint32_t v = peek_bits(reader, 16);
    if (v < 0x10) return 0;
    const CoeffEntry& code = look_up_coeff(v);
    skip_bits(reader, code.length);
    const CoeffCodeKind kind = code.kind;
    if (kind == CoeffCodeKind::RunLevel) {
      run = code.run;
      level = read_bit(reader) ? -code.level : code.level;
    }
    available = 0;  // the reader moved on its own: the window starts again from it
    switch (kind) {
      case CoeffCodeKind::EndOfBlock:
        return 1;
      case CoeffCodeKind::Escape: {
        run = static_cast<int32_t>(read_bits(reader, 6));
        const uint32_t b = read_bits(reader, 8);
        if (b == 0) {
          level = static_cast<int32_t>(read_bits(reader, 8));
        } else if (b == 0x80) {
          level = static_cast<int32_t>(read_bits(reader, 8)) - 256;
        } else {
          level = static_cast<int8_t>(b);
        }
        available = 0;
        break;
      }
      case CoeffCodeKind::RunLevel:
        break;
      default:
        return 0;
    }
    position += run;
    if (position >= 64) return 0;
    const int32_t magnitude = level < 0 ? -level : level;
    const int32_t m = (matrix[position] * magnitude * quantiser_scale) >> 3;
    const int32_t value = (m - 1) | 1;
    coefficients[ZigZag[position]] = level < 0 ? -value : value;
    ++position;
  }
}
