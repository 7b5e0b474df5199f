#include "tools/samplecodec/sample_encoder.h"

#include <algorithm>
#include <cmath>

namespace {

// The classes in the order they are tried: fewer bits first, so that a tie keeps the
// cheaper class.
struct Candidate {
  bool a, b, c;
};
constexpr Candidate Candidates[] = {
    {false, false, true}, {false, true, false}, {true, false, false},  // 2 bits, e = 0, 1, 2
    {false, true, true},  {true, false, true},  {true, true, false},   // 4 bits, e = 2, 3, 4
};

// Error energy of the decoded samples per unit of subband error energy.
constexpr double DecodedErrorGain = 32.0;

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_codes(std::vector<uint8_t>& out, const QuantisedSubband& q, int count) {
  uint32_t pending = 0;
  int filled = 0;
  for (int r = 0; r < count; ++r) {
    pending = (pending << q.bits) | q.codes[r];
    filled += q.bits;
    if (filled == 8) {
      out.push_back(static_cast<uint8_t>(pending));
      pending = 0;
      filled = 0;
    }
  }
  if (filled > 0) out.push_back(static_cast<uint8_t>(pending << (8 - filled)));
}

}  // namespace

uint32_t blocks_for_samples(size_t count) {
  if (count == 0) return 0;
  return static_cast<uint32_t>((count + DiscardedSamples + SubbandCount - 1) / SubbandCount);
}

double decoder_target(int8_t sample) {
  if (sample > 0) return sample + 0.5;
  if (sample < 0) return sample - 0.5;
  return 0.0;
}

std::vector<SubbandRow> analyse_samples(std::span<const double> target, uint32_t blocks) {
  SampleDecoder& tables = TheSampleDecoder;
  build_synthesis_tables(tables);
  std::vector<SubbandRow> rows(blocks);
  const auto at = [&](int64_t i) {
    return i >= 0 && i < static_cast<int64_t>(target.size()) ? target[static_cast<size_t>(i)] : 0.0;
  };
  for (uint32_t b = 0; b < blocks; ++b) {
    // Tap p of block b reaches decoded sample 32 b + 31 - p (the decoder's accumulator
    // position p leaves (511 - p) samples after the block's first output).
    const int64_t base = 32 * static_cast<int64_t>(b) + 31;
    double folded[2 * SubbandCount];
    for (int j = 0; j < 2 * SubbandCount; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 8; ++k) {
        const int p = j + 64 * k;
        sum += tables.window[p] * at(base - p);
      }
      folded[j] = sum;
    }
    for (int m = 0; m < SubbandCount; ++m) {
      double sum = 0.0;
      for (int j = 0; j < 2 * SubbandCount; ++j) sum += tables.matrix[m][j] * folded[j];
      rows[b][static_cast<size_t>(m)] = sum / DecodedErrorGain;
    }
  }
  return rows;
}

QuantisedSubband choose_subband_class(const double* values, int count, double bitCost) {
  QuantisedSubband best;
  for (int r = 0; r < count; ++r) best.error += values[r] * values[r];
  double best_cost = DecodedErrorGain * best.error;
  for (const Candidate& k : Candidates) {
    const SubbandClass cls = subband_class(k.a, k.b, k.c);
    QuantisedSubband q;
    q.a = k.a, q.b = k.b, q.c = k.c;
    q.bits = cls.bits;
    q.exponent = cls.exponent;
    const double step = std::ldexp(1.0, cls.exponent);
    const int lo = -(1 << (cls.bits - 1));
    const int hi = (1 << (cls.bits - 1)) - 1;
    for (int r = 0; r < count; ++r) {
      // The levels are (t + 0.5) x step, so the nearest one has t = floor(value / step).
      const double scaled = std::floor(values[r] / step);
      const int t = static_cast<int>(std::clamp(scaled, static_cast<double>(lo), static_cast<double>(hi)));
      q.codes[r] = static_cast<uint8_t>(static_cast<unsigned>(t) & ((1u << cls.bits) - 1));
      const double e = values[r] - (t + 0.5) * step;
      q.error += e * e;
    }
    const double bits = 8.0 * static_cast<double>((count * cls.bits + 7) / 8);
    const double cost = DecodedErrorGain * q.error + bitCost * bits;
    if (cost < best_cost) {
      best_cost = cost;
      best = q;
    }
  }
  return best;
}

EncodedSamples encode_samples(std::span<const int8_t> signal, const SampleEncoderSettings& settings) {
  EncodedSamples out;
  out.blocks = blocks_for_samples(signal.size());
  out.decodedCount = decoded_sample_count(out.blocks);
  std::vector<double> target(signal.size());
  for (size_t i = 0; i < signal.size(); ++i) target[i] = decoder_target(signal[i]);
  const std::vector<SubbandRow> rows = analyse_samples(target, out.blocks);

  put_u32(out.stream, out.blocks);
  for (uint32_t first = 0; first < out.blocks; first += GroupBlocks) {
    const int count = static_cast<int>(std::min<uint32_t>(GroupBlocks, out.blocks - first));
    QuantisedSubband subbands[SubbandCount];
    uint32_t masks[3] = {0, 0, 0};
    for (int m = 0; m < SubbandCount; ++m) {
      double values[GroupBlocks];
      for (int r = 0; r < count; ++r) values[r] = rows[first + static_cast<uint32_t>(r)][static_cast<size_t>(m)];
      subbands[m] = choose_subband_class(values, count, settings.bitCost);
      masks[0] |= uint32_t{subbands[m].a} << m;
      masks[1] |= uint32_t{subbands[m].b} << m;
      masks[2] |= uint32_t{subbands[m].c} << m;
    }
    for (uint32_t mask : masks) put_u32(out.stream, mask);
    for (const QuantisedSubband& q : subbands) {
      if (q.bits != 0) put_codes(out.stream, q, count);
    }
    ++out.groups;
  }
  return out;
}
