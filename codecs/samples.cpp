#include "codecs/samples.h"

#include <cmath>
#include <cstring>
#include <numbers>

SampleDecoder TheSampleDecoder;

namespace {

// The window's cosine-series coefficients, stored in single precision and widened on use.
constexpr float WindowCoefficients[8] = {
    0.124996f, -0.25f, 0.249061f, -0.234831f, 0.176782f, -0.085736f, 0.021643f, -0.001933f,
};

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool mask_bit(uint32_t mask, int m) { return ((mask >> m) & 1u) != 0; }

// Bytes a subband's data takes in a group of `blocks` blocks.
size_t subband_bytes(int bits, int blocks) {
  return (static_cast<size_t>(blocks) * static_cast<size_t>(bits) + 7) / 8;
}

// Bytes of the group at `group` covering `blocks` blocks, read from its masks alone.
size_t group_size(const uint8_t* group, int blocks) {
  const uint32_t a = read_u32(group);
  const uint32_t b = read_u32(group + 4);
  const uint32_t c = read_u32(group + 8);
  size_t size = GroupHeaderBytes;
  for (int m = 0; m < SubbandCount; ++m) {
    const SubbandClass k = subband_class(mask_bit(a, m), mask_bit(b, m), mask_bit(c, m));
    size += subband_bytes(k.bits, blocks);
  }
  return size;
}


// Window and matrix by the rule: w[i] = sum of c_k cos(k i pi / 256), negated where bit 6 of
// i is set, and M[m][j] = cos((2m + 1)(j - 16) pi / 64).
struct alignas(32) SynthesisTables {
  double window[SynthesisTaps];
  double matrix[SubbandCount][2 * SubbandCount];
  // Columns j and 32 - j (j = 0..15) are the cosine of opposite arguments, so the same
  // numbers; then the sums s_j and s_(32-j) are the same too, and only columns 16..63 need
  // summing. Checked when the tables are made rather than taken on trust.
  bool mirrored;
};

SynthesisTables make_synthesis_tables() {
  SynthesisTables t{};
  const double pi = std::numbers::pi;
  for (int i = 0; i < SynthesisTaps; ++i) {
    double w = 0.0;
    for (int k = 0; k < 8; ++k) {
      w += static_cast<double>(WindowCoefficients[k]) * std::cos(static_cast<double>(k * i) * pi / 256.0);
    }
    t.window[i] = (i & 64) != 0 ? -w : w;
  }
  for (int m = 0; m < SubbandCount; ++m) {
    for (int j = 0; j < 2 * SubbandCount; ++j) {
      t.matrix[m][j] = std::cos(static_cast<double>((2 * m + 1) * (j - 16)) * pi / 64.0);
    }
  }
  t.mirrored = true;
  for (int m = 0; m < SubbandCount; ++m)
    for (int j = 0; j < 16; ++j)
      if (std::memcmp(&t.matrix[m][j], &t.matrix[m][32 - j], sizeof(double)) != 0) t.mirrored = false;
  return t;
}

const SynthesisTables& synthesis_tables() {
  static const SynthesisTables tables = make_synthesis_tables();
  return tables;
}

}  // namespace

SubbandClass subband_class(bool a, bool b, bool c) {
  if (a && b) return {4, 4};
  if (a && c) return {4, 3};
  if (b && c) return {4, 2};
  if (a) return {2, 2};
  if (b) return {2, 1};
  if (c) return {2, 0};
  return {0, 0};
}

double dequantise(uint32_t code, int bits, int exponent) {
  const uint32_t sign = 1u << (bits - 1);
  const int32_t t = static_cast<int32_t>(code & (sign - 1)) - static_cast<int32_t>(code & sign);
  return std::ldexp(static_cast<double>(t) + 0.5, exponent);
}

int8_t accumulator_to_sample(double value) {
  // Truncation toward zero, then the limit; testing the range first keeps the conversion
  // defined for any value.
  if (value >= 127.0) return 127;
  if (value <= -128.0) return -128;
  return static_cast<int8_t>(static_cast<int32_t>(value));
}

uint64_t decoded_sample_count(uint32_t blocks) {
  const uint64_t total = uint64_t{SubbandCount} * blocks;
  return total > DiscardedSamples ? total - DiscardedSamples : 0;
}

void build_synthesis_tables(SampleDecoder& decoder) {
  // Built by the rule once per process; every stream starts from the same values.
  const SynthesisTables& tables = synthesis_tables();
  std::memcpy(decoder.window, tables.window, sizeof decoder.window);
  std::memcpy(decoder.matrix, tables.matrix, sizeof decoder.matrix);
  for (double& a : decoder.accumulator) a = 0.0;
}

