// Our decoder against ffmpeg's decoding of the same streams, before colour conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "codecs/picture.h"
#include "codecs/pictures/data_files.h"

namespace {

TEST(Conformance, PlanesWithinTwoOfAnIndependentDecoder) {
  const std::vector<ConformanceCase> cases = conformance_cases();
  ASSERT_GE(cases.size(), 16u);
  for (const ConformanceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = read_data_file("streams/" + c.name + ".m1v");
    const std::vector<uint8_t> planes = read_data_file("planes/" + c.name + ".yuv");
    const size_t luma = static_cast<size_t>(c.width * c.height), chroma = luma / 4;
    ASSERT_EQ(planes.size(), luma + 2 * chroma);

    PictureDecoder decoder;
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    ASSERT_EQ(decoder.picture.width, c.width);
    ASSERT_EQ(decoder.picture.height, c.height);
    std::vector<int32_t> y(luma, -9999), cb(chroma, -9999), cr(chroma, -9999);
    decode_picture_planes(decoder, {y.data(), cb.data(), cr.data()});

    auto worst = [](const std::vector<int32_t>& ours, const uint8_t* theirs) {
      int w = 0;
      for (size_t i = 0; i < ours.size(); ++i) {
        // The reference holds samples limited to 0..255; ours are relative to 128.
        w = std::max(w, std::abs(std::clamp(ours[i] + 128, 0, 255) - theirs[i]));
      }
      return w;
    };
    EXPECT_LE(worst(y, planes.data()), 2);
    EXPECT_LE(worst(cb, planes.data() + luma), 2);
    EXPECT_LE(worst(cr, planes.data() + luma + chroma), 2);
  }
}

// The pixels follow from the planes pixel by pixel: luminance + 128 plus the offsets of the
// chroma sample at half the coordinates.
TEST(Conformance, PixelsAreThePlanesInColour) {
  for (const ConformanceCase& c : conformance_cases()) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = read_data_file("streams/" + c.name + ".m1v");
    const size_t luma = static_cast<size_t>(c.width * c.height);
    std::vector<int32_t> y(luma), cb(luma / 4), cr(luma / 4);
    std::vector<uint32_t> pixels(luma);
    PictureDecoder decoder;
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    decode_picture_planes(decoder, {y.data(), cb.data(), cr.data()});
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    decode_picture(decoder, pixels.data(), c.width, c.height);
    const ColourTables& t = PictureColours;
    for (int row = 0; row < c.height; ++row) {
      for (int column = 0; column < c.width; ++column) {
        const size_t half = static_cast<size_t>((row / 2) * (c.width / 2) + column / 2);
        const int32_t u = std::clamp(cb[half], -512, 511) + 512, v = std::clamp(cr[half], -512, 511) + 512;
        const int32_t l = y[static_cast<size_t>(row * c.width + column)] + 128;
        const uint32_t expected =
            pack_rgb(l + t.redFromCr[v], l + t.greenFromCb[u] + t.greenFromCr[v], l + t.blueFromCb[u]);
        ASSERT_EQ(pixels[static_cast<size_t>(row * c.width + column)], expected) << column << "," << row;
      }
    }
  }
}

}  // namespace
