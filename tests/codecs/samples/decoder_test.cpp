// The sample codec's decoder against a plainly written synthesis on random streams, and the
// tune images assembled from stored parts and streams.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "platform/blocks.h"
#include "platform/memory.h"

namespace {

// Random sample streams, with the value every code stands for worked out plainly.
void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct RandomStream {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<double>> values;  // per block, the 32 subband values
};

// Classes as (mask bits A B C, bits, exponent): silent, then 2 bits e = 0, 1, 2, then 4 bits
// e = 2, 3, 4 (the last with C set too, which must not matter).
// `silent` in 0..100: the share of subbands, in percent, drawn silent before the rest are
// drawn from all seven classes.
RandomStream random_stream(uint32_t blocks, std::mt19937& rng, uint32_t silent = 0) {
  struct Class { uint32_t abc; int bits, exponent; };
  const Class classes[7] = {{0, 0, 0}, {1, 2, 0}, {2, 2, 1}, {4, 2, 2}, {3, 4, 2}, {5, 4, 3}, {7, 4, 4}};
  RandomStream s;
  put_u32(s.bytes, blocks);
  for (uint32_t first = 0; first < blocks; first += 16) {
    const uint32_t count = blocks - first < 16 ? blocks - first : 16;
    int pick[32];
    uint32_t masks[3] = {};
    for (int m = 0; m < 32; ++m) {
      pick[m] = rng() % 100 < silent ? 0 : static_cast<int>(rng() % 7);
      for (int i = 0; i < 3; ++i) masks[i] |= ((classes[pick[m]].abc >> (2 - i)) & 1u) << m;
    }
    for (uint32_t mask : masks) put_u32(s.bytes, mask);
    s.values.resize(first + count, std::vector<double>(32, 0.0));
    for (int m = 0; m < 32; ++m) {
      const Class& k = classes[pick[m]];
      uint32_t pending = 0, filled = 0;
      for (uint32_t r = 0; r < count && k.bits != 0; ++r) {
        const uint32_t code = rng() & ((1u << k.bits) - 1);
        const int t = code >= (1u << (k.bits - 1)) ? static_cast<int>(code) - (1 << k.bits) : static_cast<int>(code);
        s.values[first + r][m] = (t + 0.5) * (1 << k.exponent);
        pending = pending << k.bits | code;
        if ((filled += k.bits) == 8) s.bytes.push_back(static_cast<uint8_t>(pending)), pending = filled = 0;
      }
      if (filled != 0) s.bytes.push_back(static_cast<uint8_t>(pending << (8 - filled)));
    }
  }
  return s;
}

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

TEST(SampleDecode, AgreesWithThePlainSynthesisAndTouchesNothingElse) {
  std::mt19937 rng(2024);
  // 0..15 blocks yield nothing; 16 blocks yield the 16th block's 32 samples; the rest
  // cover partial last groups and several groups in a row (each stream starting clean).
  for (uint32_t blocks : {0u, 15u, 16u, 17u, 33u, 152u}) {
    const RandomStream s = random_stream(blocks, rng);
    const std::vector<int8_t> out = decode_guarded(s.bytes, decoded_sample_count(blocks));
    EXPECT_EQ(out.size(), blocks > 15 ? 32 * blocks - 480 : 0);
    ASSERT_EQ(out, reference_decode(s.values)) << blocks << " blocks";
  }
}

// The fast decode against the step-by-step one on random streams: from none to all subbands
// silent (whole silent groups included), loud ones that saturate, short and long streams,
// each decode starting clean after the one before.
TEST(SampleDecode, FastDecodeMatchesTheStepByStepDecode) {
  std::mt19937 rng(1207);
  for (int trial = 0; trial < 300; ++trial) {
    const uint32_t blocks = trial < 20 ? static_cast<uint32_t>(trial) : 1 + rng() % 300;
    const uint32_t silent = std::vector<uint32_t>{0, 50, 80, 95, 100}[rng() % 5];
    const RandomStream s = random_stream(blocks, rng, silent);
    const size_t count = decoded_sample_count(blocks);
    std::vector<int8_t> fast(count + 1, 0x33), plain(count + 1, 0x33);
    decode_samples(TheSampleDecoder, s.bytes.data(), fast.data());
    decode_samples_plain(TheSampleDecoder, s.bytes.data(), plain.data());
    ASSERT_EQ(fast, plain) << "trial " << trial << ", " << blocks << " blocks, " << silent << "% silent";
  }
}

// Untrusted streams are measured first; what does not fit is refused with nothing written.
TEST(SampleStreams, CheckedDecodingRefusesShortStreamsAndRoom) {
  std::mt19937 rng(8);
  std::vector<uint8_t> stream = random_stream(152, rng).bytes;  // ten groups, the last of 8 blocks
  const size_t size = stream.size();
  stream.resize(size + 3, 0xFF);  // padding after the last group is never read
  EXPECT_EQ(measure_sample_stream(stream.data(), stream.size()).streamBytes, size);
  std::vector<int8_t> out(4384, 0x33);
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), 3, out.data(), 4384));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size - 1, out.data(), 4384));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4383));
  stream[3] = 0x7F;  // a huge block count behind a short stream
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), stream.size(), out.data(), out.size()));
  EXPECT_EQ(out, std::vector<int8_t>(4384, 0x33));
  stream[3] = 0;
  ASSERT_TRUE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4384));
  EXPECT_EQ(out, decode_guarded(stream, 4384));
}

