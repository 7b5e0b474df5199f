// The sample codec's decoder against a plainly written synthesis on random streams, and the
// tune images assembled from stored parts and streams.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"

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
  const std::vector<int8_t> guard(64, 0x5A);
  EXPECT_TRUE(std::equal(guard.begin(), guard.end(), buffer.begin())) << "written before the destination";
  EXPECT_TRUE(std::equal(guard.begin(), guard.end(), buffer.end() - 64)) << "written after the destination";
  return {buffer.begin() + 64, buffer.end() - 64};
}

// The fast decode against the step-by-step one on random streams: from none to all
// subbands silent (whole silent groups included), loud ones that saturate, short and long
// streams (15 blocks yield nothing, 16 the 16th block's 32 samples), each decode starting
// clean after the one before; the short ones and every 25th also against the plain synthesis.
TEST(SampleDecode, AgreesWithThePlainSynthesisAndTouchesNothingElse) {
  std::mt19937 rng(1207);
  for (int trial = 0; trial < 300; ++trial) {
    const uint32_t blocks = trial < 20 ? static_cast<uint32_t>(trial) : 1 + rng() % 300;
    const uint32_t silent = std::vector<uint32_t>{0, 50, 80, 95, 100}[rng() % 5];
    SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << blocks << " blocks, " << silent << "% silent");
    const RandomStream s = random_stream(blocks, rng, silent);
    const std::vector<int8_t> fast = decode_guarded(s.bytes, decoded_sample_count(blocks));
    std::vector<int8_t> plain(fast.size());
    decode_samples_plain(TheSampleDecoder, s.bytes.data(), plain.data());
    ASSERT_EQ(fast, plain);
    if (trial < 20 || trial % 25 == 0) { ASSERT_EQ(fast, reference_decode(s.values)); }
  }
}

// Untrusted streams are measured first; what does not fit is refused with nothing written.
TEST(SampleStreams, CheckedDecodingRefusesShortStreamsAndRoom) {
  std::mt19937 rng(8);
  std::vector<uint8_t> stream = random_stream(152, rng).bytes;  // ten groups, the last of 8 blocks: 4384 samples
  const size_t size = stream.size();
  stream.resize(size + 3, 0xFF);  // padding after the last group is never read
  EXPECT_EQ(measure_sample_stream(stream.data(), stream.size()).streamBytes, size);
  std::vector<int8_t> out(4384, 0x33);
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), 3, out.data(), 4384));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size - 1, out.data(), 4384));
  EXPECT_FALSE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4383));
  EXPECT_EQ(out, std::vector<int8_t>(4384, 0x33));
  ASSERT_TRUE(decode_samples_checked(TheSampleDecoder, stream.data(), size, out.data(), 4384));
  EXPECT_EQ(out, decode_guarded(stream, 4384));
}

// Tunes 1 to 12 are a stored part of 101 bytes and a stream of 17 blocks (64 samples); tune
// 13's stored part leaves 63 bytes of its buffer, one too few.
std::vector<uint8_t> stored_part(size_t length) {
  std::vector<uint8_t> stored(length, 0xA5);
  std::copy_n("QKB", 4, stored.begin());
  return stored;
}
std::mt19937 TuneRandom(13);
const std::vector<uint8_t> Stream = random_stream(17, TuneRandom).bytes;
const std::vector<uint8_t> Short = stored_part(101), Long = stored_part(TuneImageBytes - 63);

}  // namespace

const StoredTune StoredTunes[TuneCount] = {
#define TUNE {Short.data(), uint32_t(Short.size()), Stream.data()}
    TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, TUNE, {Long.data(), uint32_t(Long.size()), Stream.data()},
#undef TUNE
};

// The image is the stored part, the decoded samples right after it, then zeros; tune
// numbers outside 1..13 and a tune that would overrun its buffer are left alone.
TEST(TuneAssembly, ImageIsStoredPartThenDecodedSamplesThenZeros) {
  for (int n = -1; n <= 14; ++n) assemble_tune(n);
  EXPECT_EQ(tune_images[0], nullptr);
  EXPECT_EQ(tune_images[13], nullptr);
  std::vector<uint8_t> expected(TuneImageBytes, 0);
  std::copy(Short.begin(), Short.end(), expected.begin());
  decode_samples(TheSampleDecoder, Stream.data(), reinterpret_cast<int8_t*>(&expected[Short.size()]));
  for (int n = 1; n <= 12; ++n) {
    EXPECT_TRUE(tune_images[n] && std::equal(expected.begin(), expected.end(), tune_images[n])) << n;
  }
  free_tune_images();
}
