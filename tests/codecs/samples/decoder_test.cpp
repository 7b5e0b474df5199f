#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/samples/stream_writer.h"

using test_streams::random_stream;

namespace {

// The synthesis written plainly: output sample q is the sum, over the blocks b whose 512
// taps reach it (oldest first), of window[p] x (matrix column sum from 0.0 in subband
// order) at tap p = 511 - (q - 32 b). No accumulator, no shifting, no precomputed tables.
std::vector<int8_t> reference_decode(const std::vector<std::vector<double>>& x) {
  const double pi = std::numbers::pi;
  const float c[8] = {0.124996f, -0.25f, 0.249061f, -0.234831f, 0.176782f, -0.085736f, 0.021643f, -0.001933f};
  std::vector<int8_t> out;
  for (int64_t q = 480; q < 32 * static_cast<int64_t>(x.size()); ++q) {
    double y = 0.0;
    for (int64_t b = 0; b < static_cast<int64_t>(x.size()); ++b) {
      const int64_t p = 511 - (q - 32 * b);
      if (p < 0 || p > 511) continue;
      double w = 0.0, s = 0.0;
      for (int k = 0; k < 8; ++k) w += static_cast<double>(c[k]) * std::cos(static_cast<double>(k * p) * pi / 256.0);
      for (int m = 0; m < 32; ++m) s += x[b][m] * std::cos(static_cast<double>((2 * m + 1) * (p % 64 - 16)) * pi / 64.0);
      y += s * ((p / 64) % 2 == 1 ? -w : w);
    }
    out.push_back(static_cast<int8_t>(std::clamp(std::trunc(y), -128.0, 127.0)));
  }
  return out;
}

// Decodes into a buffer with guard bytes either side and checks that they survive.
std::vector<int8_t> decode_guarded(const std::vector<uint8_t>& stream, size_t count) {
  std::vector<int8_t> buffer(count + 128, 0x5A);
  decode_samples(TheSampleDecoder, stream.data(), buffer.data() + 64);
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_EQ(buffer[i], 0x5A) << "before the destination, byte " << i;
    EXPECT_EQ(buffer[count + 64 + i], 0x5A) << "after the destination, byte " << i;
  }
  return {buffer.begin() + 64, buffer.end() - 64};
}

}  // namespace

TEST(SampleTables, WindowPeaksInTheMiddleAndVanishesAtTheEnds) {
  SampleDecoder& d = TheSampleDecoder;
  d.accumulator[7] = 1.0;
  build_synthesis_tables(d);
  EXPECT_NEAR(d.window[0], -0.000018, 0.0000005);
  EXPECT_NEAR(d.window[255], -1.145, 0.001);
  EXPECT_NEAR(d.window[256], 1.145, 0.001);
  EXPECT_EQ(d.accumulator[7], 0.0);
}

TEST(SampleClasses, MaskBitsAndCodes) {
  const int expected[8][2] = {{0, 0}, {2, 0}, {2, 1}, {4, 2}, {2, 2}, {4, 3}, {4, 4}, {4, 4}};  // index A B C
  for (int abc = 0; abc < 8; ++abc) {
    const SubbandClass k = subband_class(abc & 4, abc & 2, abc & 1);
    EXPECT_EQ(k.bits, expected[abc][0]) << abc;
    EXPECT_EQ(k.bits == 0 ? 0 : k.exponent, expected[abc][1]) << abc;
  }
  EXPECT_EQ(dequantise(0b1000, 4, 3), -7.5 * 8);
  EXPECT_EQ(dequantise(0b0111, 4, 3), 7.5 * 8);
  EXPECT_EQ(dequantise(0b10, 2, 1), -1.5 * 2);
  EXPECT_EQ(dequantise(0b01, 2, 1), 1.5 * 2);
  EXPECT_EQ(dequantise(0b11, 2, 0), -0.5);
}

TEST(SampleGroups, SubbandsStartOnFreshBytesAndSilentOnesTakeNone) {
  // c = 5. Subband 0 (A: 2 bits, e = 2) takes ceil(10 / 8) = 2 bytes, subband 1 is silent,
  // subband 2 (B, C: 4 bits, e = 2) takes 3 bytes, subband 3 (A, B and C) 3 bytes.
  std::vector<uint8_t> g;
  for (uint32_t mask : {0b1001u, 0b1100u, 0b1100u}) test_streams::put_u32(g, mask);
  g.insert(g.end(), {0b10'01'11'00, 0b01'111111, 0x80, 0x7F, 0x3F, 0x12, 0x34, 0x5F, 0xEE});
  SampleDecoder& d = TheSampleDecoder;
  d.blockRows[5][0] = 99.0;
  EXPECT_EQ(read_group(d, g.data(), 5), 12u + 8u);
  const double expected[5][4] = {{-6, 0, -30, 24}, {6, 0, 2, 40}, {-2, 0, 30, 56}, {2, 0, -2, 72}, {6, 0, 14, 88}};
  for (int r = 0; r < 5; ++r) {
    for (int m = 0; m < 32; ++m) EXPECT_EQ(d.blockRows[r][m], m < 4 ? expected[r][m] : 0.0) << r << " " << m;
  }
  EXPECT_EQ(d.blockRows[5][0], 99.0);  // rows beyond c are left alone
}

TEST(SampleOutput, TruncatesTowardZeroThenLimits) {
  const double in[] = {127.9, -128.9, 300.0, -0.7, 0.7, -5.99, -1e300, 1e300};
  const int out[] = {127, -128, 127, 0, 0, -5, -128, 127};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(accumulator_to_sample(in[i]), out[i]) << in[i];
}

TEST(SampleDecode, AgreesWithThePlainSynthesisAndTouchesNothingElse) {
  std::mt19937 rng(2024);
  // 0..15 blocks yield nothing; 16 blocks yield the 16th block's 32 samples; the rest
  // cover partial last groups and several groups in a row (each stream starting clean).
  for (uint32_t blocks : {0u, 15u, 16u, 17u, 33u, 152u}) {
    const test_streams::RandomStream s = random_stream(blocks, rng);
    const std::vector<int8_t> out = decode_guarded(s.bytes, decoded_sample_count(blocks));
    EXPECT_EQ(out.size(), blocks > 15 ? 32 * blocks - 480 : 0);
    ASSERT_EQ(out, reference_decode(s.values)) << blocks << " blocks";
  }
}

// The checked decoder measures first and refuses, writing nothing, what does not fit.
TEST(SampleStreams, MeasuredAndCheckedBeforeUntrustedDecoding) {
  std::mt19937 rng(8);
  std::vector<uint8_t> stream = random_stream(152, rng).bytes;  // ten groups, the last of 8 blocks
  const size_t size = stream.size();
  stream.resize(size + 3, 0xFF);  // padding after the last group is never read
  const SampleStreamInfo info = measure_sample_stream(stream.data(), stream.size());
  EXPECT_EQ(info.error, SampleStreamError::None);
  EXPECT_EQ(info.streamBytes, size);
  EXPECT_EQ(info.decodedCount, 4384u);
  EXPECT_EQ(measure_sample_stream(stream.data(), 3).error, SampleStreamError::NoBlockCount);
  std::vector<int8_t> out(4384, 0x33);
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size - 1, out.data(), 4384));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4383));
  stream[3] = 0x7F;  // a huge block count behind a short stream
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), stream.size(), out.data(), out.size()));
  EXPECT_EQ(out, std::vector<int8_t>(4384, 0x33));
  stream[3] = 0;
  ASSERT_TRUE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4384));
  EXPECT_EQ(out, decode_guarded(stream, 4384));
}
