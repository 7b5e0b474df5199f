#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/samples/stream_writer.h"

using namespace test_streams;

namespace {

// The synthesis written plainly from its definition: every output sample q is the sum, over
// the blocks b whose 512 taps reach it (oldest first), of window x (matrix row sum from 0.0
// in subband order), at tap p = 511 - (q - 32 b). No accumulator, no shifting.
std::vector<int8_t> reference_decode(const std::vector<std::vector<double>>& x) {
  const double pi = std::numbers::pi;
  const float c[8] = {0.124996f, -0.25f, 0.249061f, -0.234831f, 0.176782f, -0.085736f, 0.021643f, -0.001933f};
  std::vector<double> w(512);
  for (int i = 0; i < 512; ++i) {
    double sum = 0.0;
    for (int k = 0; k < 8; ++k) sum += static_cast<double>(c[k]) * std::cos(static_cast<double>(k * i) * pi / 256.0);
    w[i] = (i / 64) % 2 == 1 ? -sum : sum;
  }
  std::vector<int8_t> out;
  const int64_t total = 32 * static_cast<int64_t>(x.size());
  for (int64_t q = 480; q < total; ++q) {
    double y = 0.0;
    for (int64_t b = 0; b < static_cast<int64_t>(x.size()); ++b) {
      const int64_t p = 511 - (q - 32 * b);
      if (p < 0 || p > 511) continue;
      double s = 0.0;
      for (int m = 0; m < 32; ++m) {
        s += x[b][m] * std::cos(static_cast<double>((2 * m + 1) * (p % 64 - 16)) * pi / 64.0);
      }
      y += s * w[p];
    }
    const double t = std::trunc(y);
    out.push_back(static_cast<int8_t>(t > 127.0 ? 127 : t < -128.0 ? -128 : t));
  }
  return out;
}

// Decodes into a buffer with 64 guard bytes either side and checks that the guards survive.
std::vector<int8_t> decode_guarded(const std::vector<uint8_t>& stream, size_t count) {
  std::vector<int8_t> buffer(count + 128, 0x5A);
  decode_samples(TheSampleDecoder, stream.data(), buffer.data() + 64);
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_EQ(buffer[i], 0x5A) << "before the destination, byte " << i;
    EXPECT_EQ(buffer[count + 64 + i], 0x5A) << "after the destination, byte " << i;
  }
  return {buffer.begin() + 64, buffer.begin() + 64 + static_cast<ptrdiff_t>(count)};
}

}  // namespace

TEST(SampleTables, WindowAndMatrixHaveTheirKnownShape) {
  SampleDecoder& d = TheSampleDecoder;
  for (double& a : d.accumulator) a = 1.0;
  build_synthesis_tables(d);
  EXPECT_NEAR(d.window[0], -0.000018, 0.0000005);
  EXPECT_NEAR(d.window[255], -1.145, 0.001);
  EXPECT_NEAR(d.window[256], 1.145, 0.001);
  int peak = 0;
  for (int i = 0; i < 512; ++i) {
    if (std::fabs(d.window[i]) > std::fabs(d.window[peak])) peak = i;
  }
  EXPECT_TRUE(peak == 255 || peak == 256) << peak;
  // The sign flips with bit 6 of the index: just across 64 and 128 the window changes sign.
  EXPECT_LT(d.window[63] * d.window[64], 0.0);
  EXPECT_LT(d.window[127] * d.window[128], 0.0);
  for (int m = 0; m < 32; ++m) {
    EXPECT_EQ(d.matrix[m][16], 1.0);  // column 16 is the cosine of 0
    EXPECT_NEAR(d.matrix[m][0], std::cos((2 * m + 1) * -16 * std::numbers::pi / 64.0), 1e-15);
  }
  for (double a : d.accumulator) EXPECT_EQ(a, 0.0);
}

TEST(SampleClasses, MaskBitsSelectBitsAndExponent) {
  struct Row {
    bool a, b, c;
    int bits, exponent;
  } rows[] = {{1, 1, 0, 4, 4}, {1, 1, 1, 4, 4}, {1, 0, 1, 4, 3}, {0, 1, 1, 4, 2},
              {1, 0, 0, 2, 2}, {0, 1, 0, 2, 1}, {0, 0, 1, 2, 0}, {0, 0, 0, 0, 0}};
  for (const Row& r : rows) {
    const SubbandClass k = subband_class(r.a, r.b, r.c);
    EXPECT_EQ(k.bits, r.bits) << r.a << r.b << r.c;
    if (r.bits != 0) {
      EXPECT_EQ(k.exponent, r.exponent) << r.a << r.b << r.c;
    }
  }
}

