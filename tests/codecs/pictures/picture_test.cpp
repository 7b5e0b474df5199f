// The picture decoder from the bit reader up, on hand-made streams written as strings of
// '0' and '1' (other characters are ignored, so codes can be grouped).
#include "codecs/picture.h"
#include "codecs/picture_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::string binary(uint32_t value, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((value >> i) & 1u) ? '1' : '0';
  return s;
}

// A stream of byte-aligned units: start codes followed by their bits.
struct TestStream {
  std::vector<uint8_t> bytes;
  int fill = 0;
  TestStream& code(uint32_t start_code) {
    fill = 0;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(start_code >> shift));
    return *this;
  }
  TestStream& bits(const std::string& b) {
    for (char c : b) {
      if (c != '0' && c != '1') continue;
      if (fill == 0) bytes.push_back(0);
      if (c == '1') bytes.back() = static_cast<uint8_t>(bytes.back() | (0x80 >> fill));
      fill = (fill + 1) & 7;
    }
    return *this;
  }
  // Sequence header of a w x h picture with the default matrices, then an intra picture.
  TestStream& headers(int w, int h, int coding_type = 1) {
    code(0x1B3).bits(binary(w, 12) + binary(h, 12) + "0001 0011" + binary(0x3FFFF, 18) + "1" + binary(20, 10) + "000");
    return code(0x100).bits(binary(0, 10) + binary(coding_type, 3) + binary(0xFFFF, 16) + "0");
  }
  TestStream& slice(uint32_t row_code, int scale) { return code(row_code).bits(binary(scale, 5) + "0"); }
  TestStream& end() { return code(0x1B7); }
};

std::vector<uint8_t> from_bits(const std::string& bits) { return TestStream().bits(bits).bytes; }

// A plain intra macroblock whose blocks carry only DC differences, all 0 but the first.
const std::string RestOfMacroblock = "100 10 100 10 100 10 00 10 00 10";
std::string flat_macroblock(const std::string& first_luma_dc) { return "1 1" + first_luma_dc + "10" + RestOfMacroblock; }

BitReader reader_over(const std::vector<uint8_t>& bytes) {
  BitReader r;
  reset_bit_reader(r, bytes.data(), bytes.size());
  return r;
}

TEST(BitReader, ReadsBigEndianFromAnyBitAndZerosPastTheEnd) {
  const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  BitReader r = reader_over(bytes);
  r.position = 5;
  EXPECT_EQ(peek_bits(r, 23), (0x12345678u << 5) >> 9);  // bits 5..27
  EXPECT_EQ(r.position, 5);
  EXPECT_EQ(read_bits(r, 3), 0b010u);
  EXPECT_EQ(read_bit(r), 0u);  // 0x34 = 0011 0100
  EXPECT_EQ(read_bit(r), 0u);
  EXPECT_EQ(read_bit(r), 1u);
  skip_bits(r, 5);
  EXPECT_EQ(read_bits(r, 32), 0x56789ABCu);
  EXPECT_EQ(peek_bits(r, 32), 0u);  // the stream has ended: zeros, however far on
  r.position = 40;
  EXPECT_EQ(peek_bits(r, 16), 0xBC00u);
}

TEST(BitReader, StreamsOver128MiBAreReadAsIfCutThere) {
  // A start code just past 128 MiB is not seen; the search stops at the cut, whose bit
  // position (2^30) still fits 32 bits, and the bits beyond read as zeros. Told of 2 GiB
  // (with only the buffer behind it), the reader stays inside the same 128 MiB.
  std::vector<uint8_t> big((size_t{1} << 27) + 16, 0);
  big[(size_t{1} << 27) + 1] = 0x01;
  big[(size_t{1} << 27) + 2] = 0xB3;
  for (size_t size : {big.size(), size_t{3} << 30}) {
    BitReader r;
    reset_bit_reader(r, big.data(), size);
    EXPECT_FALSE(seek_start_code(r)) << size;
    EXPECT_EQ(r.position, 1 << 30) << size;
    EXPECT_EQ(peek_bits(r, 32), 0u) << size;
  }
  big[(size_t{1} << 27) - 3] = 0x01;  // a start code that ends exactly at the cut is found
  BitReader r;
  reset_bit_reader(r, big.data(), big.size());
  EXPECT_TRUE(seek_start_code(r));
  EXPECT_EQ(r.position, ((1 << 27) - 5) * 8);
}

