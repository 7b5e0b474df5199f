#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/sample_encoder.h"

TEST(SampleEncoder, WholeMinimalStreamDecodingInLineWithTheInput) {
  std::vector<int8_t> signal(5000);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = int8_t(std::lround(100.0 * std::sin(double(i) / 5.9)));
  const EncodedSamples coded = encode_samples(signal, {4.0});
  const SampleStreamInfo info = measure_sample_stream(coded.stream.data(), coded.stream.size());
  EXPECT_EQ(info.error, SampleStreamError::None);
  EXPECT_EQ(info.streamBytes, coded.stream.size());
  EXPECT_EQ(info.groups, coded.groups);
  EXPECT_EQ(info.decodedCount, coded.decodedCount);
  EXPECT_GE(coded.decodedCount, signal.size());  // the fewest blocks that hold it
  EXPECT_LT(decoded_sample_count(coded.blocks - 1), signal.size());
  std::vector<int8_t> decoded(coded.decodedCount);
  ASSERT_TRUE(decode_samples_checked(TheSampleDecoder, coded.stream.data(), coded.stream.size(), decoded.data(),
                                     decoded.size()));
  // Close to the input (signal to noise above 18 dB), and the cross-correlation of input and
  // output peaks at lag 0.
  double s = 0.0, n = 0.0, at[9] = {};
  for (size_t i = 0; i < signal.size(); ++i) {
    s += double(signal[i]) * signal[i];
    n += std::pow(double(decoded[i]) - signal[i], 2.0);
    for (int lag = -4; lag <= 4 && i >= 4 && i + 4 < signal.size(); ++lag) {
      at[lag + 4] += double(signal[i]) * decoded[size_t(int64_t(i) + lag)];
    }
  }
  EXPECT_GT(10.0 * std::log10(s / n), 18.0);
  EXPECT_EQ(std::max_element(at, at + 9) - at, 4);
  // Silence costs only the masks.
  const EncodedSamples silence = encode_samples(std::vector<int8_t>(3000, 0), {0.0});
  EXPECT_EQ(silence.stream.size(), 4u + 12u * silence.groups);
}

TEST(SampleEncoder, ClassChoiceMinimisesErrorPlusBits) {
  // Brute force over every class and, per value, every code.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int count = 1 + trial % 16;
    double values[16];
    for (int r = 0; r < count; ++r) values[r] = std::ldexp(dist(rng), trial % 9 - 1);  // up to 128
    for (double bitCost : {0.0, 3.0, 40.0}) {
      const auto cost = [&](const SubbandClass& k, double error) {
        return 32.0 * error + bitCost * 8.0 * ((count * k.bits + 7) / 8);
      };
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
        best = std::min(best, cost(k, error));
      }
      const QuantisedSubband q = choose_subband_class(values, count, bitCost);
      const SubbandClass k = subband_class(q.a, q.b, q.c);
      double error = 0.0;
      for (int r = 0; r < count; ++r) {
        error += std::pow(values[r] - (k.bits ? dequantise(q.codes[r], k.bits, k.exponent) : 0.0), 2.0);
      }
      EXPECT_NEAR(cost(k, error), best, 1e-9 * (1.0 + best)) << trial;
    }
  }
}
