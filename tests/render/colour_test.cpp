#include <gtest/gtest.h>

#include <cmath>
#include <vector>
#include <utility>

#include "render/framebuffer.h"

// One pixel, and runs of pixels (four at a time and the rest one by one), add alike.
TEST(SaturatingAdd, CarriesAndSaturatesPerChannel) {
  const uint32_t cases[][3] = {
      {0x00fe0000, 0x00040000, 0x01ff0000},  // red saturates, bit 24 set
      {0xfe, 0x04, 0x1ff},                   // blue saturates, green + 1
      {0x102030, 0x020406, 0x122436},        // no carry: plain sum
  };
  for (const auto& [a, b, sum] : cases) {
    EXPECT_EQ(saturating_add(a, b), sum) << std::hex << a << " + " << b;
    // One group of four and two pixels past it; the pixel after the run stays as it was.
    std::vector<uint32_t> run(7, a), expected(7, sum);
    run[6] = expected[6] = b;
    add_colour_to_run(run.data(), 6, b);
    EXPECT_EQ(run, expected) << std::hex << a << " + " << b;
  }
}

TEST(ChannelScaling, HalfAndQuarterStayPrepared) {
  EXPECT_EQ(half_brightness(0xffffff), 0x7e7e7eu);
  EXPECT_EQ(quarter_brightness(0xffffff), 0x3e3e3eu);
  EXPECT_EQ(half_brightness(0x01ffffff), 0x7e7e7eu);  // a carry bit above red does not leak in
}

TEST(FloatToInt, TruncatesAndWrapsInsteadOfSaturating) {
  const std::pair<double, int32_t> cases[] = {
      {5000000000.0, 705032704}, {-5000000000.0, -705032704}, {-2.9, -2},
      {2147483648.0, INT32_MIN},  // 2^31 wraps to the sign bit
      {1e300, 0}, {std::nan(""), 0}};  // beyond 64 bits: no undefined conversion
  for (auto [in, out] : cases) EXPECT_EQ(float_to_int(in), out) << in;
}

TEST(CeilFixed, SmallestIntegerNotBelowToOneSixtyFiveThousandth) {
  // 2.0000001 is below 1/65536 above 2.
  const std::pair<double, int32_t> cases[] = {{0.0, 0},   {1.0, 1},       {2.00002, 3},
                                              {-1.5, -1}, {2.0000001, 2}, {399.3, 400}};
  for (auto [in, out] : cases) EXPECT_EQ(ceil_fixed(in), out) << in;
}