TEST(BitReader, SeeksStartCodesWithoutRunningOff) {
  const std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0xB3, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  BitReader r = reader_over(bytes);
  EXPECT_TRUE(seek_start_code(r));
  EXPECT_EQ(r.position, 0);  // aligned directly before a prefix: does not move
  r.position = 1;
  EXPECT_TRUE(seek_start_code(r));
  EXPECT_EQ(r.position, 40);  // rounded up to byte 1, then on to the next prefix
  EXPECT_EQ(read_bits(r, 32), 0x00000100u);
  EXPECT_FALSE(seek_start_code(r));  // only "00 00 00" left
  EXPECT_EQ(r.position, 88);
  const std::vector<uint8_t> two = {0x00, 0x00};
  BitReader s = reader_over(two);
  EXPECT_FALSE(seek_start_code(s));
  EXPECT_EQ(s.position, 16);
}

// Decodes `bits` as one block with a flat matrix of 8 and scale 2, so that a level L
// comes out as 2L - 1 (sign kept) at its scan position.
struct Decoded {
  int result;
  int32_t position;
  int32_t coefficients[64];
  DcPredictor predictor;
};
Decoded decode(const std::string& bits, int block = 0, int scale = 2, IntraMatrix matrix = {}) {
  if (matrix[0] == 0) matrix.fill(8);
  const std::vector<uint8_t> bytes = from_bits(bits);
  BitReader r = reader_over(bytes);
  Decoded d{};
  d.result = decode_intra_block(r, d.coefficients, block, d.predictor, matrix, scale);
  d.position = r.position;
  return d;
}

TEST(IntraBlock, DequantisesToOddValuesWithoutSaturation) {
  struct Case { const char* code; int weight, scale, value; };
  const Case cases[] = {
      {"11 0", 16, 1, 1}, {"11 0", 19, 1, 1}, {"00101 0", 16, 2, 11}, {"0100 0", 8, 1, 1}, {"0100 1", 8, 1, -1},
      {"0100 0", 24, 3, 17},  // (144 >> 3) - 1
      // Escape level 255 at weight 255 and scale 31: far beyond 2047, kept as it is.
      {"000001 000000 00000000 11111111", 255, 31, (((255 * 255 * 31) >> 3) - 1) | 1},
      // Escape levels: 200, -200, -1, 127, -128.
      {"000001 000000 00000000 11001000", 8, 2, 399}, {"000001 000000 10000000 00111000", 8, 2, -399},
      {"000001 000000 11111111", 8, 2, -1}, {"000001 000000 01111111", 8, 2, 253},
      {"000001 000000 10000000 10000000", 8, 2, -255}};
  for (const Case& c : cases) {
    IntraMatrix m;
    m.fill(8);
    m[1] = static_cast<uint8_t>(c.weight);
    EXPECT_EQ(decode(std::string("100 ") + c.code + " 10", 0, c.scale, m).coefficients[1], c.value) << c.code;
  }
  const Decoded far = decode("100 000001 111110 00000011 10");  // escape run 62 reaches position 63
  EXPECT_EQ(far.result, 1);
  EXPECT_EQ(far.coefficients[63], 5);
}

TEST(IntraBlock, CodeErrorsStopWithWhatWasDecoded) {
  // Twelve leading zeros are no code; a run past the last coefficient; position 63 filled
  // and then anything but end of block; a stream that ends inside a block.
  for (const char* bad : {"100 11 0 000000000000 1111", "100 11 0 000001 111110 00000001 10",
                          "100 000001 111110 00000001 11 0 10", "100 11"}) {
    const Decoded d = decode(bad);
    EXPECT_EQ(d.result, 0) << bad;
    if (bad[4] == '1') { EXPECT_EQ(d.coefficients[1], 1) << bad; }
  }
}

