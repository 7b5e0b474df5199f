#include "codecs/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codecs/picture_encoder.h"
#include "codecs/pictures/bits.h"

namespace {

void idct(int32_t* block) {
  for (int c = 0; c < 8; ++c) idct_column(block, c);
  for (int r = 0; r < 8; ++r) idct_row(block + 8 * r, block + 8 * r);
}

TEST(InverseTransform, DcOnlyBlockIsFlat) {
  for (int32_t p : {0, 1, -1, 5, -128, 127, 300, -2000}) {
    int32_t block[64] = {};
    block[0] = 8 * p;
    idct(block);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], p) << "p " << p << " at " << i;
  }
}

TEST(InverseTransform, StaysWithinOneOfTheExactTransform) {
  std::mt19937 random(7);
  int worst = 0;
  long long total = 0;
  for (int n = 0; n < 3000; ++n) {
    int32_t block[64] = {};
    double exact[64], coefficients[64] = {};
    // Sparse blocks like decoded ones, with large values now and then.
    const int count = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      const int at = static_cast<int>(random() % 64);
      const int range = 256;
      block[at] = static_cast<int32_t>(random() % (2 * range)) - range;
    }
    for (int i = 0; i < 64; ++i) coefficients[i] = block[i];
    inverse_dct_reference(coefficients, exact);
    idct(block);
    for (int i = 0; i < 64; ++i) {
      const int error = std::abs(block[i] - static_cast<int>(std::lround(exact[i])));
      worst = std::max(worst, error);
      total += error;
    }
  }
  EXPECT_LE(worst, 1);
  EXPECT_LT(static_cast<double>(total) / (3000 * 64), 0.1);
}

TEST(Colour, TablesAndPacking) {
  const ColourTables& t = PictureColours;
  EXPECT_EQ(t.blueFromCb[512 + 1], 1);
  EXPECT_EQ(t.greenFromCb[512 + 1], -1);
  EXPECT_EQ(t.blueFromCb[512 - 1], -2);
  EXPECT_EQ(t.greenFromCb[512 - 1], 0);
  EXPECT_EQ(t.redFromCr[512 + 100], 140);
  EXPECT_EQ(t.greenFromCr[512 + 100], -72);
  EXPECT_EQ(pack_rgb(-5, 128, 300), 0x0080FFu);
  EXPECT_EQ(pack_rgb(255, 0, 1), 0xFF0001u);
}

TEST(Colour, StretchLevelsWithBlackLevel22) {
  const uint32_t in[] = {0, 21, 22, 23, 100, 128, 254, 255};
  const uint32_t out[] = {0, 0, 0, 0, 84, 116, 252, 254};
  for (int i = 0; i < 8; ++i) {
    // The same value in all three channels, and junk in the top byte that must go.
    uint32_t p = 0xAB000000u | in[i] << 16 | in[i] << 8 | in[i];
    stretch_levels(&p, 22, 1);
    EXPECT_EQ(p, out[i] << 16 | out[i] << 8 | out[i]) << in[i];
  }
  uint32_t mixed[2] = {0x001764FE, 0x00FFFFFF};
  stretch_levels(mixed, 22, 1);  // only the first pixel
  EXPECT_EQ(mixed[0], 0x00005400u | 252u);
  EXPECT_EQ(mixed[1], 0x00FFFFFFu);
}

// Decodes a stream into a w x h buffer filled with `fill` beforehand.
std::vector<uint32_t> decode_into(const std::vector<uint8_t>& stream, int w, int h, uint32_t fill = 0xDEADBEEF,
                                  int* accepted = nullptr) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h), fill);
  PictureDecoder decoder;
  const int ok = parse_picture_headers(decoder, stream.data(), stream.size());
  if (accepted) *accepted = ok;
  if (ok) decode_picture(decoder, pixels.data(), w, h);
  return pixels;
}

uint32_t grey(int v) { return static_cast<uint32_t>(v << 16 | v << 8 | v); }

TEST(Picture, DcOnlyMacroblocksAreGrey) {
  // Luminance differentials +50 (size 6: 11110 110010) and then -178 (size 8 luma code
  // 1111110, bits 01001101) for the next macroblock, chroma 0: grey 178, then grey 0.
  TestStream s;
  s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("11110 110010") + flat_macroblock("1111110 01001101")).end();
  const std::vector<uint32_t> pixels = decode_into(s.bytes, 32, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) ASSERT_EQ(pixels[y * 32 + x], grey(x < 16 ? 178 : 0)) << x << "," << y;
  }
  TestStream bright;
  bright.headers(16, 16).slice(0x101, 1).bits(flat_macroblock("1111110 11001000")).end();  // +200: 328
  EXPECT_EQ(decode_into(bright.bytes, 16, 16)[0], grey(255));
}

