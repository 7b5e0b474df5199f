#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codecs/samples.h"
#include "test_tunes.h"
#include "tools/samplecodec/tune_pack.h"

TEST(TunePack, StoredPartEndsAfterTheTwoZeroSamplesAndAssemblyFollowsTheShow) {
  const std::vector<uint8_t> image = synthetic_tune_image(7);  // area at 0x2750 + 21, 2811 samples
  const size_t length = 0x2750 + 21 + 2;
  const TunePackResult r = pack_tune(image);
  ASSERT_EQ(r.error, TunePackError::None) << r.message;
  const PackedTune& t = r.tune;
  ASSERT_EQ(t.stored.size(), length);
  EXPECT_TRUE(std::equal(t.stored.begin(), t.stored.end(), image.begin()));
  EXPECT_GE(t.samples.decodedCount, image.size() - length + 2);  // the 8-bit data size fits the decoded count
  EXPECT_EQ(t.used, length + t.samples.decodedCount);
  EXPECT_TRUE(std::equal(t.stored.begin(), t.stored.end(), t.image.begin()));
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
  const std::vector<uint8_t> image = synthetic_tune_image(1);
  const auto refused = [&](size_t at, uint8_t value, bool append = false) {
    std::vector<uint8_t> bad = image;
    if (append) bad.push_back(value); else bad[at] = value;
    return pack_tune(bad).error;
  };
  EXPECT_EQ(pack_tune(std::span(image).first(100)).error, TunePackError::NotAnImage);
  EXPECT_EQ(refused(3, 'X'), TunePackError::NotAnImage);
  EXPECT_EQ(refused(0x1A, 4), TunePackError::DeltaCoded);
  EXPECT_EQ(refused(0x24, 1), TunePackError::SixteenBitData);
  EXPECT_EQ(refused(0x20, 0xFF), TunePackError::BadSampleArea);   // past the image's end
  EXPECT_EQ(refused(0, 0, true), TunePackError::None);            // zero padding after the area
  EXPECT_EQ(refused(0, 1, true), TunePackError::BadSampleArea);   // data that would be lost
  EXPECT_EQ(refused(0x2750 + 3 + 1, 5), TunePackError::AreaStartNotZero);
  // Too large: the message names the excess.
  std::vector<uint8_t> big(image.begin(), image.begin() + 0x2750);
  big.resize(TuneImageBytes + 10, 0);
  const uint32_t size8 = uint32_t(big.size() - 0x2750);
  std::memcpy(&big[0x1C], "\x50\x27\0\0", 4);
  std::memcpy(&big[0x20], &size8, 4);
  const TunePackResult r = pack_tune(big, {1000.0});
  ASSERT_EQ(r.error, TunePackError::TooLarge);
  const uint64_t used = 0x2752 + decoded_sample_count(blocks_for_samples(size8));
  EXPECT_NE(r.message.find(std::to_string(used - TuneImageBytes) + " more than"), std::string::npos) << r.message;
}