struct TestTune {
  std::vector<uint8_t> stored, stream;
};

// Twelve small tunes that fit (stored parts of every length mod 4, streams from 16 blocks,
// which decode to 32 samples, to 152; one of 15 blocks decodes to none), and a thirteenth
// whose samples would run one byte past its buffer.
std::vector<TestTune> make_tunes() {
  std::mt19937 rng(13);
  const uint32_t blocks[TuneCount] = {16, 17, 40, 152, 31, 32, 33, 64, 100, 15, 20, 48, 16};
  std::vector<TestTune> tunes;
  for (int i = 0; i < TuneCount; ++i) {
    std::vector<uint8_t> stored(i == 12 ? TuneImageBytes - 31 : 64 + 37 * size_t(i), uint8_t(0xA0 + i));
    std::copy_n("QKB", 4, stored.begin());
    stored[stored.size() - 2] = stored[stored.size() - 1] = 0;
    tunes.push_back({stored, random_stream(blocks[i], rng).bytes});
  }
  return tunes;
}

const std::vector<TestTune> Tunes = make_tunes();

}  // namespace

const StoredTune StoredTunes[TuneCount] = {
#define TUNE(i) {Tunes[i].stored.data(), uint32_t(Tunes[i].stored.size()), Tunes[i].stream.data()}
    TUNE(0), TUNE(1), TUNE(2), TUNE(3), TUNE(4), TUNE(5), TUNE(6), TUNE(7), TUNE(8), TUNE(9), TUNE(10), TUNE(11), TUNE(12),
#undef TUNE
};

class TuneAssembly : public ::testing::Test {
 protected:
  void TearDown() override {
    free_tune_images();
    set_block_failure_handler(nullptr);
    set_page_gate(nullptr);
  }
};

// The image is the stored part (ending in two zero samples at L - 2 and L - 1), the decoded
// samples from L on, then zeros.
TEST_F(TuneAssembly, ImageIsStoredPartThenDecodedSamplesThenZeros) {
  for (int n : {0, 14, -1}) assemble_tune(n);
  for (const uint8_t* image : tune_images) EXPECT_EQ(image, nullptr);
  for (int n = 1; n <= 13; ++n) assemble_tune(n);
  EXPECT_EQ(tune_images[0], nullptr);
  EXPECT_EQ(tune_images[13], nullptr);  // it would overrun its buffer
  for (int n = 1; n <= 12; ++n) {
    const TestTune& tune = Tunes[size_t(n - 1)];
    ASSERT_NE(tune_images[n], nullptr) << n;
    std::vector<uint8_t> expected(TuneImageBytes, 0);
    std::copy(tune.stored.begin(), tune.stored.end(), expected.begin());
    decode_samples(TheSampleDecoder, tune.stream.data(), reinterpret_cast<int8_t*>(&expected[tune.stored.size()]));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), tune_images[n])) << n;
  }
  EXPECT_EQ(tune_images[1][64 + 32], 0);  // 32 samples follow the 16-block tune's 64 bytes, then zeros
}

TEST_F(TuneAssembly, ABufferThatCannotBeHadIsReportedAndLeavesTheSlotEmpty) {
  static size_t asked = 0;
  set_block_failure_handler([](size_t size) { asked = size; });
  set_page_gate([] { return false; });
  assemble_tune(2);
  EXPECT_EQ(asked, TuneImageBytes);
  EXPECT_EQ(tune_images[2], nullptr);
}