void idct(int32_t* block) {
  for (int c = 0; c < 8; ++c) idct_column(block, c);
  for (int r = 0; r < 8; ++r) idct_row(block + 8 * r, block + 8 * r);
}

// The whole-block transform against the two plain passes on random blocks: sparse ones
// (DC only, a few coefficients), dense ones, values from small to ones that wrap, and every
// output stride the decoder uses.
TEST(InverseTransform, BlockTransformMatchesThePlainPasses) {
  std::mt19937 rng(1208);
  for (int trial = 0; trial < 20000; ++trial) {
    int32_t block[64] = {};
    const int kind = static_cast<int>(rng() % 4);
    const uint32_t span = std::vector<uint32_t>{16, 2048, 65536, 0}[rng() % 4];
    auto value = [&] { return span ? static_cast<int32_t>(rng() % (2 * span)) - static_cast<int32_t>(span) : static_cast<int32_t>(rng()); };
    block[0] = value();
    if (kind == 1) {
      for (int n = 0; n < 3; ++n) block[rng() % 64] = value();
    } else if (kind >= 2) {
      for (int32_t& v : block) v = rng() % 3 ? 0 : value();
    }
    int32_t plain[64];
    std::copy(block, block + 64, plain);
    idct(plain);
    const int stride = trial % 2 ? 16 : 8;
    std::vector<int32_t> out(8 * stride, 0x5A5A5A5A);
    int32_t work[64];
    std::copy(block, block + 64, work);
    idct_block(work, out.data(), stride);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < stride; ++c)
        ASSERT_EQ(out[r * stride + c], c < 8 ? plain[r * 8 + c] : 0x5A5A5A5A) << "trial " << trial << " at " << r << "," << c;
  }
}

// Accuracy against the exact transform, in the manner of the usual accuracy test for
// integer inverse transforms: blocks of random samples in [-256, 255], [-5, 5] and
// [-300, 300] taken forward exactly, rounded and clipped to 12 bits, then back with
// both (the decoder's whole-block transform). Per sample at most 1 off; the mean square error under 0.06 at every position and
// 0.02 over the block; the mean error under 0.015 at every position.
TEST(InverseTransform, WithinOneOfTheExactTransform) {
  std::mt19937 rng(1180);
  for (const auto& [low, high] : {std::pair{-256, 255}, std::pair{-5, 5}, std::pair{-300, 300}}) {
    constexpr int Blocks = 10000;
    double square[64] = {}, sum[64] = {};
    for (int b = 0; b < Blocks; ++b) {
      double samples[64], exact[64], coefficients[64];
      for (double& v : samples) v = low + static_cast<int>(rng() % static_cast<uint32_t>(high - low + 1));
      forward_dct_reference(samples, coefficients);
      int32_t block[64];
      for (int i = 0; i < 64; ++i) {
        block[i] = std::clamp(static_cast<int32_t>(std::lround(coefficients[i])), -2048, 2047);
        coefficients[i] = block[i];
      }
      inverse_dct_reference(coefficients, exact);
      int32_t out[64];
      idct_block(block, out, 8);
      for (int i = 0; i < 64; ++i) {
        const double want = std::clamp(std::round(exact[i]), -256.0, 255.0);
        const double error = std::clamp(out[i], -256, 255) - want;
        ASSERT_LE(std::abs(error), 1.0) << "range " << low << ".." << high << " block " << b << " at " << i;
        square[i] += error * error;
        sum[i] += error;
      }
    }
    double total = 0;
    for (int i = 0; i < 64; ++i) {
      EXPECT_LT(square[i] / Blocks, 0.06) << "range " << low << ".." << high << " at " << i;
      EXPECT_LT(std::abs(sum[i]) / Blocks, 0.015) << "range " << low << ".." << high << " at " << i;
      total += square[i];
    }
    EXPECT_LT(total / (64.0 * Blocks), 0.02) << "range " << low << ".." << high;
  }
}