TEST(SampleClasses, CodesAreSignedAndHalfStepOffset) {
  EXPECT_EQ(dequantise(0b1000, 4, 0), -7.5);
  EXPECT_EQ(dequantise(0b0111, 4, 0), 7.5);
  EXPECT_EQ(dequantise(0b1000, 4, 4), -120.0);
  EXPECT_EQ(dequantise(0b0111, 4, 4), 120.0);
  EXPECT_EQ(dequantise(0b1111, 4, 3), -4.0);
  EXPECT_EQ(dequantise(0b0000, 4, 2), 2.0);
  EXPECT_EQ(dequantise(0b10, 2, 0), -1.5);
  EXPECT_EQ(dequantise(0b01, 2, 0), 1.5);
  EXPECT_EQ(dequantise(0b11, 2, 1), -1.0);
  EXPECT_EQ(dequantise(0b00, 2, 2), 2.0);
}

TEST(SampleGroups, SubbandsStartOnFreshBytesAndSilentOnesTakeNone) {
  // c = 5: subband 0 with 2 bits takes ceil(10 / 8) = 2 bytes, subband 1 silent, subband 2
  // with 4 bits takes 3 bytes, subband 3 (all mask bits set) 3 bytes.
  std::vector<uint8_t> g;
  put_u32(g, 0b1001);  // A
  put_u32(g, 0b1100);  // B
  put_u32(g, 0b1100);  // C
  const uint8_t data[] = {0b10'01'11'00, 0b01'111111,  // subband 0: codes 10 01 11 00 01
                          0x80, 0x7F, 0x3F,            // subband 2: 8 0 7 F 3 (F skipped)
                          0x12, 0x34, 0x5F};           // subband 3: 1 2 3 4 5 (F skipped)
  g.insert(g.end(), std::begin(data), std::end(data));
  g.push_back(0xEE);  // not part of the group
  SampleDecoder& d = TheSampleDecoder;
  for (auto& row : d.blockRows) for (double& v : row) v = 99.0;
  EXPECT_EQ(read_group(d, g.data(), 5), 12u + 8u);
  const double sub0[5] = {-1.5 * 4, 1.5 * 4, -0.5 * 4, 0.5 * 4, 1.5 * 4};  // A only: e = 2
  const double sub2[5] = {-7.5 * 4, 0.5 * 4, 7.5 * 4, -0.5 * 4, 3.5 * 4};  // B and C: e = 2
  const double sub3[5] = {1.5 * 16, 2.5 * 16, 3.5 * 16, 4.5 * 16, 5.5 * 16};  // A, B, C: e = 4
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(d.blockRows[r][0], sub0[r]) << r;
    EXPECT_EQ(d.blockRows[r][1], 0.0) << r;
    EXPECT_EQ(d.blockRows[r][2], sub2[r]) << r;
    EXPECT_EQ(d.blockRows[r][3], sub3[r]) << r;
    for (int m = 4; m < 32; ++m) EXPECT_EQ(d.blockRows[r][m], 0.0) << r << " " << m;
  }
  EXPECT_EQ(d.blockRows[5][0], 99.0);  // rows beyond c are left alone
}

TEST(SampleOutput, TruncatesTowardZeroThenLimits) {
  EXPECT_EQ(accumulator_to_sample(127.9), 127);
  EXPECT_EQ(accumulator_to_sample(-128.9), -128);
  EXPECT_EQ(accumulator_to_sample(300.0), 127);
  EXPECT_EQ(accumulator_to_sample(-0.7), 0);
  EXPECT_EQ(accumulator_to_sample(0.7), 0);
  EXPECT_EQ(accumulator_to_sample(-5.99), -5);
  EXPECT_EQ(accumulator_to_sample(-1e300), -128);
  EXPECT_EQ(accumulator_to_sample(1e300), 127);
}

TEST(SampleDecode, FifteenBlocksOrFewerWriteNothing) {
  std::mt19937 rng(7);
  for (uint32_t blocks : {0u, 1u, 15u}) {
    const std::vector<uint8_t> stream = random_stream(blocks, rng);
    EXPECT_EQ(decoded_sample_count(blocks), 0u);
    decode_guarded(stream, 0);
  }
}

