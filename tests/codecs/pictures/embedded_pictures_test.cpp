// The pictures the show embeds are the PNG sources as they stand now: a stale stream (a
// replaced PNG that was not re-encoded) or a stream made for another picture fails here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/pictures.h"
#include "tools/common/png_io.h"
#include "picture_checks.h"

TEST(EmbeddedPictures, ShowWhatTheirPngSourcesShow) {
  struct Row {
    const char* png;
    const unsigned char* stream;
    unsigned long size;
  };
  for (const Row& r : {Row{"logo.png", LogoStream, LogoStream_size}, Row{"sprite.png", SpriteStream, SpriteStream_size}}) {
    SCOPED_TRACE(r.png);
    RgbImage source;
    std::string error;
    ASSERT_TRUE(read_png(std::string(MD_SOURCE_DIR) + "/assets/pictures/" + r.png, source, error)) << error;
    // Decoded as the show decodes it, against the source as the show can show it.
    std::vector<uint32_t> shown(source.pixels.size(), 0);
    ASSERT_TRUE(decode_picture_stream(r.stream, r.size, shown.data(), source.width, source.height, 22));
    for (uint32_t& p : source.pixels) p &= 0xfefefe;
    EXPECT_GT(psnr(shown, source.pixels), 30.0);
  }
}
