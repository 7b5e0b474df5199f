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

}  // namespace