TEST(Picture, SliceCodeGivesTheMacroblockRow) {
  TestStream s;
  s.headers(16, 48).slice(0x102, 1).bits(flat_macroblock("100")).end();
  const std::vector<uint32_t> pixels = decode_into(s.bytes, 16, 48);
  EXPECT_EQ(pixels[15 * 16 + 15], 0xDEADBEEFu);  // row 0 untouched
  EXPECT_EQ(pixels[16 * 16], grey(128));
  EXPECT_EQ(pixels[31 * 16 + 15], grey(128));
  EXPECT_EQ(pixels[32 * 16], 0xDEADBEEFu);  // the slice ended after one macroblock
}

TEST(Picture, OneSliceRunsAcrossRowsAndANewSliceResetsPredictors) {
  // 2 x 2 macroblocks: one slice with +10 each (10, 20, 30), then a slice at row 2 of a
  // taller picture restarts from 0.
  TestStream s;
  s.headers(32, 48).slice(0x101, 1);
  for (int i = 0; i < 4; ++i) s.bits(flat_macroblock("11110 001010"));  // -53 each
  s.slice(0x103, 1).bits(flat_macroblock("101 110")).bits(flat_macroblock("100")).end();
  const std::vector<uint32_t> pixels = decode_into(s.bytes, 32, 48);
  // -53, -106, -159, -212 relative to 128.
  EXPECT_EQ(pixels[0], grey(75));
  EXPECT_EQ(pixels[16], grey(22));
  EXPECT_EQ(pixels[16 * 32], grey(0));
  EXPECT_EQ(pixels[32 * 32], grey(134));
  EXPECT_EQ(pixels[32 * 32 + 16], grey(134));
}

TEST(Picture, MacroblockTypesAndStops) {
  // Intra with quantiser changes the scale for the blocks that follow: level 1 at scale 31
  // and weight 16 gives 61 at raster 1.
  TestStream q;
  q.headers(16, 16).slice(0x101, 1).bits("1 01 11111 100 11 0 10");
  q.bits(dc_only_luma() + dc_only_luma() + dc_only_luma() + dc_only_chroma() + dc_only_chroma()).end();
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, q.bytes.data(), q.bytes.size()), 1);
  std::vector<int32_t> y(256, 999), cb(64), cr(64);
  decode_picture_planes(d, {y.data(), cb.data(), cr.data()});
  EXPECT_EQ(d.quantiserScale, 31);
  // 61 at horizontal frequency 1: 61 / 4 x cos(pi / 16) / sqrt(2) = 10.6 at the left edge.
  EXPECT_EQ(y[0], 11);
  EXPECT_EQ(y[7], -11);
  EXPECT_EQ(y[8], 0);  // the next block carries nothing but DC 0

  // An address increment other than 1, or a macroblock type other than the two intra
  // ones, ends the picture; what was written stays.
  for (const char* bad : {"01 1", "1 00"}) {
    TestStream s;
    s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("100")).bits(bad).bits(flat_macroblock("100")).end();
    const std::vector<uint32_t> pixels = decode_into(s.bytes, 32, 16);
    EXPECT_EQ(pixels[0], grey(128)) << bad;
    EXPECT_EQ(pixels[16], 0xDEADBEEFu) << bad;
  }
  // A start code that is no slice ends the picture.
  TestStream s;
  s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("100")).code(0x1B2).slice(0x101, 1);
  EXPECT_EQ(decode_into(s.bytes, 32, 16)[16], 0xDEADBEEFu);
}

