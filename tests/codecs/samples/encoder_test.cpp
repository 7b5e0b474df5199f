#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/sample_encoder.h"

namespace {

std::vector<int8_t> decode(const EncodedSamples& coded) {
  std::vector<int8_t> out(coded.decodedCount);
  EXPECT_TRUE(decode_samples_checked(TheSampleDecoder, coded.stream.data(), coded.stream.size(), out.data(),
                                     out.size()));
  return out;
}

double snr_db(const std::vector<int8_t>& signal, const std::vector<int8_t>& decoded) {
  double s = 0.0, n = 0.0;
  for (size_t i = 0; i < signal.size(); ++i) {
    s += double(signal[i]) * signal[i];
    n += (double(decoded[i]) - signal[i]) * (double(decoded[i]) - signal[i]);
  }
  return 10.0 * std::log10(s / n);
}

std::vector<int8_t> sine(size_t count, double amplitude, double period) {
  std::vector<int8_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<int8_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * double(i) / period)));
  }
  return out;
}

std::vector<int8_t> noise(size_t count, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> dist(0.0, sigma);
  std::vector<int8_t> out(count);
  for (int8_t& s : out) s = static_cast<int8_t>(std::clamp(std::lround(dist(rng)), -128L, 127L));
  return out;
}

}  // namespace

TEST(SampleEncoder, TakesTheFewestBlocksThatHoldTheSignal) {
  EXPECT_EQ(blocks_for_samples(0), 0u);
  EXPECT_EQ(blocks_for_samples(1), 16u);
  EXPECT_EQ(blocks_for_samples(32), 16u);
  EXPECT_EQ(blocks_for_samples(33), 17u);
  for (size_t n : {1u, 31u, 32u, 33u, 4384u, 99136u}) {
    const uint32_t blocks = blocks_for_samples(n);
    EXPECT_GE(decoded_sample_count(blocks), n);
    EXPECT_LT(decoded_sample_count(blocks - 1), n);
  }
}

TEST(SampleEncoder, UnquantisedValuesSynthesiseBackToTheSignalWithoutShift) {
  // Analysis followed by the decoder's own synthesis, in double precision, with no
  // quantisation and no truncation: the signal comes back within a small fraction of a step.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> dist(-100.0, 100.0);
  std::vector<double> target(1000);
  for (double& v : target) v = dist(rng);
  const uint32_t blocks = blocks_for_samples(target.size());
  const std::vector<SubbandRow> rows = analyse_samples(target, blocks);
  SampleDecoder& d = TheSampleDecoder;
  build_synthesis_tables(d);
  double worst = 0.0;
  for (uint32_t b = 0; b < blocks; ++b) {
    for (int m = 0; m < SubbandCount; ++m) d.blockRows[0][m] = rows[b][static_cast<size_t>(m)];
    synthesise_block(d, 0);
    for (int t = 0; t < SubbandCount; ++t) {
      const int64_t i = 32 * int64_t(b) + t - DiscardedSamples;
      if (i >= 0 && i < int64_t(target.size())) worst = std::max(worst, std::fabs(d.accumulator[511 - t] - target[size_t(i)]));
    }
    std::memmove(d.accumulator + 32, d.accumulator, 480 * sizeof(double));
    for (int p = 0; p < 32; ++p) d.accumulator[p] = 0.0;
  }
  EXPECT_LT(worst, 0.05);
}

