// Truncated and corrupted streams end cleanly with what was decoded so far.
#include <gtest/gtest.h>

#include <random>

#include "codecs/picture.h"
#include "codecs/pictures/data_files.h"

namespace {

constexpr uint32_t Untouched = 0xDEADBEEF;

struct Decoded {
  int accepted = 0;
  std::vector<uint32_t> pixels;
};

// Decodes into a w x h buffer followed by a guard band that must stay untouched.
Decoded decode(const std::vector<uint8_t>& stream, size_t length, int w, int h) {
  // A copy of exactly `length` bytes, so that the sanitizers see any read beyond it.
  std::vector<uint8_t> cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
  Decoded d;
  d.pixels.assign(static_cast<size_t>(w * h) + 256, Untouched);
  PictureDecoder decoder;
  d.accepted = parse_picture_headers(decoder, cut.data(), cut.size());
  if (d.accepted) decode_picture(decoder, d.pixels.data(), w, h);
  for (size_t i = static_cast<size_t>(w * h); i < d.pixels.size(); ++i) EXPECT_EQ(d.pixels[i], Untouched);
  d.pixels.resize(static_cast<size_t>(w * h));
  return d;
}

// How many whole macroblocks, in picture order, equal the complete decoding; every other
// macroblock must be untouched.
int complete_macroblocks(const Decoded& d, const Decoded& full, int w, int h) {
  int complete = 0;
  bool gap = false;
  for (int my = 0; my < h / 16; ++my) {
    for (int mx = 0; mx < w / 16; ++mx) {
      bool same = true, untouched = true;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          const size_t i = static_cast<size_t>((16 * my + y) * w + 16 * mx + x);
          same = same && d.pixels[i] == full.pixels[i];
          untouched = untouched && d.pixels[i] == Untouched;
        }
      }
      EXPECT_TRUE(same || untouched) << "macroblock " << mx << "," << my;
      if (same && !gap) ++complete;
      if (untouched) gap = true;
    }
  }
  return complete;
}

TEST(Damage, TruncatedStreamsKeepWhatWasDecoded) {
  for (const ConformanceCase& c : {ConformanceCase{"ff-stripes-q2-slices", 96, 64},
                                  ConformanceCase{"our-gradient-q8-adaptive", 160, 128}}) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = read_data_file("streams/" + c.name + ".m1v");
    const Decoded full = decode(stream, stream.size(), c.width, c.height);
    ASSERT_EQ(full.accepted, 1);
    ASSERT_EQ(complete_macroblocks(full, full, c.width, c.height), c.width * c.height / 256);
    int previous = 0;
    for (size_t length = 0; length < stream.size(); length += 97) {
      const Decoded d = decode(stream, length, c.width, c.height);
      const int complete = complete_macroblocks(d, full, c.width, c.height);
      EXPECT_GE(complete, previous) << "cut at " << length;
      previous = complete;
    }
    EXPECT_GT(previous, 0);
  }
}

TEST(Damage, CorruptedStreamsEndCleanly) {
  const std::vector<uint8_t> stream = read_data_file("streams/ff-gradient-q2-slices.m1v");
  ASSERT_FALSE(stream.empty());
  std::mt19937 random(11);
  for (int n = 0; n < 300; ++n) {
    std::vector<uint8_t> damaged = stream;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    decode(damaged, damaged.size(), 160, 128);
  }
  // Random bytes after a valid header: slices of garbage.
  for (int n = 0; n < 100; ++n) {
    std::vector<uint8_t> damaged(stream.begin(), stream.begin() + 40);
    for (int i = 0; i < 400; ++i) damaged.push_back(static_cast<uint8_t>(random()));
    decode(damaged, damaged.size(), 160, 128);
  }
}

}  // namespace