size_t read_group(SampleDecoder& decoder, const uint8_t* group, int blocks) {
  const uint32_t a = read_u32(group);
  const uint32_t b = read_u32(group + 4);
  const uint32_t c = read_u32(group + 8);
  const uint8_t* data = group + GroupHeaderBytes;
  for (int m = 0; m < SubbandCount; ++m) {
    const SubbandClass k = subband_class(mask_bit(a, m), mask_bit(b, m), mask_bit(c, m));
    if (k.bits == 0) {
      for (int r = 0; r < blocks; ++r) decoder.blockRows[r][m] = 0.0;
      continue;
    }
    const uint32_t code_mask = (1u << k.bits) - 1;
    for (int r = 0; r < blocks; ++r) {
      const int bit = r * k.bits;  // from the top of the subband's first byte
      const uint32_t code = (static_cast<uint32_t>(data[bit / 8]) >> (8 - k.bits - bit % 8)) & code_mask;
      decoder.blockRows[r][m] = dequantise(code, k.bits, k.exponent);
    }
    data += subband_bytes(k.bits, blocks);
  }
  return static_cast<size_t>(data - group);
}

void synthesise_block(SampleDecoder& decoder, int row) {
  const double* x = decoder.blockRows[row];
  // s[j] is summed over the subbands in ascending order from 0.0; the loop runs across j
  // inside so that it vectorises without changing that order.
  double s[2 * SubbandCount];
  for (double& v : s) v = 0.0;
  for (int m = 0; m < SubbandCount; ++m) {
    const double xm = x[m];
    const double* column = decoder.matrix[m];
    for (int j = 0; j < 2 * SubbandCount; ++j) s[j] = s[j] + xm * column[j];
  }
  for (int k = 0; k < 8; ++k) {
    double* a = decoder.accumulator + 64 * k;
    const double* w = decoder.window + 64 * k;
    for (int j = 0; j < 2 * SubbandCount; ++j) a[j] = a[j] + s[j] * w[j];
  }
}

