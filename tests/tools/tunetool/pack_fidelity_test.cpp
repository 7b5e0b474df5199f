// What packing costs in fidelity, and the measures behind it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/samplecodec/tune_pack.h"
#include "tools/playback/tune_render.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

TEST(PackFidelity, SnrAndClampRunByHand) {
  // Signal 100^2 + 50^2 = 12500, error 10^2 + 5^2 = 125: 20 dB, over the common length only.
  EXPECT_NEAR(snr_db({100, 50, 7}, {90, 45}), 20.0, 1e-12);
  EXPECT_TRUE(std::isinf(snr_db({1, 2, 3}, {1, 2, 3})));
  // Left: three clamped values in a row (both signs count); right: two.
  const std::vector<int16_t> frames = {0, 0, 32500, 32500, -32500, -32500, 32500, 0, 0, 0, 32500, 0};
  EXPECT_EQ(longest_clamp_run(frames), 3u);
  EXPECT_EQ(longest_clamp_run({32499, -32499, 0, 0}), 0u);
}

// Every sample is measured and lossy, and a higher quality costs bytes and loses less.
TEST(PackFidelity, EverySampleMeasuredAndQualityTradesSizeForError) {
  XmImport imported = import_xm(write_xm(xm::busy_module()), {.eightBitOnly = true});
  ASSERT_TRUE(imported.ok) << imported.error;
  const TunePackResult low = pack_tune(imported.image, settings_for_quality(1));
  const TunePackResult high = pack_tune(imported.image, settings_for_quality(9));
  ASSERT_EQ(low.error, TunePackError::None) << low.message;
  ASSERT_EQ(high.error, TunePackError::None) << high.message;
  const PackFidelity worse = measure_pack_fidelity(imported.image, low.tune);
  const PackFidelity better = measure_pack_fidelity(imported.image, high.tune);
  ASSERT_EQ(better.samples.size(), 2u);
  for (const SampleFidelity& s : better.samples) EXPECT_LT(s.snrDb, 80.0) << "instrument " << s.instrument;
  EXPECT_GT(worse.tuneSnrDb, 3.0);
  EXPECT_GT(better.allSamplesSnrDb, worse.allSamplesSnrDb);
  EXPECT_GT(high.tune.samples.stream.size(), low.tune.samples.stream.size());
}
