// The pictures the show embeds are the PNG sources as they stand now: a stale stream (a
// replaced PNG that was not re-encoded) or a stream made for another picture fails here.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "assets/pictures.h"
#include "codecs/picture.h"
#include "tools/common/png_io.h"

namespace {

// Peak signal-to-noise ratio over the three channels, in dB.
double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = static_cast<double>((a[i] >> shift) & 0xff) - static_cast<double>((b[i] >> shift) & 0xff);
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(a.size()) / std::max(sum, 1e-9));
}

}  // namespace

TEST(EmbeddedPictures, ShowWhatTheirPngSourcesShow) {
  struct Row {
    const char* png;
    const unsigned char* stream;
    unsigned long size;
    int32_t width, height;
  };
  const Row rows[] = {
      {"logo.png", LogoStream, LogoStream_size, 640, 128},
      {"sprite.png", SpriteStream, SpriteStream_size, 32, 32},
  };
  for (const Row& r : rows) {
    RgbImage source;
    std::string error;
    ASSERT_TRUE(read_png(std::string(MD_SOURCE_DIR) + "/assets/pictures/" + r.png, source, error)) << error;
    ASSERT_EQ(source.width, r.width) << r.png;
    ASSERT_EQ(source.height, r.height) << r.png;
    // Decoded as the show decodes it, against the source as the show can show it.
    std::vector<uint32_t> shown(static_cast<size_t>(r.width) * static_cast<size_t>(r.height), 0);
    ASSERT_TRUE(decode_picture_stream(r.stream, r.size, shown.data(), r.width, r.height, 22)) << r.png;
    for (uint32_t& p : source.pixels) p &= 0xfefefe;
    EXPECT_GT(psnr(shown, source.pixels), 30.0) << r.png;
  }
}
