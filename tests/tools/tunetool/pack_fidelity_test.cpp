// What packing costs in fidelity, and the measures behind it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/samplecodec/tune_pack.h"
#include "tools/playback/tune_render.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

TEST(PackFidelity, SnrAndClampRunByHand) {
  // Signal 100^2 + 50^2 = 12500, error 10^2 + 5^2 = 125: 20 dB.
  EXPECT_NEAR(snr_db({100, 50}, {90, 45}), 20.0, 1e-12);
  EXPECT_TRUE(std::isinf(snr_db({1, 2, 3}, {1, 2, 3})));
  EXPECT_NEAR(snr_db({100, 0, 7}, {90, 0}), 20.0, 1e-12);  // the common length only
  // Left: three clamped values in a row (both signs count); right: two.
  const std::vector<int16_t> frames = {0, 0, 32500, 32500, -32500, -32500, 32500, 0, 0, 0, 32500, 0};
  EXPECT_EQ(longest_clamp_run(frames), 3u);
  EXPECT_EQ(longest_clamp_run({32499, -32499, 0, 0}), 0u);
}

TEST(PackFidelity, EverySampleMeasuredAndQualityTradesSizeForError) {
  XmImport imported = import_xm(write_xm(xm::busy_module()), {.eightBitOnly = true});
  ASSERT_TRUE(imported.ok) << imported.error;
  double lastSnr = -1e9;
  size_t lastBytes = 0;
  for (int quality : {1, 5, 9}) {
    SCOPED_TRACE(quality);
    TunePackResult packed = pack_tune(imported.image, settings_for_quality(quality));
    ASSERT_EQ(packed.error, TunePackError::None) << packed.message;
    const PackFidelity f = measure_pack_fidelity(imported.image, packed.tune);
    ASSERT_EQ(f.samples.size(), static_cast<size_t>(imported.samples8 + imported.samples16));
    for (const SampleFidelity& s : f.samples) {
      EXPECT_GT(s.frames, 0u);
      EXPECT_GT(s.snrDb, 3.0) << "instrument " << s.instrument;
      EXPECT_LT(s.snrDb, 80.0) << "a lossy codec does not give the samples back";
    }
    EXPECT_TRUE(f.passEnded);
    EXPECT_GT(f.tuneSnrDb, 3.0);
    EXPECT_GE(f.allSamplesSnrDb, lastSnr - 0.05);
    EXPECT_GE(packed.tune.samples.stream.size(), lastBytes);
    lastSnr = f.allSamplesSnrDb;
    lastBytes = packed.tune.samples.stream.size();
  }
  // Measured against itself (nothing lost) every figure is infinite.
  TunePackResult packed = pack_tune(imported.image);
  packed.tune.image = imported.image;
  packed.tune.image.resize(TuneImageBytes, 0);
  const PackFidelity same = measure_pack_fidelity(imported.image, packed.tune);
  for (const SampleFidelity& s : same.samples) EXPECT_TRUE(std::isinf(s.snrDb));
  EXPECT_TRUE(std::isinf(same.tuneSnrDb));
}