namespace {

// dequantise for every class and code, [4 bits?][exponent][code]: (t + 0.5) x 2^e.
struct LevelTable {
  double values[2][5][16];
};
// Scaling by a power of two is exact, so this is dequantise's value.
constexpr LevelTable Levels = [] {
  LevelTable table{};
  for (int wide = 0; wide < 2; ++wide)
    for (int e = 0; e < 5; ++e)
      for (int code = 0; code < (wide ? 16 : 4); ++code) {
        const int half = wide ? 8 : 2;
        const int t = code < half ? code : code - 2 * half;
        table.values[wide][e][code] = (t + 0.5) * (1 << e);
      }
  return table;
}();

// Reads the group's codes like read_group, keeping only the coded subbands. Returns the
// bytes the group occupies.
size_t read_group_fast(SampleDecoder& f, const uint8_t* group, int blocks) {
  const uint32_t a = read_u32(group), b = read_u32(group + 4), c = read_u32(group + 8);
  const uint8_t* data = group + GroupHeaderBytes;
  f.codedCount = 0;
  for (int m = 0; m < SubbandCount; ++m) {
    const SubbandClass k = subband_class(mask_bit(a, m), mask_bit(b, m), mask_bit(c, m));
    if (k.bits == 0) continue;
    // (t + 0.5) 2^e for every code t, so each value is one lookup.
    const double* levels = Levels.values[k.bits == 4][k.exponent];
    const int slot = f.codedCount++;
    f.coded[slot] = m;
    const uint32_t code_mask = (1u << k.bits) - 1;
    for (int r = 0; r < blocks; ++r) {
      const int bit = r * k.bits;
      f.codedRows[r][slot] = levels[(static_cast<uint32_t>(data[bit / 8]) >> (8 - k.bits - bit % 8)) & code_mask];
    }
    data += subband_bytes(k.bits, blocks);
  }
  return static_cast<size_t>(data - group);
}

// On x86-64 also built for AVX2, the build chosen when the program loads (as the pixel
// converters are), and for AVX-512, chosen once at load; every build does the same double
// operations in the same order, so the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
#define MD_SYNTHESIS_CLONES __attribute__((target_clones("avx2", "default")))
#define MD_SYNTHESIS_WIDE 1
#else
#define MD_SYNTHESIS_CLONES
#define MD_SYNTHESIS_WIDE 0
#endif

// Four or eight doubles; each operation is the same double operation lane by lane.
typedef double Quad __attribute__((vector_size(32)));
typedef double Oct __attribute__((vector_size(64)));

// Loads and stores that ask for no more than a double's alignment: the ring and the tables
// are aligned for four lanes, not always for eight.
template <typename V>
__attribute__((always_inline)) inline void load(V& v, const double* p) {
  __builtin_memcpy(&v, p, sizeof v);
}
template <typename V>
__attribute__((always_inline)) inline void store(double* p, const V& v) {
  __builtin_memcpy(p, &v, sizeof v);
}
template <typename V>
__attribute__((always_inline)) inline void broadcast(V& v, double x) {
  if constexpr (sizeof(V) == 4 * sizeof(double)) {
    v = V{x, x, x, x};
  } else {
    v = V{x, x, x, x, x, x, x, x};
  }
}

// s_j for the columns from From on (V number q holds columns From + L q .. From + L q +
// L - 1, L lanes): sums from 0.0 in ascending subband order, the first term taken as it
// stands (which differs from 0.0 + term only in the sign of a zero). A fixed count keeps the
// sums in registers.
template <typename V, int From>
__attribute__((always_inline)) inline void sum_columns(V* s, const SynthesisTables& t, const double* row,
                                                       const int* coded, int count) {
  constexpr int L = sizeof(V) / sizeof(double);
  constexpr int N = (2 * SubbandCount - From) / L;
  V sum[N];
  {
    V x;
    broadcast(x, row[0]);
    const double* column = t.matrix[coded[0]] + From;
    for (int q = 0; q < N; ++q) {
      V m;
      load(m, column + L * q);
      sum[q] = x * m;
    }
  }
  for (int slot = 1; slot < count; ++slot) {
    V x;
    broadcast(x, row[slot]);
    const double* column = t.matrix[coded[slot]] + From;
    for (int q = 0; q < N; ++q) {
      V m;
      load(m, column + L * q);
      sum[q] = sum[q] + x * m;
    }
  }
  for (int q = 0; q < N; ++q) s[From / L + q] = sum[q];
}

// Blocks `first` .. `first + count - 1` of the current group into the ring, emitting each
// block's 32 samples to `out` unless the block is one of the first 15 of the stream.
// Exactness against synthesise_block: a silent subband only ever adds a signed zero to a
// sum, and a block with no coded subband adds signed zeros to the accumulator, so leaving
// them out can change nothing but the sign of a zero, which truncation does not see. The
// remaining sums run in the same order from the same values.
template <typename V>
__attribute__((always_inline)) inline int8_t* synthesise_blocks_in(SampleDecoder& f, const SynthesisTables& t,
                                                                   int first, int count, uint32_t& emitted,
                                                                   int8_t* out) {
  constexpr int L = sizeof(V) / sizeof(double);
  for (int r = first; r < first + count; ++r) {
    if (f.codedCount > 0) {
      // Sums from 0.0 in ascending subband order; the first term is taken as it stands,
      // which differs from 0.0 + term only in the sign of a zero. Columns 16..63 are summed
      // (all 64 when the tables are not mirrored), L at a time.
      V s[2 * SubbandCount / L];
      if (t.mirrored) {
        sum_columns<V, 16>(s, t, f.codedRows[r], f.coded, f.codedCount);
        double* sd = reinterpret_cast<double*>(s);
        for (int j = 0; j < 16; ++j) sd[j] = sd[32 - j];
      } else {
        sum_columns<V, 0>(s, t, f.codedRows[r], f.coded, f.codedCount);
      }
      for (int c = 0; c < SynthesisTaps / SubbandCount; ++c) {
        double* a = f.ring + ((SubbandCount * c + f.ringOffset) & (SynthesisTaps - 1));
        const V* sc = s + (SubbandCount / L) * (c & 1);
        const double* wc = t.window + SubbandCount * c;
        for (int q = 0; q < SubbandCount / L; ++q) {
          V v, wq;
          load(v, a + L * q);
          load(wq, wc + L * q);
          v = v + sc[q] * wq;
          store(a + L * q, v);
        }
      }
    }
    // The top chunk leaves (read from its top downwards), then becomes the new bottom one.
    double* __restrict top = f.ring + ((SynthesisTaps - SubbandCount + f.ringOffset) & (SynthesisTaps - 1));
    if (emitted >= DiscardedSamples / SubbandCount) {
      // accumulator_to_sample on every value: limiting before the truncation gives the
      // same numbers (the limits are whole).
      int32_t whole[SubbandCount];
      for (int i = 0; i < SubbandCount; ++i) {
        const double v = top[i];
        whole[i] = static_cast<int32_t>(v < -128.0 ? -128.0 : v > 127.0 ? 127.0 : v);
      }
      for (int i = 0; i < SubbandCount; ++i) out[i] = static_cast<int8_t>(whole[SubbandCount - 1 - i]);
      out += SubbandCount;
    } else {
      ++emitted;
    }
    for (int q = 0; q < SubbandCount / L; ++q) store(top + L * q, V{});
    f.ringOffset = (f.ringOffset - SubbandCount) & (SynthesisTaps - 1);
  }
  return out;
}

MD_SYNTHESIS_CLONES
int8_t* synthesise_blocks(SampleDecoder& f, const SynthesisTables& t, int first, int count, uint32_t& emitted,
                          int8_t* out) {
  return synthesise_blocks_in<Quad>(f, t, first, count, emitted, out);
}

#if MD_SYNTHESIS_WIDE
__attribute__((target("avx512f"))) int8_t* synthesise_blocks_wide(SampleDecoder& f, const SynthesisTables& t,
                                                                  int first, int count, uint32_t& emitted,
                                                                  int8_t* out) {
  return synthesise_blocks_in<Oct>(f, t, first, count, emitted, out);
}
// Asked once, at load; the processor's table is filled first, as a constructor must.
const bool WideSynthesis = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") != 0;
}();
#else
int8_t* synthesise_blocks_wide(SampleDecoder& f, const SynthesisTables& t, int first, int count,
                               uint32_t& emitted, int8_t* out) {
  return synthesise_blocks(f, t, first, count, emitted, out);
}
constexpr bool WideSynthesis = false;
#endif

}  // namespace

