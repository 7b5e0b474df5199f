#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/samples/stream_writer.h"
#include "codecs/tunes.h"
#include "driver/blocks.h"
#include "platform/headless/headless.h"

namespace {

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
    tunes.push_back({stored, test_streams::random_stream(blocks[i], rng).bytes});
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
  void SetUp() override { headless_reset(HeadlessConfig{}); }
  void TearDown() override {
    free_tune_images();
    set_block_failure_handler(nullptr);
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
  headless_config().fail_alloc_after = 0;
  assemble_tune(2);
  EXPECT_EQ(asked, TuneImageBytes);
  EXPECT_EQ(tune_images[2], nullptr);
}
