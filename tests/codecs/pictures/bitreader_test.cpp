#include "codecs/bitreader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codecs/pictures/bits.h"

namespace {

BitReader reader_over(const std::vector<uint8_t>& bytes) {
  BitReader r;
  reset_bit_reader(r, bytes.data(), bytes.size());
  return r;
}

TEST(BitReader, ReadsBigEndianFromAnyBitAndZerosPastTheEnd) {
  const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  BitReader r = reader_over(bytes);
  r.position = 5;
  // Bits 5..27 of the word 0x12345678.
  EXPECT_EQ(peek_bits(r, 23), (0x12345678u << 5) >> 9);
  EXPECT_EQ(r.position, 5);
  EXPECT_EQ(read_bits(r, 3), 0b010u);  // 0x12 = 0001 0010: bits 5..7
  EXPECT_EQ(read_bit(r), 0u);          // 0x34 = 0011 0100
  EXPECT_EQ(read_bit(r), 0u);
  EXPECT_EQ(read_bit(r), 1u);
  skip_bits(r, 5);
  EXPECT_EQ(read_bits(r, 32), 0x56789ABCu);
  // The stream has ended: everything reads as 0, however far on.
  EXPECT_EQ(peek_bits(r, 32), 0u);
  EXPECT_EQ(read_bit(r), 0u);
  r.position = 40;
  EXPECT_EQ(peek_bits(r, 16), 0xBC00u);
}

TEST(BitReader, SeeksStartCodesWithoutRunningOff) {
  const std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0xB3, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  BitReader r = reader_over(bytes);
  EXPECT_TRUE(seek_start_code(r));
  EXPECT_EQ(r.position, 0);  // aligned directly before a prefix: does not move
  r.position = 1;
  EXPECT_TRUE(seek_start_code(r));
  EXPECT_EQ(r.position, 40);  // rounded up to byte 1, then on to the next prefix at byte 5
  EXPECT_EQ(read_bits(r, 32), 0x00000100u);
  // Only "00 00 00" is left: no prefix, the reader stops at the end.
  EXPECT_FALSE(seek_start_code(r));
  EXPECT_EQ(r.position, 88);
  EXPECT_EQ(read_bits(r, 32), 0u);

  const std::vector<uint8_t> two = {0x00, 0x00};
  BitReader s = reader_over(two);
  EXPECT_FALSE(seek_start_code(s));
  EXPECT_EQ(s.position, 16);
}

TEST(BitReader, ZigZagAndDefaultMatrixMatchTheStandardsListing) {
  const uint8_t scan[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  const uint8_t raster[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                              19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                              22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                              26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(ZigZag[i], scan[i]) << i;
    EXPECT_EQ(DefaultIntraMatrix[i], raster[scan[i]]) << i;
  }
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
  d.predictor = {0, 0, 0};
  d.result = decode_intra_block(r, d.coefficients, block, d.predictor, matrix, scale);
  d.position = r.position;
  return d;
}

int bit_count(const std::string& bits) {
  int n = 0;
  for (char c : bits) n += c == '0' || c == '1';
  return n;
}

TEST(IntraBlock, EveryCoefficientCodeDecodesBackToItsRunAndLevel) {
  int pairs = 0;
  for (const CoeffCode& c : DctCoeffNext) {
    if (c.kind != CoeffCodeKind::RunLevel) continue;
    ++pairs;
    for (int sign = 0; sign < 2; ++sign) {
      const std::string bits = std::string("100") + c.code + (sign ? "1" : "0") + "10";
      const Decoded d = decode(bits);
      ASSERT_EQ(d.result, 1) << c.code;
      EXPECT_EQ(d.position, bit_count(bits)) << c.code;
      const int32_t expected = sign ? -(2 * c.level - 1) : 2 * c.level - 1;
      EXPECT_EQ(d.coefficients[ZigZag[1 + c.run]], expected) << c.code;
      for (int i = 1; i < 64; ++i) {
        if (i != 1 + c.run) {
          EXPECT_EQ(d.coefficients[ZigZag[i]], 0) << c.code;
        }
      }
    }
  }
  EXPECT_EQ(pairs, 111);
}

TEST(IntraBlock, EveryDcSizeCodeDecodesBackToItsSize) {
  for (int block : {0, 4, 5}) {
    const auto& table = block == 0 ? DcSizeLuminance : DcSizeChrominance;
    for (const DcSizeCode& c : table) {
      // The largest differential of each size: all ones.
      const std::string bits = std::string(c.code) + std::string(static_cast<size_t>(c.size), '1') + "10";
      const Decoded d = decode(bits, block);
      ASSERT_EQ(d.result, 1) << c.code;
      EXPECT_EQ(d.position, bit_count(bits)) << c.code;
      const int32_t expected = (1 << c.size) - 1;
      EXPECT_EQ(d.predictor[block == 0 ? 0 : block - 3], expected) << c.code;
      EXPECT_EQ(d.coefficients[0], expected * 8) << c.code;
    }
  }
}

TEST(IntraBlock, DcDifferentials) {
  EXPECT_EQ(decode("100 10").predictor[0], 0);
  EXPECT_EQ(decode("00 0 10").predictor[0], -1);
  EXPECT_EQ(decode("00 1 10").predictor[0], 1);
  EXPECT_EQ(decode("101 010 10").predictor[0], -5);
  EXPECT_EQ(decode("101 110 10").predictor[0], 6);
  // Chrominance uses its own table and predictors: "01" is size 1 there.
  Decoded cb = decode("01 1 10", 4);
  EXPECT_EQ(cb.predictor[1], 1);
  EXPECT_EQ(cb.predictor[0], 0);
  EXPECT_EQ(decode("110 000 10", 5).predictor[2], -7);
  // The predictor carries over: DC is the running sum, times 8, unweighted.
  const std::vector<uint8_t> bytes = from_bits("00 1 10  01 11 10");
  BitReader r = reader_over(bytes);
  DcPredictor p{10, 0, 0};
  IntraMatrix m;
  m.fill(255);
  int32_t c[64];
  ASSERT_EQ(decode_intra_block(r, c, 1, p, m, 31), 1);
  EXPECT_EQ(c[0], 11 * 8);
  ASSERT_EQ(decode_intra_block(r, c, 2, p, m, 31), 1);
  EXPECT_EQ(c[0], 14 * 8);
}

TEST(IntraBlock, DequantisesToOddValuesWithoutSaturation) {
  auto first_ac = [](const std::string& code, int weight, int scale) {
    IntraMatrix m;
    m.fill(8);
    m[1] = static_cast<uint8_t>(weight);
    return decode("100 " + code + " 10", 0, scale, m).coefficients[1];
  };
  EXPECT_EQ(first_ac("11 0", 16, 1), 1);
  EXPECT_EQ(first_ac("11 0", 19, 1), 1);
  EXPECT_EQ(first_ac("00101 0", 16, 2), 11);   // level 3
  EXPECT_EQ(first_ac("0100 0", 8, 1), 1);      // level 2
  EXPECT_EQ(first_ac("0100 1", 8, 1), -1);
  EXPECT_EQ(first_ac("0100 0", 24, 3), 17);    // (144 >> 3) - 1 = 17
  // Escape level 255 at weight 255 and scale 31: far beyond 2047, kept as it is.
  EXPECT_EQ(first_ac("000001 000000 00000000 11111111", 255, 31), (((255 * 255 * 31) >> 3) - 1) | 1);
  // Weights are taken by scan position: position 2 is raster index 8.
  IntraMatrix m;
  m.fill(8);
  m[2] = 40;
  EXPECT_EQ(decode("100 011 0 10", 0, 1, m).coefficients[8], (5 - 1) | 1);
}

TEST(IntraBlock, EscapeLevels) {
  auto escaped = [](const std::string& run, const std::string& level) {
    return decode("100 000001 " + run + " " + level + " 10");
  };
  EXPECT_EQ(escaped("000000", "00000000 11001000").coefficients[1], 2 * 200 - 1);
  EXPECT_EQ(escaped("000000", "10000000 00111000").coefficients[1], -(2 * 200 - 1));
  EXPECT_EQ(escaped("000000", "11111111").coefficients[1], -1);
  EXPECT_EQ(escaped("000000", "01111111").coefficients[1], 2 * 127 - 1);
  EXPECT_EQ(escaped("000000", "10000000 10000000").coefficients[1], -(2 * 128 - 1));
  const Decoded far = escaped("111110", "00000011");  // run 62 reaches position 63
  EXPECT_EQ(far.result, 1);
  EXPECT_EQ(far.coefficients[63], 5);
}

TEST(IntraBlock, CodeErrorsStopWithWhatWasDecoded) {
  // Twelve leading zeros are no code.
  Decoded d = decode("100 11 0 000000000000 1111");
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.coefficients[1], 1);
  // A run past the last coefficient.
  d = decode("100 11 0 000001 111110 00000001 10");
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.coefficients[1], 1);
  // Position 63 filled, then anything but end of block.
  d = decode("100 000001 111110 00000001 11 0 10");
  EXPECT_EQ(d.result, 0);
  // A stream that ends inside a block reads zeros and stops there.
  d = decode("100 11");
  EXPECT_EQ(d.result, 0);
}

}  // namespace
