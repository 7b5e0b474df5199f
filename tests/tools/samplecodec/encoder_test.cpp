#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
}
