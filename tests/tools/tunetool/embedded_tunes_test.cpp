// The program's tune data as the build made it from assets/tunes/: every tune assembles into
// an image that the player accepts, and plays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/tunes.h"
#include "platform/headless/headless.h"
#include "player/module.h"
#include "tools/tunetool/tune_render.h"

TEST(EmbeddedTunes, EveryTuneAssemblesValidatesAndPlays) {
  headless_reset(HeadlessConfig{});
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
