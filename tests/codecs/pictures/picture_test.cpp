// The picture decoder from the bit reader up, on hand-made streams written as strings of
// '0' and '1' (other characters are ignored, so codes can be grouped).
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "picture_checks.h"

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
  // Sequence header of a w x h picture with the default matrices, then a picture header
  // (coding type 1: intra).
  TestStream& headers(int w, int h, int coding_type = 1) {
    code(0x1B3).bits(binary(w, 12) + binary(h, 12) + "0001 0011" + binary(0x3FFFF, 18) + "1" + binary(20, 10) + "000");
    return code(0x100).bits(binary(0, 10) + binary(coding_type, 3) + binary(0xFFFF, 16) + "0");
  }
  TestStream& slice(uint32_t row_code, int scale) { return code(row_code).bits(binary(scale, 5) + "0"); }
  TestStream& end() { return code(0x1B7); }
};

// A plain intra macroblock whose blocks carry only DC differences, all 0 but the first.
std::string flat_macroblock(const std::string& first_luma_dc) { return "1 1" + first_luma_dc + "10 100 10 100 10 100 10 00 10 00 10"; }

BitReader reader_over(const std::vector<uint8_t>& bytes, size_t size) {
  BitReader r;
  reset_bit_reader(r, bytes.data(), size);
  return r;
}

TEST(BitReader, ReadsFromAnyBitAndFindsStartCodesWithoutRunningOff) {
  const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  BitReader r = reader_over(bytes, bytes.size());
  r.position = 5;
  EXPECT_EQ(peek_bits(r, 23), 0b01000110100010101100111u);  // bits 5..27
  EXPECT_EQ(read_bits(r, 5), 0b01000u);
  EXPECT_EQ(read_bit(r), 1u);  // bit 10: 0x34 is 0011 0100
  r.position = 40;
  EXPECT_EQ(peek_bits(r, 16), 0xBC00u);  // the stream has ended: zeros, however far on

  const std::vector<uint8_t> codes = {0x00, 0x00, 0x01, 0xB3, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  BitReader s = reader_over(codes, codes.size());
  s.position = 1;
  EXPECT_TRUE(seek_start_code(s));
  EXPECT_EQ(s.position, 40);  // rounded up to byte 1, then on to the next prefix
  s.position += 24;
  EXPECT_FALSE(seek_start_code(s));  // past that prefix only "00 00 00" is left, which is none
  EXPECT_EQ(s.position, 88);

  // Streams over 128 MiB are read as if cut there, so that every bit position fits 32 bits:
  // a start code just past the cut is not seen, also when the stream claims 3 GiB.
  std::vector<uint8_t> big((size_t{1} << 27) + 16, 0);
  big[(size_t{1} << 27) + 1] = 0x01;
  for (size_t size : {big.size(), size_t{3} << 30}) {
    BitReader b = reader_over(big, size);
    EXPECT_FALSE(seek_start_code(b)) << size;
    EXPECT_EQ(b.position, 1 << 30) << size;
  }
}

// Decodes `bits` as one luminance block with quantiser scale `scale` and a flat matrix of 8,
// except `weight` at scan position 1.
struct Decoded {
  int result;
  int32_t coefficients[64];
};
Decoded decode_block(const std::string& bits, int weight = 8, int scale = 2) {
  IntraMatrix matrix;
  matrix.fill(8);
  matrix[1] = static_cast<uint8_t>(weight);
  const std::vector<uint8_t> bytes = TestStream().bits(bits).bytes;
  BitReader r = reader_over(bytes, bytes.size());
  Decoded d{};
  DcPredictor predictor{};
  d.result = decode_intra_block(r, d.coefficients, 0, predictor, matrix, scale);
  return d;
}

TEST(IntraBlock, DequantisesToOddValuesAndStopsAtCodeErrors) {
  // After a DC size of 0 ("100"), a level at scan position 1, then end of block.
  struct Row { const char* code; int weight, scale, value; };
  const Row rows[] = {
      {"00101 1", 16, 2, -11},                               // level -3: 96 / 8 is 12, made odd towards 0
      {"000001 000000 00000000 11111111", 255, 31, 251971},  // escape, level 255: no saturation
      {"000001 000000 10000000 00111000", 8, 2, -399},       // escape, level -200
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    const Decoded d = decode_block(std::string("100 ") + row.code + " 10", row.weight, row.scale);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.coefficients[1], row.value);
  }
  EXPECT_EQ(decode_block("100 000001 111110 00000011 10").coefficients[63], 5);  // escape run 62 reaches position 63
  // Twelve leading zeros are no code; a run past the last coefficient; position 63 filled
  // and then a level instead of end of block. What was decoded stays.
  for (const char* bad : {"100 11 0 000000000000 1111", "100 11 0 000001 111110 00000001 10",
                          "100 11 0 000001 111101 00000001 11 0 10"}) {
    SCOPED_TRACE(bad);
    const Decoded d = decode_block(bad);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.coefficients[1], 1);
  }
}

