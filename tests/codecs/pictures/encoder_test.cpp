#include "codecs/picture_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codecs/picture.h"

namespace {

// A prepared picture with a dark glow, a bright bar and some texture.
std::vector<uint32_t> test_picture(int w, int h) {
  std::vector<uint32_t> p(static_cast<size_t>(w * h));
  std::mt19937 random(3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double d = std::hypot(x - w / 2.0, y - h / 2.0) / (w / 2.0);
      const double glow = std::max(0.0, 1 - d);
      int r = static_cast<int>(250 * glow * glow), g = static_cast<int>(180 * glow), b = static_cast<int>(255 * glow);
      if (y > h / 3 && y < h / 2 && x > w / 8) r = g = b = 230 + static_cast<int>(random() % 20);
      p[static_cast<size_t>(y * w + x)] = static_cast<uint32_t>(r << 16 | g << 8 | b) & 0xFEFEFEu;
    }
  }
  return p;
}

double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int s = 0; s < 24; s += 8) {
      const double d = static_cast<double>((a[i] >> s) & 0xFF) - static_cast<double>((b[i] >> s) & 0xFF);
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255 / (sum / (3.0 * static_cast<double>(a.size()))));
}

std::vector<uint32_t> show(const std::vector<uint8_t>& stream, int w, int h) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h), 0);
  EXPECT_TRUE(decode_picture_stream(stream.data(), stream.size(), pixels.data(), w, h, 22));
  return pixels;
}

TEST(Encoder, EncodeThenDecodeComesBackClose) {
  const int w = 128, h = 64;
  const std::vector<uint32_t> picture = test_picture(w, h);
  double previous_psnr = 1e9;
  size_t previous_size = 0;
  for (int scale : {1, 2, 4, 8, 16}) {
    PictureEncoderOptions options;
    options.quantiserScale = scale;
    const std::vector<uint8_t> stream = encode_picture(picture.data(), w, h, options);
    ASSERT_FALSE(stream.empty());
    const double quality = psnr(show(stream, w, h), picture);
    SCOPED_TRACE(scale);
    EXPECT_GT(quality, scale <= 4 ? 34.0 : 28.0);
    EXPECT_LT(quality, previous_psnr + 0.5);  // coarser scales never help much
    if (previous_size) {
      EXPECT_LT(stream.size(), previous_size);
    }
    previous_psnr = quality;
    previous_size = stream.size();
  }
}

TEST(Encoder, FlatGreyBecomesDcOnlyAndExact) {
  // Without the stretch, a flat grey needs nothing but DC values and comes back exactly.
  const std::vector<uint32_t> grey(32 * 32, 0x00505050u);
  PictureEncoderOptions options;
  options.blackLevel = -1;
  const std::vector<uint8_t> stream = encode_picture(grey.data(), 32, 32, options);
  std::vector<uint32_t> pixels(32 * 32, 0);
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, stream.data(), stream.size()), 1);
  decode_picture(d, pixels.data(), 32, 32);
  EXPECT_EQ(pixels, grey);
}

TEST(Encoder, LoneHighFrequenciesTravelWithLongRuns) {
  // One basis pattern per 8 x 8 block, the highest frequencies last in scan order: runs of
  // 30 to 62 zeros before the only level, coded by table or by escape.
  const int w = 64, h = 16;
  std::vector<uint32_t> picture(static_cast<size_t>(w * h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int u = 4 + (x / 8) % 4, v = 7 - (x / 32);
      const double wave = std::cos((2 * (x % 8) + 1) * u * M_PI / 16) * std::cos((2 * (y % 8) + 1) * v * M_PI / 16);
      const int grey = 128 + static_cast<int>(std::lround(60 * wave));
      picture[static_cast<size_t>(y * w + x)] = static_cast<uint32_t>(grey * 0x010101);
    }
  }
  PictureEncoderOptions options;
  options.blackLevel = -1;
  options.quantiserScale = 2;
  options.adaptiveQuantiser = false;
  const std::vector<uint8_t> stream = encode_picture(picture.data(), w, h, options);
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h), 0);
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, stream.data(), stream.size()), 1);
  decode_picture(d, pixels.data(), w, h);
  EXPECT_GT(psnr(pixels, picture), 35.0);
}

TEST(Encoder, OptionsAreHonouredAndBadInputRefused) {
  const std::vector<uint32_t> picture = test_picture(48, 32);
  PictureEncoderOptions flat;
  flat.writeMatrix = true;
  flat.intraMatrix = flat_intra_matrix();
  flat.adaptiveQuantiser = false;
  const std::vector<uint8_t> stream = encode_picture(picture.data(), 48, 32, flat);
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, stream.data(), stream.size()), 1);
  EXPECT_EQ(d.picture.intraMatrix, flat_intra_matrix());
  EXPECT_EQ(d.picture.width, 48);
  EXPECT_EQ(d.picture.macroblocks, 6);
  EXPECT_GT(psnr(show(stream, 48, 32), picture), 30.0);

  PictureEncoderOptions options;
  EXPECT_TRUE(encode_picture(picture.data(), 40, 32, options).empty());
  EXPECT_TRUE(encode_picture(picture.data(), 48, 0, options).empty());
  EXPECT_TRUE(encode_picture(nullptr, 48, 32, options).empty());
  options.quantiserScale = 32;
  EXPECT_TRUE(encode_picture(picture.data(), 48, 32, options).empty());
  options.quantiserScale = 4;
  options.writeMatrix = true;
  options.intraMatrix[0] = 16;  // the DC weight is fixed at 8
  EXPECT_TRUE(encode_picture(picture.data(), 48, 32, options).empty());
}

TEST(Encoder, ReferenceTransformsInvertEachOther) {
  std::mt19937 random(5);
  double samples[64], coefficients[64], back[64];
  for (double& s : samples) s = static_cast<double>(random() % 256) - 128;
  forward_dct_reference(samples, coefficients);
  inverse_dct_reference(coefficients, back);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(back[i], samples[i], 1e-9);
  for (double& s : samples) s = 5;
  forward_dct_reference(samples, coefficients);
  EXPECT_NEAR(coefficients[0], 40, 1e-9);  // DC 8p for a flat block of p
}

}  // namespace
