// The program's tune data as the build made it from assets/tunes/: every tune assembles into
// an image that the player accepts, and plays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/tunes.h"
#include "player/module.h"
#include "tools/playback/tune_render.h"

TEST(EmbeddedTunes, EveryTuneAssemblesValidatesAndPlays) {
  for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
  for (int n = 1; n <= TuneCount; ++n) {
    ASSERT_NE(tune_images[n], nullptr) << n;
    std::vector<uint8_t> image(tune_images[n], tune_images[n] + TuneImageBytes);
    ASSERT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok) << "tune " << n;
    // The stored tunes' own rules: two zero samples open the area, plain 8-bit data only.
    const uint32_t area = load_u32(image.data() + HeaderSampleDataOffset);
    EXPECT_EQ(area + 2, StoredTunes[n - 1].storedLength) << n;
    EXPECT_EQ(image[area], 0);
    EXPECT_EQ(image[area + 1], 0);
    EXPECT_EQ(load_u16(image.data() + HeaderFlags) & FlagDeltaCoded, 0) << n;
    EXPECT_EQ(load_u32(image.data() + HeaderSampleData16Count), 0u) << n;
    // The 8-bit data size never exceeds the decoded count.
    const uint32_t blocks = load_u32(StoredTunes[n - 1].stream);
    EXPECT_LE(load_u32(image.data() + HeaderSampleData8Size), 32u * blocks - 480u) << n;

    RenderOptions options;
    options.seconds = 4;
    RenderResult r = render_image(image, options);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.frames.size(), 2u * 4 * 44100);
    double energy = 0;
    for (int16_t v : r.frames) energy += double(v) * v;
    const double rms = std::sqrt(energy / r.frames.size());
    EXPECT_GT(rms, 300) << "tune " << n << " is (nearly) silent";
  }
  free_tune_images();
}

// One whole pass of every built-in tune, played from the assembled image as the show plays
// it: the song comes back round to its own restart position (after at least 90 seconds,
// the tiny last tune excepted), it is never quiet for long, and it stays clear of the
// output clamp (no run of clamped values longer than half a millisecond).
TEST(EmbeddedTunes, EveryTunePlaysOnePassAndLoopsToItsRestart) {
  for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
  for (int n = 1; n <= TuneCount; ++n) {
    SCOPED_TRACE("tune " + std::to_string(n));
    std::vector<uint8_t> image(tune_images[n], tune_images[n] + TuneImageBytes);
    const uint32_t restart = load_u32(image.data() + HeaderRestartPosition);
    RenderResult r = render_image(image, RenderOptions{});
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(r.passEnded) << "the song never comes back round";
    EXPECT_EQ(r.returnPosition, restart);
    const double seconds = static_cast<double>(r.frames.size() / 2) / 44100;
    if (n != TuneCount) {
      EXPECT_GE(seconds, 90.0);
    }
    EXPECT_LE(longest_clamp_run(r.frames), 22u);
    // Loud enough throughout: every 10-second stretch has some level.
    const size_t stretch = 2 * 44100 * 10;
    for (size_t from = 0; from + stretch <= r.frames.size(); from += stretch) {
      double energy = 0;
      for (size_t i = from; i < from + stretch; ++i) energy += double(r.frames[i]) * r.frames[i];
      EXPECT_GT(std::sqrt(energy / stretch), 300) << "quiet from " << from / 88200 << " s";
    }
  }
  free_tune_images();
}