// The whole-block transform against the two plain passes on random blocks: mostly DC only,
// sparse and dense ones, values from small to ones that wrap, and every output stride the
// decoder uses.
TEST(InverseTransform, BlockTransformMatchesThePlainPasses) {
  std::mt19937 rng(1208);
  for (int trial = 0; trial < 20000; ++trial) {
    const uint32_t span = std::vector<uint32_t>{16, 2048, 65536, 0}[rng() % 4];
    const uint32_t one_in = std::vector<uint32_t>{1000, 20, 3}[rng() % 3];  // one coefficient in one_in is set
    auto value = [&] { return span ? static_cast<int32_t>(rng() % (2 * span)) - static_cast<int32_t>(span) : static_cast<int32_t>(rng()); };
    int32_t block[64];
    for (int32_t& v : block) v = rng() % one_in ? 0 : value();
    block[0] = value();
    int32_t plain[64];
    std::copy(block, block + 64, plain);
    for (int c = 0; c < 8; ++c) idct_column(plain, c);
    for (int r = 0; r < 8; ++r) idct_row(plain + 8 * r, plain + 8 * r);
    const int stride = trial % 2 ? 16 : 8;
    std::vector<int32_t> out(8 * stride, 0x5A5A5A5A);
    idct_block(block, out.data(), stride);
    for (int i = 0; i < 8 * stride; ++i)
      ASSERT_EQ(out[i], i % stride < 8 ? plain[i / stride * 8 + i % stride] : 0x5A5A5A5A) << "trial " << trial << " at " << i;
  }
}

TEST(Colour, TablesAndStretch) {
  const ColourTables& t = PictureColours;
  // Every entry within 1.5 of the real-valued conversion.
  for (int c = -512; c < 512; ++c) {
    const double exact[4] = {1.772 * c, -0.34414 * c, 1.402 * c, -0.71414 * c};
    const int32_t tabled[4] = {t.blueFromCb[c + 512], t.greenFromCb[c + 512], t.redFromCr[c + 512], t.greenFromCr[c + 512]};
    for (int i = 0; i < 4; ++i) ASSERT_NEAR(tabled[i], exact[i], 1.5) << "table " << i << " at " << c;
  }
  // The same value in all three channels (junk in the top byte must go), then channels apart.
  // Black levels outside 0..254 are taken as the nearest end: 255 would leave nothing to
  // stretch (a division by 0), a negative level would brighten. At 254 the factor is 255:
  // 255 becomes 254 (lowest bit cleared), 254 and below black; at 0 the factor is 1.
  for (auto [black, in, out] : std::vector<std::tuple<int32_t, uint32_t, uint32_t>>{
           {22, 0xAB151515, 0}, {22, 0x64646464, 0x545454}, {254, 0xFEFEFE, 0}, {254, 0xFFFFFF, 0xFEFEFE},
           {255, 0xFFFFFF, 0xFEFEFE}, {-5, 0x656565, 0x646464}, {22, 0x1764FE, 0x0054FC}}) {
    uint32_t pixels[2] = {in, 0xFFFFFF};
    stretch_levels(pixels, black, 1);
    EXPECT_EQ(pixels[0], out) << "black level " << black << ", pixel " << std::hex << in;
    EXPECT_EQ(pixels[1], 0xFFFFFFu);  // only the pixels counted
  }
}

uint32_t grey(int v) { return static_cast<uint32_t>(v) * 0x010101u; }

TEST(Picture, SlicesPlaceMacroblocksAndTheBufferBoundsThem) {
  // Slice code 0x102 starts at macroblock row 1 and ends after its one macroblock, whose
  // luminance is +50 (11110 110010) and chroma 0: grey 178.
  TestStream row1;
  row1.headers(16, 48).slice(0x102, 1).bits(flat_macroblock("11110 110010")).end();
  const std::vector<uint32_t> p1 = decode_guarded(row1.bytes, 16, 48);
  EXPECT_EQ(p1[15 * 16 + 15], Untouched);
  EXPECT_EQ(p1[16 * 16], grey(178));
  EXPECT_EQ(p1[32 * 16], Untouched);

  // A 32 x 32 picture into a 16 x 16 buffer: what lies outside is dropped.
  TestStream large;
  large.headers(32, 32).slice(0x101, 1);
  for (int i = 0; i < 4; ++i) large.bits(flat_macroblock("100"));
  EXPECT_EQ(decode_guarded(large.end().bytes, 16, 16), std::vector<uint32_t>(256, grey(128)));
}

TEST(Picture, UnsupportedSyntaxIsRefusedOrEndsThePicture) {
  // Refused: a predicted picture, no sequence header first, a stream cut inside the picture
  // start code, and no stream at all.
  TestStream good, predicted;
  good.headers(16, 16).slice(0x101, 1).bits(flat_macroblock("100")).end();
  predicted.headers(16, 16, 2).slice(0x101, 1).bits(flat_macroblock("100")).end();
  PictureDecoder d;
  for (const std::vector<uint8_t>& bad : {predicted.bytes, std::vector<uint8_t>(good.bytes.begin() + 1, good.bytes.end()),
                                          std::vector<uint8_t>(good.bytes.begin(), good.bytes.begin() + 14)}) {
    EXPECT_EQ(parse_picture_headers(d, bad.data(), bad.size()), 0) << bad.size() << " bytes";
  }
  EXPECT_EQ(parse_picture_headers(d, nullptr, 0), 0);

  // An address increment other than 1, another macroblock type, or a start code that is no
  // slice ends the picture; what was written stays.
  for (const char* bad : {"01 1", "1 00", ""}) {
    SCOPED_TRACE(bad);
    TestStream s;
    s.headers(32, 16).slice(0x101, 1).bits(flat_macroblock("100")).bits(bad);
    if (!*bad) s.code(0x1B2).slice(0x101, 1);
    s.bits(flat_macroblock("100")).end();
    const std::vector<uint32_t> pixels = decode_guarded(s.bytes, 32, 16);
    EXPECT_EQ(pixels[0], grey(128));
    EXPECT_EQ(pixels[16], Untouched);
  }
}

}  // namespace
