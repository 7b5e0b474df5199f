#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/sample_encoder.h"

namespace {

struct RoundTrip {
  EncodedSamples coded;
  std::vector<int8_t> decoded;
  double snr_db;
};

RoundTrip round_trip(const std::vector<int8_t>& signal, double bitCost) {
  RoundTrip r{encode_samples(signal, {bitCost}), {}, 0.0};
  r.decoded.resize(r.coded.decodedCount);
  EXPECT_TRUE(decode_samples_checked(TheSampleDecoder, r.coded.stream.data(), r.coded.stream.size(),
                                     r.decoded.data(), r.decoded.size()));
  double s = 0.0, n = 0.0;
  for (size_t i = 0; i < signal.size(); ++i) {
    s += double(signal[i]) * signal[i];
    n += (double(r.decoded[i]) - signal[i]) * (double(r.decoded[i]) - signal[i]);
  }
  r.snr_db = 10.0 * std::log10(s / n);
  return r;
}

}  // namespace

TEST(SampleEncoder, WholeMinimalStreamDecodingInLineWithTheInput) {
  std::vector<int8_t> signal(5000);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = int8_t(std::lround(100.0 * std::sin(double(i) / 5.9)));
  const RoundTrip r = round_trip(signal, 4.0);
  const SampleStreamInfo info = measure_sample_stream(r.coded.stream.data(), r.coded.stream.size());
  EXPECT_EQ(info.error, SampleStreamError::None);
  EXPECT_EQ(info.streamBytes, r.coded.stream.size());
  EXPECT_EQ(info.groups, r.coded.groups);
  EXPECT_EQ(info.decodedCount, r.coded.decodedCount);
  EXPECT_GE(r.coded.decodedCount, signal.size());  // the fewest blocks that hold it
  EXPECT_LT(decoded_sample_count(r.coded.blocks - 1), signal.size());
  EXPECT_GT(r.snr_db, 18.0);
  // The cross-correlation of input and output peaks at lag 0.
  double at[9] = {};
  for (int lag = -4; lag <= 4; ++lag) {
    for (size_t i = 4; i + 4 < signal.size(); ++i) at[lag + 4] += double(signal[i]) * r.decoded[size_t(int64_t(i) + lag)];
  }
  EXPECT_EQ(std::max_element(at, at + 9) - at, 4);
}

TEST(SampleEncoder, ClassChoiceMinimisesErrorPlusBits) {
  // Brute force over every class and, per value, every code.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    const int count = 1 + trial % 16;
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    double values[16];
    for (int r = 0; r < count; ++r) values[r] = std::ldexp(dist(rng), trial % 9 - 1);  // up to 128
    for (double bitCost : {0.0, 3.0, 40.0}) {
      double best = INFINITY;
      for (int abc = 0; abc < 7; ++abc) {
        const SubbandClass k = subband_class(abc & 4, abc & 2, abc & 1);
        double error = 0.0;
        for (int r = 0; r < count; ++r) {
          double e = k.bits == 0 ? values[r] * values[r] : INFINITY;
          for (uint32_t code = 0; k.bits != 0 && code < (1u << k.bits); ++code) {
            e = std::min(e, std::pow(values[r] - dequantise(code, k.bits, k.exponent), 2.0));
          }
          error += e;
        }
        best = std::min(best, 32.0 * error + bitCost * 8.0 * ((count * k.bits + 7) / 8));
      }
      const QuantisedSubband q = choose_subband_class(values, count, bitCost);
      const SubbandClass k = subband_class(q.a, q.b, q.c);
      double error = 0.0;
      for (int r = 0; r < count; ++r) error += std::pow(values[r] - (k.bits ? dequantise(q.codes[r], k.bits, k.exponent) : 0.0), 2.0);
      EXPECT_NEAR(32.0 * error + bitCost * 8.0 * ((count * k.bits + 7) / 8), best, 1e-9 * (1.0 + best)) << trial;
    }
  }
}

TEST(SampleEncoder, HigherBitCostGivesSmallerStreamsAndMoreNoise) {
  std::mt19937 rng(1);
  std::normal_distribution<double> dist(0.0, 25.0);
  std::vector<int8_t> signal(8000);
  for (int8_t& s : signal) s = int8_t(std::clamp(std::lround(dist(rng)), -128L, 127L));
  RoundTrip last = round_trip(signal, 0.0);
  for (double bitCost : {8.0, 32.0, 128.0}) {
    const RoundTrip r = round_trip(signal, bitCost);
    EXPECT_LT(r.coded.stream.size(), last.coded.stream.size()) << bitCost;
    EXPECT_LE(r.snr_db, last.snr_db + 0.01) << bitCost;
    last = r;
  }
  // Silence costs only the masks.
  const EncodedSamples silence = encode_samples(std::vector<int8_t>(3000, 0), {0.0});
  EXPECT_EQ(silence.stream.size(), 4u + 12u * silence.groups);
}