TEST(Colour, TablesPackingAndStretch) {
  const ColourTables& t = PictureColours;
  // The tables round down: +1 and -1 in Cb, +100 in Cr.
  EXPECT_EQ((std::vector<int32_t>{t.blueFromCb[513], t.greenFromCb[513], t.blueFromCb[511], t.greenFromCb[511],
                                  t.redFromCr[612], t.greenFromCr[612]}),
            (std::vector<int32_t>{1, -1, -2, 0, 140, -72}));
  // Every entry within 1.5 of the real-valued conversion.
  for (int c = -512; c < 512; ++c) {
    const double exact[4] = {1.772 * c, -0.34414 * c, 1.402 * c, -0.71414 * c};
    const int32_t tabled[4] = {t.blueFromCb[c + 512], t.greenFromCb[c + 512], t.redFromCr[c + 512], t.greenFromCr[c + 512]};
    for (int i = 0; i < 4; ++i) ASSERT_NEAR(tabled[i], exact[i], 1.5) << "table " << i << " at " << c;
  }
  EXPECT_EQ(pack_rgb(-5, 128, 300), 0x0080FFu);
  EXPECT_EQ(pack_rgb(255, 0, 1), 0xFF0001u);
  // The same value in all three channels, with junk in the top byte that must go. Black
  // levels outside 0..254 are taken as the nearest end: 255 would leave nothing to stretch
  // (a division by 0), a negative level would brighten. At 254 the factor is 255: 255
  // becomes 254 (lowest bit cleared), 254 and below black; at 0 the factor is 1.
  for (auto [black, in, out] : std::vector<std::tuple<int32_t, uint32_t, uint32_t>>{
           {22, 0, 0}, {22, 21, 0}, {22, 22, 0}, {22, 23, 0}, {22, 100, 84}, {22, 128, 116}, {22, 254, 252},
           {22, 255, 254}, {254, 255, 254}, {254, 254, 0}, {255, 255, 254}, {255, 254, 0}, {1000, 255, 254},
           {0, 101, 100}, {-5, 101, 100}, {-5, 0, 0}, {-100000, 255, 254}}) {
    uint32_t p = 0xAB000000u | in * 0x010101u;
    stretch_levels(&p, black, 1);
    EXPECT_EQ(p, out * 0x010101u) << "black level " << black << ", value " << in;
  }
  uint32_t mixed[2] = {0x001764FE, 0x00FFFFFF};
  stretch_levels(mixed, 22, 1);  // channels apart, and only the first pixel
  EXPECT_EQ((std::vector<uint32_t>{mixed[0], mixed[1]}), (std::vector<uint32_t>{0x00005400u | 252u, 0x00FFFFFFu}));
}

constexpr uint32_t Untouched = 0xDEADBEEF;

// Decodes a stream into a w x h buffer filled with Untouched beforehand.
std::vector<uint32_t> decode_into(const TestStream& s, int w, int h) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h), Untouched);
  PictureDecoder decoder;
  if (parse_picture_headers(decoder, s.bytes.data(), s.bytes.size())) decode_picture(decoder, pixels.data(), w, h);
  return pixels;
}

uint32_t grey(int v) { return static_cast<uint32_t>(v) * 0x010101u; }

TEST(Picture, DcOnlyMacroblocksAreGreyAndSlicesPlaceAndResetThem) {
  // Luminance +50 (11110 110010), then -178 (1111110 01001101), chroma 0: grey 178, then 0.
  TestStream s;
  s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("11110 110010") + flat_macroblock("1111110 01001101")).end();
  const std::vector<uint32_t> pixels = decode_into(s, 32, 16);
  for (int i = 0; i < 32 * 16; ++i) ASSERT_EQ(pixels[i], grey(i % 32 < 16 ? 178 : 0)) << i;
  TestStream bright;
  bright.headers(16, 16).slice(0x101, 1).bits(flat_macroblock("1111110 11001000")).end();  // +200: 328
  EXPECT_EQ(decode_into(bright, 16, 16)[0], grey(255));

  // Slice code 0x102 starts at macroblock row 1 and ends after its one macroblock.
  TestStream row1;
  row1.headers(16, 48).slice(0x102, 1).bits(flat_macroblock("100")).end();
  const std::vector<uint32_t> p1 = decode_into(row1, 16, 48);
  EXPECT_EQ(p1[15 * 16 + 15], Untouched);
  EXPECT_EQ(p1[16 * 16], grey(128));
  EXPECT_EQ(p1[31 * 16 + 15], grey(128));
  EXPECT_EQ(p1[32 * 16], Untouched);

}

