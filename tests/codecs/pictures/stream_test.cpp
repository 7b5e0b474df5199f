// Whole streams: the committed conformance data (made once by data/make_data.sh; the ff-
// streams with planes decoded by ffmpeg), and our encoder's output as the show decodes it.
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "codecs/picture_encoder.h"
#include "picture_checks.h"

namespace {

std::vector<uint8_t> read_data(const std::string& name) {
  std::ifstream in(std::string(MD_SOURCE_DIR) + "/tests/codecs/pictures/data/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Case {
  std::string name;
  int width = 0, height = 0;
  std::vector<uint8_t> stream() const { return read_data("streams/" + name + ".m1v"); }
};

// The planes within 2 of the reference decoder's, and the pixels exactly the planes in
// colour: luminance + 128 plus the offsets of the chroma sample at half the coordinates.
// One decoder reads every case, so each stream must start it afresh.
TEST(Conformance, PlanesWithinTwoOfAnIndependentDecoderAndPixelsTheirColours) {
  std::ifstream list(std::string(MD_SOURCE_DIR) + "/tests/codecs/pictures/data/cases.txt");
  PictureDecoder decoder;
  int cases = 0;
  for (Case c; list >> c.name >> c.width >> c.height; ++cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = c.stream(), planes = read_data("planes/" + c.name + ".yuv");
    const size_t luma = static_cast<size_t>(c.width * c.height), chroma = luma / 4;
    ASSERT_EQ(planes.size(), luma + 2 * chroma);
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    ASSERT_EQ(decoder.picture.macroblocks * 256, static_cast<int32_t>(luma));  // the planes' room
    std::vector<int32_t> y(luma, -9999), cb(chroma, -9999), cr(chroma, -9999);
    decode_picture_planes(decoder, {y.data(), cb.data(), cr.data()});
    const auto worst = [](const std::vector<int32_t>& ours, const uint8_t* theirs) {
      int w = 0;  // theirs are limited to 0..255, ours relative to 128
      for (size_t i = 0; i < ours.size(); ++i) w = std::max(w, std::abs(std::clamp(ours[i] + 128, 0, 255) - theirs[i]));
      return w;
    };
    EXPECT_LE(worst(y, planes.data()), 2);
    EXPECT_LE(worst(cb, planes.data() + luma), 2);
    EXPECT_LE(worst(cr, planes.data() + luma + chroma), 2);

    const std::vector<uint32_t> pixels = decode_guarded(stream, c.width, c.height);
    const ColourTables& t = PictureColours;
    for (size_t i = 0; i < luma; ++i) {
      const int row = static_cast<int>(i) / c.width, column = static_cast<int>(i) % c.width;
      const size_t half = static_cast<size_t>((row / 2) * (c.width / 2) + column / 2);
      const int32_t u = std::clamp(cb[half], -512, 511) + 512, v = std::clamp(cr[half], -512, 511) + 512;
      const int32_t l = y[i] + 128;
      ASSERT_EQ(pixels[i], pack_rgb(l + t.redFromCr[v], l + t.greenFromCb[u] + t.greenFromCr[v], l + t.blueFromCb[u]))
          << column << "," << row;
    }
  }
  EXPECT_GE(cases, 16);
}

// The start-up step, which stretches as it converts, against the two plain passes (decode,
// then stretch_levels over the buffer): random pictures and scales, any black level (out of
// range ones included), buffers narrower, shorter or larger than the picture, cut streams.
TEST(PictureStream, StretchInTheConversionMatchesTheSeparatePass) {
  std::mt19937 random(1209);
  for (int trial = 0; trial < 60; ++trial) {
    const int w = 16 * (1 + static_cast<int>(random() % 4)), h = 16 * (1 + static_cast<int>(random() % 3));
    std::vector<uint32_t> picture(static_cast<size_t>(w * h));
    for (uint32_t& p : picture) p = (trial % 3 == 0 ? random() : random() & 0x3F3F3Fu) & 0xFEFEFEu;
    PictureEncoderOptions options;
    options.quantiserScale = 1 + static_cast<int>(random() % 16);
    std::vector<uint8_t> stream = encode_picture(picture.data(), w, h, options);
    ASSERT_FALSE(stream.empty());
    if (trial % 4 == 3) stream.resize(stream.size() * (1 + random() % 9) / 10);
    const int black = std::vector<int>{0, 22, 100, 254, -5, 300, 16, 71}[random() % 8];
    const int stride = std::vector<int>{w, w - 8, w + 24}[random() % 3], rows = std::vector<int>{h, h - 5, h + 9}[random() % 3];
    std::vector<uint32_t> plain(static_cast<size_t>(stride * rows), 0), fused = plain;
    PictureDecoder decoder;
    const bool accepted = parse_picture_headers(decoder, stream.data(), stream.size()) == 1;
    if (accepted) decode_picture(decoder, plain.data(), stride, rows);
    stretch_levels(plain.data(), black, stride * rows);
    EXPECT_EQ(decode_picture_stream(stream.data(), stream.size(), fused.data(), stride, rows, black), accepted);
    ASSERT_EQ(fused, plain) << "trial " << trial << ": " << w << " x " << h << " into " << stride << " x " << rows
                            << ", black " << black;
  }
}

}  // namespace