TEST(SampleEncoder, StreamIsWholeAndDecodesInLineWithTheInput) {
  const std::vector<int8_t> signal = sine(5000, 100.0, 37.3);
  const EncodedSamples coded = encode_samples(signal);
  const SampleStreamInfo info = measure_sample_stream(coded.stream.data(), coded.stream.size());
  EXPECT_EQ(info.error, SampleStreamError::None);
  EXPECT_EQ(info.blocks, coded.blocks);
  EXPECT_EQ(info.groups, coded.groups);
  EXPECT_EQ(info.streamBytes, coded.stream.size());
  EXPECT_EQ(info.decodedCount, coded.decodedCount);
  EXPECT_EQ(coded.blocks, blocks_for_samples(signal.size()));

  const std::vector<int8_t> decoded = decode(coded);
  EXPECT_GT(snr_db(signal, decoded), 18.0);
  // The cross-correlation peaks at lag 0.
  double at[9] = {};
  for (int lag = -4; lag <= 4; ++lag) {
    for (size_t i = 4; i + 4 < signal.size(); ++i) at[lag + 4] += double(signal[i]) * decoded[size_t(int64_t(i) + lag)];
  }
  for (int lag = -4; lag <= 4; ++lag) {
    if (lag != 0) {
      EXPECT_GT(at[4], at[lag + 4]) << lag;
    }
  }
}

TEST(SampleEncoder, SilenceCostsOnlyTheMasks) {
  const std::vector<int8_t> silence(3000, 0);
  const EncodedSamples coded = encode_samples(silence, {0.0});
  EXPECT_EQ(coded.stream.size(), 4u + 12u * coded.groups);
  for (int8_t s : decode(coded)) ASSERT_EQ(s, 0);
}

TEST(SampleEncoder, ClassChoiceMinimisesErrorPlusBits) {
  // Brute force: every class, every code for every value, the cheapest total.
  const bool masks[7][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    const int count = 1 + trial % 16;
    const double scale = std::ldexp(1.0, trial % 9 - 1);  // 0.5 .. 128
    std::uniform_real_distribution<double> dist(-scale, scale);
    double values[16];
    for (int r = 0; r < count; ++r) values[r] = dist(rng);
    for (double bitCost : {0.0, 3.0, 40.0}) {
      double best = INFINITY;
      for (const auto& k : masks) {
        const SubbandClass cls = subband_class(k[0], k[1], k[2]);
        double error = 0.0;
        for (int r = 0; r < count; ++r) {
          double e = cls.bits == 0 ? values[r] * values[r] : INFINITY;
          for (uint32_t code = 0; cls.bits != 0 && code < (1u << cls.bits); ++code) {
            const double d = values[r] - dequantise(code, cls.bits, cls.exponent);
            e = std::min(e, d * d);
          }
          error += e;
        }
        best = std::min(best, 32.0 * error + bitCost * 8.0 * ((count * cls.bits + 7) / 8));
      }
      const QuantisedSubband q = choose_subband_class(values, count, bitCost);
      // The chosen codes decode to the error it reports.
      double error = 0.0;
      for (int r = 0; r < count; ++r) {
        const double d = values[r] - (q.bits == 0 ? 0.0 : dequantise(q.codes[r], q.bits, q.exponent));
        error += d * d;
      }
      EXPECT_NEAR(error, q.error, 1e-9);
      const SubbandClass cls = subband_class(q.a, q.b, q.c);
      EXPECT_EQ(cls.bits, q.bits);
      const double cost = 32.0 * error + bitCost * 8.0 * ((count * q.bits + 7) / 8);
      EXPECT_NEAR(cost, best, 1e-9 * (1.0 + best)) << trial << " " << bitCost;
    }
  }
}

TEST(SampleEncoder, HigherBitCostGivesSmallerStreamsAndMoreNoise) {
  const std::vector<int8_t> signal = noise(8000, 25.0, 1);
  size_t last_size = SIZE_MAX;
  double last_snr = INFINITY;
  for (double bitCost : {0.0, 8.0, 32.0, 128.0}) {
    const EncodedSamples coded = encode_samples(signal, {bitCost});
    const double snr = snr_db(signal, decode(coded));
    EXPECT_LT(coded.stream.size(), last_size) << bitCost;
    EXPECT_LE(snr, last_snr + 0.01) << bitCost;
    last_size = coded.stream.size();
    last_snr = snr;
  }
}
