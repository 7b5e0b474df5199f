// The program's tune data as the build made it from assets/tunes/, played as the show plays it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/tunes.h"
#include "player/module.h"
#include "tools/playback/tune_render.h"

// Every tune assembles into an image the player accepts, its stored part ending after the two
// zero samples that open the area (the packer holds the stored header to the rest of the
// rules). One whole pass comes back round to the tune's restart position (after at least 90
// seconds, the tiny last tune excepted), is never quiet for long, and stays clear of the
// output clamp (no run of clamped values longer than half a millisecond).
TEST(EmbeddedTunes, EveryTuneAssemblesAndPlaysOnePassBackToItsRestart) {
  for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
  for (int n = 1; n <= TuneCount; ++n) {
    SCOPED_TRACE("tune " + std::to_string(n));
    ASSERT_NE(tune_images[n], nullptr);
    std::vector<uint8_t> image(tune_images[n], tune_images[n] + TuneImageBytes);
    ASSERT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);
    const uint32_t area = load_u32(image.data() + HeaderSampleDataOffset);
    EXPECT_EQ(area + 2, StoredTunes[n - 1].storedLength);
    EXPECT_EQ(image[area] | image[area + 1], 0);

    const uint32_t restart = load_u32(image.data() + HeaderRestartPosition);
    const RenderResult r = render_image(image, RenderOptions{});
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(r.passEnded) << "the song never comes back round";
    EXPECT_EQ(r.returnPosition, restart);
    if (n != TuneCount) {
      EXPECT_GE(static_cast<double>(r.frames.size() / 2) / 44100, 90.0);
    }
    EXPECT_LE(longest_clamp_run(r.frames), 22u);
    const size_t stretch = 2 * 44100 * 10;
    for (size_t from = 0; from + stretch <= r.frames.size(); from += stretch) {
      double energy = 0;
      for (size_t i = from; i < from + stretch; ++i) energy += double(r.frames[i]) * r.frames[i];
      EXPECT_GT(std::sqrt(energy / stretch), 300) << "quiet from " << from / 88200 << " s";
    }
  }
  free_tune_images();
}
