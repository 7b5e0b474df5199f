#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/tune_pack.h"

namespace {

// A module image of only the magic and the sample-area fields, stand-in instrument bytes from
// 0x2750 up to the area at `area`, and an area of two zero samples and `samples` of two tones.
std::vector<uint8_t> tune_image(size_t area, size_t samples) {
  std::vector<uint8_t> image(area + 2 + samples, 0);
  std::memcpy(image.data(), "QKB", 3);
  const uint32_t fields[] = {static_cast<uint32_t>(area), static_cast<uint32_t>(2 + samples)};
  std::memcpy(&image[0x1C], fields, sizeof fields);  // little-endian, as the image is
  for (size_t i = 0x2750; i < area; ++i) image[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < samples; ++i)
    image[area + 2 + i] = static_cast<uint8_t>(std::lround(60 * std::sin(i / 2.5) + 30 * std::sin(i / 0.5)));
  return image;
}

}  // namespace

TEST(TunePack, StoredPartEndsAfterTheTwoZeroSamplesAndAssemblyFollowsTheShow) {
  const std::vector<uint8_t> image = tune_image(0x2750 + 21, 2811);
  const size_t length = 0x2750 + 21 + 2;
  const TunePackResult r = pack_tune(image);
  ASSERT_EQ(r.error, TunePackError::None) << r.message;
  const PackedTune& t = r.tune;
  ASSERT_EQ(t.stored.size(), length);
  EXPECT_TRUE(std::equal(t.stored.begin(), t.stored.end(), image.begin()));
  EXPECT_GE(t.samples.decodedCount, image.size() - length + 2);  // the 8-bit data size fits the decoded count
  std::vector<int8_t> decoded(t.samples.decodedCount);
  decode_samples(TheSampleDecoder, t.samples.stream.data(), decoded.data());
  EXPECT_EQ(0, std::memcmp(decoded.data(), t.image.data() + length, decoded.size()));
  EXPECT_EQ(std::count(t.image.begin() + int64_t(t.used), t.image.end(), 0), int64_t(TuneImageBytes - t.used));

  // A packed file reads back (checked end to end), unless cut or its stream's block count is off.
  const std::vector<uint8_t> file = packed_tune_file(t);
  ASSERT_TRUE(read_packed_tune_file(file).has_value());
  EXPECT_FALSE(read_packed_tune_file(std::span(file).first(file.size() - 1)).has_value());
  std::vector<uint8_t> bad = file;
  bad[8 + t.stored.size()] += 16;
  EXPECT_FALSE(read_packed_tune_file(bad).has_value());
}

TEST(TunePack, RefusesWhatTheShowCannotCarry) {
  const std::vector<uint8_t> image = tune_image(0x2753, 411);
  const auto refused = [&](size_t at, uint8_t value, bool append = false) {
    std::vector<uint8_t> bad = image;
    if (append) bad.push_back(value); else bad[at] = value;
    return pack_tune(bad).error;
  };
  EXPECT_EQ(pack_tune(std::span(image).first(100)).error, TunePackError::NotAnImage);
  EXPECT_EQ(refused(0x1A, 4), TunePackError::DeltaCoded);
  EXPECT_EQ(refused(0x24, 1), TunePackError::SixteenBitData);
  EXPECT_EQ(refused(0x20, 0xFF), TunePackError::BadSampleArea);   // past the image's end
  EXPECT_EQ(refused(0, 0, true), TunePackError::None);            // zero padding after the area
  EXPECT_EQ(refused(0, 1, true), TunePackError::BadSampleArea);   // data that would be lost
  EXPECT_EQ(refused(0x2753 + 1, 5), TunePackError::AreaStartNotZero);
  // Too large, and the message names the excess: 399546 bytes of 8-bit data take the fewest
  // blocks of 32 with 32 n - 480 >= 399546, 12501, which decode 399552 samples; after the
  // 0x2752 stored bytes that is 409618 bytes, 18 more than the tune's buffer.
  const TunePackResult r = pack_tune(tune_image(0x2750, 399544), {1000.0});
  ASSERT_EQ(r.error, TunePackError::TooLarge);
  EXPECT_NE(r.message.find("18 more than"), std::string::npos) << r.message;
}
