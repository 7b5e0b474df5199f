#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/samples/stream_writer.h"
#include "codecs/tunes.h"
#include "driver/blocks.h"
#include "platform/headless/headless.h"

namespace {

// A small stored part of L bytes: the magic, the sample data offset L - 2 in its header
// field, recognisable filler, and the two zero bytes that begin the sample area.
std::vector<uint8_t> stored_part(uint32_t length, uint8_t fill) {
  std::vector<uint8_t> part(length, fill);
  const uint8_t magic[4] = {'Q', 'K', 'B', 0};
  std::copy(std::begin(magic), std::end(magic), part.begin());
  const uint32_t offset = length - 2;
  for (int i = 0; i < 4; ++i) part[0x1C + i] = static_cast<uint8_t>(offset >> (8 * i));
  part[length - 2] = part[length - 1] = 0;
  return part;
}

struct TestTune {
  std::vector<uint8_t> stored;
  std::vector<uint8_t> stream;
};

// Twelve tunes that fit (16 blocks, as small as a stream that yields samples gets, up to a
// few hundred), and a thirteenth whose samples would run past its buffer.
std::vector<TestTune> make_tunes() {
  std::mt19937 rng(13);
  const uint32_t blocks[TuneCount] = {16, 17, 40, 152, 31, 32, 33, 64, 100, 15, 200, 48, 16};
  std::vector<TestTune> tunes;
  for (int i = 0; i < TuneCount; ++i) {
    const uint32_t length = i == 12 ? static_cast<uint32_t>(TuneImageBytes) - 31 : 64 + 37 * static_cast<uint32_t>(i);
    tunes.push_back({stored_part(length, static_cast<uint8_t>(0xA0 + i)), test_streams::random_stream(blocks[i], rng)});
  }
  return tunes;
}

const std::vector<TestTune> Tunes = make_tunes();

}  // namespace

const StoredTune StoredTunes[TuneCount] = {
#define TUNE(i) {Tunes[i].stored.data(), static_cast<uint32_t>(Tunes[i].stored.size()), Tunes[i].stream.data()}
    TUNE(0), TUNE(1), TUNE(2), TUNE(3), TUNE(4), TUNE(5), TUNE(6),
    TUNE(7), TUNE(8), TUNE(9), TUNE(10), TUNE(11), TUNE(12),
#undef TUNE
};

class TuneAssembly : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_reset(HeadlessConfig{});
    set_block_failure_handler(nullptr);
    free_tune_images();
  }
  void TearDown() override {
    free_tune_images();
    set_block_failure_handler(nullptr);
  }
};

TEST_F(TuneAssembly, ImageIsStoredPartThenDecodedSamplesThenZeros) {
  for (int n = 1; n <= 12; ++n) assemble_tune(n);
  EXPECT_EQ(tune_images[0], nullptr);
  for (int n = 1; n <= 12; ++n) {
    const TestTune& tune = Tunes[static_cast<size_t>(n - 1)];
    const uint8_t* image = tune_images[n];
    ASSERT_NE(image, nullptr) << n;
    const size_t length = tune.stored.size();
    const size_t decoded = decoded_sample_count(static_cast<uint32_t>(tune.stream[0]));
    std::vector<int8_t> expected(decoded);
    decode_samples(TheSampleDecoder, tune.stream.data(), expected.data());

    EXPECT_TRUE(std::equal(tune.stored.begin(), tune.stored.end(), image)) << n;
    EXPECT_EQ(image[length - 2], 0) << n;
    EXPECT_EQ(image[length - 1], 0) << n;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<const int8_t*>(image + length))) << n;
    if (decoded > 0) {
      EXPECT_EQ(static_cast<int8_t>(image[length]), expected[0]) << n;
    }
    size_t nonzero = 0;
    for (size_t i = length + decoded; i < TuneImageBytes; ++i) nonzero += image[i] != 0;
    EXPECT_EQ(nonzero, 0u) << n;
  }
  // The 16-block tune: exactly 32 decoded bytes follow its stored part.
  EXPECT_EQ(decoded_sample_count(Tunes[0].stream[0]), 32u);
}

TEST_F(TuneAssembly, OnlyTuneNumbersOneToThirteenDoAnything) {
  for (int n : {0, 14, -1, 1000}) assemble_tune(n);
  for (const uint8_t* image : tune_images) EXPECT_EQ(image, nullptr);
  assemble_tune(3);
  for (int n = 0; n <= TuneCount; ++n) EXPECT_EQ(tune_images[n] != nullptr, n == 3) << n;
}

TEST_F(TuneAssembly, SamplesThatWouldOverrunTheBufferAreNotAssembled) {
  // Tune 13's stored part leaves 31 bytes for its 32 samples.
  assemble_tune(13);
  EXPECT_EQ(tune_images[13], nullptr);
}

TEST_F(TuneAssembly, ABufferThatCannotBeHadIsReportedAndLeavesTheSlotEmpty) {
  static size_t asked = 0;
  set_block_failure_handler([](size_t size) { asked = size; });
  headless_config().fail_alloc_after = 0;
  assemble_tune(2);
  EXPECT_EQ(asked, TuneImageBytes);
  EXPECT_EQ(tune_images[2], nullptr);
}
