// The tune data pipeline end to end: thirteen images packed into files at build time,
// embedded by tuneembed, assembled at run time into exactly the images packing built.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/samples/test_tunes.h"
#include "codecs/tunes.h"
#include "tools/samplecodec/tune_pack.h"

TEST(EmbeddedTunes, EveryTuneAssemblesIntoTheImagePackingBuilt) {
  for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
  for (int n = 1; n <= TuneCount; ++n) {
    const TunePackResult packed = pack_tune(synthetic_tune_image(n));
    ASSERT_EQ(packed.error, TunePackError::None);
    ASSERT_NE(tune_images[n], nullptr) << n;
    EXPECT_EQ(0, std::memcmp(tune_images[n], packed.tune.image.data(), TuneImageBytes)) << n;

    // The data's own layout: the length follows the stored part after its padding, and the
    // stream starts on a 4-byte boundary.
    const StoredTune& t = StoredTunes[n - 1];
    const size_t padded = (t.storedLength + 3) & ~size_t{3};
    uint32_t length;
    std::memcpy(&length, t.stored + padded, 4);
    EXPECT_EQ(length, t.storedLength) << n;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.stream) % 4, 0u) << n;
  }
  free_tune_images();
}
