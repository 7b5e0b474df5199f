// Whole streams: the committed conformance data (made once by data/make_data.sh; the ff-
// streams with planes decoded by ffmpeg), damaged copies of it, and our encoder's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codecs/picture.h"
#include "codecs/picture_encoder.h"
#include "psnr.h"

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

std::vector<Case> conformance_cases() {
  std::vector<Case> cases;
  std::ifstream in(std::string(MD_SOURCE_DIR) + "/tests/codecs/pictures/data/cases.txt");
  for (Case c; in >> c.name >> c.width >> c.height;) cases.push_back(c);
  return cases;
}

// The planes within 2 of the reference decoder's, and the pixels exactly the planes in
// colour: luminance + 128 plus the offsets of the chroma sample at half the coordinates.
TEST(Conformance, PlanesWithinTwoOfAnIndependentDecoderAndPixelsTheirColours) {
  const std::vector<Case> cases = conformance_cases();
  ASSERT_GE(cases.size(), 16u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = c.stream(), planes = read_data("planes/" + c.name + ".yuv");
    const size_t luma = static_cast<size_t>(c.width * c.height), chroma = luma / 4;
    ASSERT_EQ(planes.size(), luma + 2 * chroma);
    PictureDecoder decoder;
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    ASSERT_EQ(decoder.picture.width, c.width);
    ASSERT_EQ(decoder.picture.height, c.height);
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

    std::vector<uint32_t> pixels(luma);
    ASSERT_EQ(parse_picture_headers(decoder, stream.data(), stream.size()), 1);
    decode_picture(decoder, pixels.data(), c.width, c.height);
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
}

constexpr uint32_t Untouched = 0xDEADBEEF;

// Decodes exactly `length` bytes (a copy, so that the sanitizers see any read beyond it) into
// a w x h buffer followed by a guard band that must stay untouched.
std::vector<uint32_t> decode(const std::vector<uint8_t>& stream, size_t length, int w, int h, int* accepted = nullptr) {
  const std::vector<uint8_t> cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h) + 256, Untouched);
  PictureDecoder decoder;
  const int ok = parse_picture_headers(decoder, cut.data(), cut.size());
  if (accepted) *accepted = ok;
  if (ok) decode_picture(decoder, pixels.data(), w, h);
  for (size_t i = static_cast<size_t>(w * h); i < pixels.size(); ++i) EXPECT_EQ(pixels[i], Untouched);
  pixels.resize(static_cast<size_t>(w * h));
  return pixels;
}

// How many whole macroblocks, in picture order, equal the complete decoding; every other
// macroblock must be untouched.
int complete_macroblocks(const std::vector<uint32_t>& d, const std::vector<uint32_t>& full, int w, int h) {
  int complete = 0;
  bool gap = false;
  for (int m = 0; m < w * h / 256; ++m) {
    bool same = true, untouched = true;
    for (int p = 0; p < 256; ++p) {
      const size_t i = static_cast<size_t>((m / (w / 16) * 16 + p / 16) * w + m % (w / 16) * 16 + p % 16);
      same = same && d[i] == full[i];
      untouched = untouched && d[i] == Untouched;
    }
    EXPECT_TRUE(same || untouched) << "macroblock " << m;
    if (same && !gap) ++complete;
    gap = gap || untouched;
  }
  return complete;
}

TEST(Damage, TruncatedStreamsKeepWhatWasDecoded) {
  for (const Case& c : {Case{"ff-stripes-q2-slices", 96, 64}, Case{"our-gradient-q8-adaptive", 160, 128}}) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = c.stream();
    int accepted = 0;
    const std::vector<uint32_t> full = decode(stream, stream.size(), c.width, c.height, &accepted);
    ASSERT_EQ(accepted, 1);
    ASSERT_EQ(complete_macroblocks(full, full, c.width, c.height), c.width * c.height / 256);
    int previous = 0;
    for (size_t length = 0; length < stream.size(); length += 97) {
      const int complete = complete_macroblocks(decode(stream, length, c.width, c.height), full, c.width, c.height);
      EXPECT_GE(complete, previous) << "cut at " << length;
      previous = complete;
    }
    EXPECT_GT(previous, 0);
  }
}

// The picture as the show shows it.
std::vector<uint32_t> show(const std::vector<uint8_t>& stream, int w, int h, int black_level = 22) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h), 0);
  EXPECT_TRUE(decode_picture_stream(stream.data(), stream.size(), pixels.data(), w, h, black_level));
  return pixels;
}

TEST(Encoder, EncodeThenDecodeComesBackClose) {
  // A prepared picture with a dark glow, a bright bar and some texture.
  const int w = 128, h = 64;
  std::vector<uint32_t> picture(w * h);
  std::mt19937 random(3);
  for (int i = 0; i < w * h; ++i) {
    const int x = i % w, y = i / w;
    const double glow = std::max(0.0, 1 - std::hypot(x - w / 2.0, y - h / 2.0) / (w / 2.0));
    int r = int(250 * glow * glow), g = int(180 * glow), b = int(255 * glow);
    if (y > h / 3 && y < h / 2 && x > w / 8) r = g = b = 230 + static_cast<int>(random() % 20);
    picture[i] = static_cast<uint32_t>(r << 16 | g << 8 | b) & 0xFEFEFEu;
  }
  double previous_psnr = 1e9;
  size_t previous_size = 0;
  for (int scale : {1, 2, 4, 8, 16}) {
    SCOPED_TRACE(scale);
    PictureEncoderOptions options;
    options.quantiserScale = scale;
    const std::vector<uint8_t> stream = encode_picture(picture.data(), w, h, options);
    ASSERT_FALSE(stream.empty());
    const double quality = psnr(show(stream, w, h), picture);
    EXPECT_GT(quality, scale <= 4 ? 34.0 : 28.0);
    EXPECT_LT(quality, previous_psnr + 0.5);  // coarser scales never help much
    if (previous_size) {
      EXPECT_LT(stream.size(), previous_size);
    }
    previous_psnr = quality;
    previous_size = stream.size();
  }
  // Bad sizes, scales and DC weights are refused.
  PictureEncoderOptions options;
  EXPECT_TRUE(encode_picture(picture.data(), 40, 32, options).empty());
  EXPECT_TRUE(encode_picture(picture.data(), 48, 0, options).empty());
  EXPECT_TRUE(encode_picture(nullptr, 48, 32, options).empty());
  options.quantiserScale = 32;
  EXPECT_TRUE(encode_picture(picture.data(), 48, 32, options).empty());
  options.quantiserScale = 4;
  options.writeMatrix = true;
  options.intraMatrix[0] = 16;
  EXPECT_TRUE(encode_picture(picture.data(), 48, 32, options).empty());
}

TEST(Encoder, FlatGreyBecomesDcOnlyAndExact) {
  // Without the stretch (black level 0 leaves even values as they are), a flat grey needs
  // nothing but DC values and comes back exactly.
  PictureEncoderOptions options;
  options.blackLevel = -1;
  const std::vector<uint32_t> grey(32 * 32, 0x00505050u);
  EXPECT_EQ(show(encode_picture(grey.data(), 32, 32, options), 32, 32, 0), grey);
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