TEST(Picture, HeadersAcceptedAndRefused) {
  int accepted = -1;
  TestStream good;
  good.headers(16, 16).slice(0x101, 1).bits(flat_macroblock("100")).end();
  decode_into(good.bytes, 16, 16, 0, &accepted);
  EXPECT_EQ(accepted, 1);

  TestStream p_picture;
  p_picture.headers(16, 16, 2).slice(0x101, 1).bits(flat_macroblock("100")).end();
  decode_into(p_picture.bytes, 16, 16, 0, &accepted);
  EXPECT_EQ(accepted, 0);

  std::vector<uint8_t> not_sequence = good.bytes;
  not_sequence[3] = 0xB5;
  decode_into(not_sequence, 16, 16, 0, &accepted);
  EXPECT_EQ(accepted, 0);

  // Group of pictures and user data before the picture, user data after it: skipped.
  TestStream extra;
  extra.code(0x1B3).bits(binary(16, 12) + binary(16, 12) + "00010011" + binary(0x3FFFF, 18) + "1" +
                         binary(20, 10) + "0" + "1");
  for (int i = 0; i < 64; ++i) extra.bits(binary(i == 0 ? 8 : i == 1 ? 200 : 32, 8));  // own intra matrix
  extra.bits("1");
  for (int i = 0; i < 64; ++i) extra.bits(binary(16, 8));  // non-intra matrix, ignored
  extra.bits("0");
  extra.code(0x1B8).bits(binary(1 << 12, 25) + "10");
  extra.code(0x1B2).bits("01010101 11111111");
  extra.code(0x100).bits(binary(0, 10) + "001" + binary(0xFFFF, 16) + "1 10101010 0");
  extra.code(0x1B2).bits("11111111");
  extra.slice(0x101, 31).bits("1 1 100 11 0 10" + dc_only_luma() + dc_only_luma() + dc_only_luma() +
                             dc_only_chroma() + dc_only_chroma());
  extra.end();
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, extra.bytes.data(), extra.bytes.size()), 1);
  EXPECT_EQ(d.picture.intraMatrix[1], 200);
  EXPECT_EQ(d.picture.intraMatrix[2], 32);
  EXPECT_EQ(d.picture.macroblocks, 1);
  std::vector<int32_t> y(256), cb(64), cr(64);
  decode_picture_planes(d, {y.data(), cb.data(), cr.data()});
  // Level 1 at weight 200 and scale 31: 775, about 134 at the left edge (10 with the default 16).
  EXPECT_GT(y[0], 100);
  EXPECT_LT(y[7], -100);

  // Each call starts from the default matrix again.
  ASSERT_EQ(parse_picture_headers(d, good.bytes.data(), good.bytes.size()), 1);
  EXPECT_EQ(d.picture.intraMatrix, DefaultIntraMatrix);

  // Unexpected start codes before the picture, and empty or missing streams.
  TestStream sequence_end;
  sequence_end.code(0x1B3).bits(binary(16, 12) + binary(16, 12) + std::string(40, '0')).end();
  EXPECT_EQ(parse_picture_headers(d, sequence_end.bytes.data(), sequence_end.bytes.size()), 0);
  EXPECT_EQ(parse_picture_headers(d, nullptr, 0), 0);
  EXPECT_EQ(parse_picture_headers(d, good.bytes.data(), 14), 0);  // cut inside the picture start code
}

TEST(Picture, WritesOnlyInsideTheDestination) {
  // A 32 x 32 picture into a 16 x 16 buffer held inside a guarded larger one.
  TestStream s;
  s.headers(32, 32).slice(0x101, 1);
  for (int i = 0; i < 4; ++i) s.bits(flat_macroblock("100"));
  s.end();
  std::vector<uint32_t> memory(16 * 16 + 64, 0x12345678u);
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, s.bytes.data(), s.bytes.size()), 1);
  decode_picture(d, memory.data(), 16, 16);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(memory[static_cast<size_t>(i)], grey(128));
  for (size_t i = 256; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0x12345678u);
}

TEST(Picture, DecodePictureStreamIsTheStartUpStep) {
  TestStream s;
  s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("11110 110010") + flat_macroblock("11110 001101")).end();
  std::vector<uint32_t> pixels(32 * 16, 0);
  EXPECT_TRUE(decode_picture_stream(s.bytes.data(), s.bytes.size(), pixels.data(), 32, 16, 22));
  // 178 and 128 after the stretch: 170 and 116 (low bits cleared).
  EXPECT_EQ(pixels[0], grey(170));
  EXPECT_EQ(pixels[31], grey(116));

  std::vector<uint32_t> black(32 * 16, 0);
  const uint8_t junk[] = {1, 2, 3};
  EXPECT_FALSE(decode_picture_stream(junk, sizeof junk, black.data(), 32, 16, 22));
  for (uint32_t p : black) ASSERT_EQ(p, 0u);
}

}  // namespace