void decode_samples(SampleDecoder& f, const uint8_t* stream, int8_t* destination) {
  const SynthesisTables& tables = synthesis_tables();
  const uint32_t blocks = read_u32(stream);
  const uint8_t* group = stream + 4;
  for (double& a : f.ring) a = 0.0;
  f.ringOffset = 0;
  uint32_t emitted = 0;
  int8_t* out = destination;
  for (uint32_t block = 0; block < blocks; block += GroupBlocks) {
    const uint32_t left = blocks - block;
    const int count = left < GroupBlocks ? static_cast<int>(left) : GroupBlocks;
    group += read_group_fast(f, group, count);
    out = WideSynthesis ? synthesise_blocks_wide(f, tables, 0, count, emitted, out)
                        : synthesise_blocks(f, tables, 0, count, emitted, out);
  }
}

void decode_samples_plain(SampleDecoder& decoder, const uint8_t* stream, int8_t* destination) {
  const uint32_t blocks = read_u32(stream);
  const uint8_t* group = stream + 4;
  build_synthesis_tables(decoder);
  // The first 15 blocks' samples are dropped as they leave rather than kept in a
  // temporary area, so a decode needs no memory of its own.
  int8_t* out = destination;
  int position = GroupBlocks;
  for (uint32_t block = 0; block < blocks; ++block) {
    if (position == GroupBlocks) {
      const uint32_t left = blocks - block;
      group += read_group(decoder, group, left < GroupBlocks ? static_cast<int>(left) : GroupBlocks);
      position = 0;
    }
    synthesise_block(decoder, position);
    if (block >= DiscardedSamples / SubbandCount) {
      for (int t = 0; t < SubbandCount; ++t) *out++ = accumulator_to_sample(decoder.accumulator[SynthesisTaps - 1 - t]);
    }
    std::memmove(decoder.accumulator + SubbandCount, decoder.accumulator,
                 (SynthesisTaps - SubbandCount) * sizeof(double));
    for (int p = 0; p < SubbandCount; ++p) decoder.accumulator[p] = 0.0;
    ++position;
  }
}

SampleStreamInfo measure_sample_stream(const uint8_t* stream, size_t size) {
  SampleStreamInfo info{};
  if (size < 4) {
    info.error = SampleStreamError::NoBlockCount;
    return info;
  }
  info.blocks = read_u32(stream);
  info.decodedCount = decoded_sample_count(info.blocks);
  size_t offset = 4;
  for (uint32_t left = info.blocks; left > 0;) {
    const int blocks = left < GroupBlocks ? static_cast<int>(left) : GroupBlocks;
    if (size - offset < GroupHeaderBytes) {
      info.error = SampleStreamError::Truncated;
      return info;
    }
    const size_t bytes = group_size(stream + offset, blocks);
    if (size - offset < bytes) {
      info.error = SampleStreamError::Truncated;
      return info;
    }
    offset += bytes;
    left -= static_cast<uint32_t>(blocks);
    ++info.groups;
  }
  info.streamBytes = offset;
  info.error = SampleStreamError::None;
  return info;
}

bool decode_samples_checked(SampleDecoder& decoder, const uint8_t* stream, size_t size,
                            int8_t* destination, size_t capacity) {
  const SampleStreamInfo info = measure_sample_stream(stream, size);
  if (info.error != SampleStreamError::None || info.decodedCount > capacity) return false;
  decode_samples(decoder, stream, destination);
  return true;
}
