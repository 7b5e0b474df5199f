#include <gtest/gtest.h>

#include <cmath>
#include <vector>
#include <utility>

#include "render/framebuffer.h"

// One pixel, and runs of pixels (four at a time), add alike.
TEST(SaturatingAdd, CarriesAndSaturatesPerChannel) {
  const uint32_t cases[][3] = {
      {0x00fe0000, 0x00040000, 0x01ff0000},  // red saturates, bit 24 set
      {0xfe, 0x04, 0x1ff},                   // blue saturates, green + 1
      {0x808080, 0x808080, 0x1ffffff},
      {0x102030, 0x020406, 0x122436},        // no carry: plain sum
  };
  for (const auto& [a, b, sum] : cases) {
    EXPECT_EQ(saturating_add(a, b), sum) << std::hex << a << " + " << b;
    // Runs of whole groups of four and runs with pixels past the last group; the pixel
    // after the run stays as it was.
    for (size_t length : {400u, 398u, 6u, 2u}) {
      std::vector<uint32_t> run(length + 1, a), expected(length + 1, sum);
      run[length] = expected[length] = b;
      add_colour_to_run(run.data(), static_cast<int32_t>(length), b);
      ASSERT_EQ(run, expected) << std::hex << a << " + " << b << std::dec << ", length " << length;
    }
  }
}

TEST(ChannelScaling, HalfQuarterAndModulateStayPrepared) {
  EXPECT_EQ(half_brightness(0xffffff), 0x7e7e7eu);
  EXPECT_EQ(quarter_brightness(0xffffff), 0x3e3e3eu);
  EXPECT_EQ(half_brightness(0x01ffffff), 0x7e7e7eu);  // a carry bit above red does not leak in
  EXPECT_EQ(modulate_colour(0x405070, 0xffffff), 0x3f4f6fu);
  EXPECT_EQ(modulate_colour(0x405070, 0), 0u);
  EXPECT_EQ(modulate_colour(0xff8000, 0x80ff40), 0x7f7f00u);
}

TEST(Random, SequenceAndRangeFromSeedOne) {
  reset_random();
  const int32_t first[] = {41, 18467, 6334, 26500, 19169};
  for (int32_t v : first) EXPECT_EQ(lcg_next(), v);
  reset_random();
  EXPECT_DOUBLE_EQ(random_below(400.0f), 0.50048828125);  // 41 / 32768 of 400, in double
  for (int i = 0; i < 10000; ++i) {
    double r = random_below(1.5f);
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.5);
  }
}

TEST(FloatToInt, TruncatesAndWrapsInsteadOfSaturating) {
  const std::pair<double, int32_t> cases[] = {
      {5000000000.0, 705032704}, {-5000000000.0, -705032704}, {2.9, 2}, {-2.9, -2},
      {2147483648.0, INT32_MIN},  // 2^31 wraps to the sign bit
      {4294967296.0 + 7.5, 7}, {1e300, 0}, {std::nan(""), 0}};  // beyond 64 bits: no undefined conversion
  for (auto [in, out] : cases) EXPECT_EQ(float_to_int(in), out) << in;
}

TEST(CeilFixed, SmallestIntegerNotBelowToOneSixtyFiveThousandth) {
  // 2.0000001 is below 1/65536 above 2.
  const std::pair<double, int32_t> cases[] = {{0.0, 0},  {0.5, 1},   {1.0, 1},       {2.0, 2},     {2.00002, 3},
                                              {-0.5, 0}, {-1.5, -1}, {2.0000001, 2}, {399.3, 400}};
  for (auto [in, out] : cases) EXPECT_EQ(ceil_fixed(in), out) << in;
}