TEST(SampleDecode, SixteenBlocksGiveTheSixteenthBlocksOutput) {
  std::mt19937 rng(16);
  const std::vector<Group> groups = random_groups(16, rng);
  const std::vector<int8_t> out = decode_guarded(make_stream(16, groups), 32);
  EXPECT_EQ(out, reference_decode(block_values(groups)));
}

TEST(SampleDecode, AgreesWithThePlainSynthesisSampleForSample) {
  std::mt19937 rng(2024);
  for (uint32_t blocks : {17u, 31u, 32u, 33u, 152u, 200u}) {
    const std::vector<Group> groups = random_groups(blocks, rng);
    const std::vector<uint8_t> stream = make_stream(blocks, groups);
    const std::vector<int8_t> out = decode_guarded(stream, 32 * blocks - 480);
    ASSERT_EQ(out, reference_decode(block_values(groups))) << blocks << " blocks";
  }
}

TEST(SampleDecode, LoudValuesReachBothLimits) {
  // Every subband at the largest magnitude drives the sums far past the 8-bit range.
  std::vector<Group> groups(2);
  for (int m = 0; m < 32; ++m) {
    groups[0].cls[m] = groups[1].cls[m] = 6;
    for (int r = 0; r < 16; ++r) groups[0].codes[m][r] = groups[1].codes[m][r] = (r % 2 != 0) ? 7 : 8;
  }
  const std::vector<int8_t> out = decode_guarded(make_stream(32, groups), 544);
  EXPECT_EQ(out, reference_decode(block_values(groups)));
  bool high = false, low = false;
  for (int8_t s : out) high |= s == 127, low |= s == -128;
  EXPECT_TRUE(high && low);
}

TEST(SampleStreams, MeasuringWalksTheGroupsTheBlockCountNames) {
  std::mt19937 rng(8);
  // 152 blocks: ten groups, the last covering 8 blocks, 4384 samples.
  std::vector<Group> groups = random_groups(152, rng);
  ASSERT_EQ(groups.size(), 10u);
  EXPECT_EQ(groups.back().blocks, 8);
  std::vector<uint8_t> stream = make_stream(152, groups);
  const size_t size = stream.size();
  stream.resize(size + 3, 0xFF);  // padding after the last group is never read
  const SampleStreamInfo info = measure_sample_stream(stream.data(), stream.size());
  EXPECT_EQ(info.error, SampleStreamError::None);
  EXPECT_EQ(info.blocks, 152u);
  EXPECT_EQ(info.groups, 10u);
  EXPECT_EQ(info.streamBytes, size);
  EXPECT_EQ(info.decodedCount, 4384u);

  EXPECT_EQ(measure_sample_stream(stream.data(), 3).error, SampleStreamError::NoBlockCount);
  EXPECT_EQ(measure_sample_stream(stream.data(), size - 1).error, SampleStreamError::Truncated);
  EXPECT_EQ(measure_sample_stream(stream.data(), 4 + 11).error, SampleStreamError::Truncated);
}

TEST(SampleStreams, CheckedDecodeRefusesWhatDoesNotFitAndWritesNothing) {
  std::mt19937 rng(9);
  const std::vector<uint8_t> stream = random_stream(40, rng);
  const size_t count = 32 * 40 - 480;
  std::vector<int8_t> out(count, 0x33);
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), stream.size() - 1, out.data(), count));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), stream.size(), out.data(), count - 1));
  for (int8_t s : out) ASSERT_EQ(s, 0x33);
  ASSERT_TRUE(decode_samples_checked(TheSampleDecoder, stream.data(), stream.size(), out.data(), count));
  EXPECT_EQ(out, decode_guarded(stream, count));
  // A huge block count behind a short stream is refused, not read past its end.
  std::vector<uint8_t> lying = stream;
  lying[3] = 0x7F;
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, lying.data(), lying.size(), out.data(), count));
}

TEST(SampleDecode, EachStreamStartsFromCleanTables) {
  std::mt19937 rng(11);
  const std::vector<uint8_t> a = random_stream(48, rng);
  const std::vector<uint8_t> b = random_stream(48, rng);
  const std::vector<int8_t> b_alone = decode_guarded(b, 32 * 48 - 480);
  decode_guarded(a, 32 * 48 - 480);
  EXPECT_EQ(decode_guarded(b, 32 * 48 - 480), b_alone);
}
