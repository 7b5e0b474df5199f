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
  const double pi = std::numbers::pi;
  for (int i = 0; i < SynthesisTaps; ++i) {
    double w = 0.0;
    for (int k = 0; k < 8; ++k) {
      w += static_cast<double>(WindowCoefficients[k]) * std::cos(static_cast<double>(k * i) * pi / 256.0);
    }
    decoder.window[i] = (i & 64) != 0 ? -w : w;
  }
  for (int m = 0; m < SubbandCount; ++m) {
    for (int j = 0; j < 2 * SubbandCount; ++j) {
      decoder.matrix[m][j] = std::cos(static_cast<double>((2 * m + 1) * (j - 16)) * pi / 64.0);
    }
  }
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

void decode_samples(SampleDecoder& decoder, const uint8_t* stream, int8_t* destination) {
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