TEST(Picture, UnsupportedMacroblocksAndStartCodesEndThePicture) {
  // An address increment other than 1, another macroblock type, or a start code that is no
  // slice ends the picture; what was written stays.
  for (const char* bad : {"01 1", "1 00", ""}) {
    TestStream s;
    s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("100")).bits(bad);
    if (!*bad) s.code(0x1B2).slice(0x101, 1);
    s.bits(flat_macroblock("100")).end();
    const std::vector<uint32_t> pixels = decode_into(s, 32, 16);
    EXPECT_EQ(pixels[0], grey(128)) << bad;
    EXPECT_EQ(pixels[16], Untouched) << bad;
  }
}

TEST(Picture, HeadersAcceptedAndRefused) {
  TestStream good, p_picture, sequence_end, extra;
  good.headers(16, 16).slice(0x101, 1).bits(flat_macroblock("100")).end();
  p_picture.headers(16, 16, 2).slice(0x101, 1).bits(flat_macroblock("100")).end();
  sequence_end.code(0x1B3).bits(binary(16, 12) + binary(16, 12) + std::string(40, '0')).end();
  TestStream not_sequence = good;
  not_sequence.bytes[3] = 0xB5;
  // Own intra matrix, a non-intra one (ignored), group of pictures and user data around the
  // picture header (skipped).
  extra.code(0x1B3).bits(binary(16, 12) + binary(16, 12) + "00010011" + binary(0x3FFFF, 18) + "1" + binary(20, 10) + "01");
  for (int i = 0; i < 128; ++i) extra.bits((i == 64 ? "1" : "") + binary(i >= 64 ? 16 : i == 0 ? 8 : i == 1 ? 200 : 32, 8));
  extra.bits("0").code(0x1B8).bits(binary(1 << 12, 25) + "10").code(0x1B2).bits("01010101 11111111");
  extra.code(0x100).bits(binary(0, 10) + "001" + binary(0xFFFF, 16) + "1 10101010 0").code(0x1B2).bits("11111111");
  extra.slice(0x101, 31).bits(flat_macroblock("100")).end();
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, extra.bytes.data(), extra.bytes.size()), 1);
  EXPECT_EQ(d.picture.intraMatrix[1], 200);
  EXPECT_EQ(d.picture.intraMatrix[2], 32);
  EXPECT_EQ(d.picture.macroblocks, 1);
  ASSERT_EQ(parse_picture_headers(d, good.bytes.data(), good.bytes.size()), 1);
  EXPECT_EQ(d.picture.intraMatrix, DefaultIntraMatrix);  // each call starts from the default again
  for (const TestStream* bad : {&p_picture, &not_sequence, &sequence_end}) {
    EXPECT_EQ(parse_picture_headers(d, bad->bytes.data(), bad->bytes.size()), 0);
  }
  EXPECT_EQ(parse_picture_headers(d, nullptr, 0), 0);
  EXPECT_EQ(parse_picture_headers(d, good.bytes.data(), 14), 0);  // inside the picture start code
}

TEST(Picture, WritesOnlyInsideTheDestination) {
  // A 32 x 32 picture into a 16 x 16 buffer held inside a guarded larger one.
  TestStream s;
  s.headers(32, 32).slice(0x101, 1);
  for (int i = 0; i < 4; ++i) s.bits(flat_macroblock("100"));
  std::vector<uint32_t> memory(16 * 16 + 64, Untouched);
  PictureDecoder d;
  ASSERT_EQ(parse_picture_headers(d, s.end().bytes.data(), s.bytes.size()), 1);
  decode_picture(d, memory.data(), 16, 16);
  for (size_t i = 0; i < memory.size(); ++i) ASSERT_EQ(memory[i], i < 256 ? grey(128) : Untouched) << i;
}

}  // namespace
