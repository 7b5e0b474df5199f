// The pictures the show embeds are the PNG sources as they stand now: a stale stream (a
// replaced PNG that was not re-encoded) or a stream made for another picture fails here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/pictures.h"
#include "codecs/picture.h"
#include "tools/common/png_io.h"
#include "psnr.h"

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
