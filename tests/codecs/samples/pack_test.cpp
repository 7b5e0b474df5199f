#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/tune_pack.h"

namespace {

constexpr size_t HeaderBlock = 0x2750;

void set_u32(std::vector<uint8_t>& image, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A module image with an empty header block apart from the magic and the sample-area
// fields, followed by `samples` 8-bit samples of a decaying tone after two zero samples.
std::vector<uint8_t> make_image(size_t samples) {
  std::vector<uint8_t> image(HeaderBlock + 2 + samples, 0);
  image[0] = 'Q', image[1] = 'K', image[2] = 'B';
  for (size_t i = 0x50; i < HeaderBlock; ++i) image[i] = static_cast<uint8_t>(i * 7);  // stands for the tables
  set_u32(image, 0x1C, HeaderBlock);
  set_u32(image, 0x20, static_cast<uint32_t>(2 + samples));
  for (size_t i = 0; i < samples; ++i) {
    const double v = 100.0 * std::exp(-double(i) / 4000.0) * std::sin(2.0 * std::numbers::pi * double(i) / 23.7);
    image[HeaderBlock + 2 + i] = static_cast<uint8_t>(static_cast<int8_t>(std::lround(v)));
  }
  return image;
}

}  // namespace

TEST(TunePack, StoredPartEndsAfterTheTwoZeroSamplesAndAssemblyFollowsTheShow) {
  const std::vector<uint8_t> image = make_image(3000);
  const TunePackResult r = pack_tune(image);
  ASSERT_EQ(r.error, TunePackError::None) << r.message;
  const PackedTune& t = r.tune;
  const size_t length = HeaderBlock + 2;
  ASSERT_EQ(t.stored.size(), length);
  EXPECT_TRUE(std::equal(t.stored.begin(), t.stored.end(), image.begin()));
  EXPECT_GE(t.samples.decodedCount, 3002u);  // the 8-bit data size stays within the decoded count
  EXPECT_EQ(t.used, length + t.samples.decodedCount);
  ASSERT_EQ(t.image.size(), TuneImageBytes);
  EXPECT_TRUE(std::equal(t.stored.begin(), t.stored.end(), t.image.begin()));
  std::vector<int8_t> decoded(t.samples.decodedCount);
  decode_samples(TheSampleDecoder, t.samples.stream.data(), decoded.data());
  EXPECT_EQ(0, std::memcmp(decoded.data(), t.image.data() + length, decoded.size()));
  for (size_t i = t.used; i < TuneImageBytes; ++i) ASSERT_EQ(t.image[i], 0) << i;
  double signal = 0.0, noise = 0.0;
  for (size_t i = 0; i < 3000; ++i) {
    const double s = static_cast<int8_t>(image[length + i]);
    signal += s * s;
    noise += (decoded[i] - s) * (decoded[i] - s);
  }
  EXPECT_GT(10.0 * std::log10(signal / noise), 15.0);
  EXPECT_EQ(describe_packed_tune(t).rfind("stored 10066  blocks ", 0), 0u) << describe_packed_tune(t);
}

TEST(TunePack, RefusesWhatTheShowCannotCarry) {
  const auto refused = [](std::vector<uint8_t> image) { return pack_tune(image).error; };
  std::vector<uint8_t> image = make_image(100);
  EXPECT_EQ(refused(std::vector<uint8_t>(image.begin(), image.begin() + 100)), TunePackError::NotAnImage);
  std::vector<uint8_t> bad = image;
  bad[3] = 'X';
  EXPECT_EQ(refused(bad), TunePackError::NotAnImage);
  bad = image;
  bad[0x1A] = 4;
  EXPECT_EQ(refused(bad), TunePackError::DeltaCoded);
  bad = image;
  set_u32(bad, 0x24, 10);
  EXPECT_EQ(refused(bad), TunePackError::SixteenBitData);
  bad = image;
  set_u32(bad, 0x20, 103);
  EXPECT_EQ(refused(bad), TunePackError::BadSampleArea);
  bad = image;
  bad.push_back(0);
  EXPECT_EQ(refused(bad), TunePackError::None);  // zero padding after the area is harmless
  bad.push_back(1);
  EXPECT_EQ(refused(bad), TunePackError::BadSampleArea);
  bad = image;
  bad[HeaderBlock + 1] = 5;
  EXPECT_EQ(refused(bad), TunePackError::AreaStartNotZero);
}

TEST(TunePack, RefusesAnImageOverItsBufferNamingTheExcess) {
  const size_t samples = TuneImageBytes - HeaderBlock;  // the stored part alone leaves too little room
  const TunePackResult r = pack_tune(make_image(samples), {1000.0});
  ASSERT_EQ(r.error, TunePackError::TooLarge);
  const uint64_t used = HeaderBlock + 2 + decoded_sample_count(blocks_for_samples(samples + 2));
  EXPECT_NE(r.message.find(std::to_string(used - TuneImageBytes) + " more than"), std::string::npos) << r.message;
}

TEST(TunePack, PackedFilesReadBackAndBrokenOnesAreRefused) {
  const TunePackResult r = pack_tune(make_image(700));
  ASSERT_EQ(r.error, TunePackError::None);
  const std::vector<uint8_t> file = packed_tune_file(r.tune);
  const std::optional<PackedTuneView> view = read_packed_tune_file(file);
  ASSERT_TRUE(view.has_value());
  EXPECT_TRUE(std::equal(view->stored.begin(), view->stored.end(), r.tune.stored.begin(), r.tune.stored.end()));
  EXPECT_TRUE(std::equal(view->stream.begin(), view->stream.end(), r.tune.samples.stream.begin(),
                         r.tune.samples.stream.end()));
  EXPECT_FALSE(read_packed_tune_file(std::span(file).first(file.size() - 1)).has_value());
  std::vector<uint8_t> bad = file;
  bad[8] = 'X';  // the stored part's magic
  EXPECT_FALSE(read_packed_tune_file(bad).has_value());
  bad = file;
  bad[8 + r.tune.stored.size()] += 16;  // the stream's block count: its groups no longer fit
  EXPECT_FALSE(read_packed_tune_file(bad).has_value());
}

TEST(TunePack, TuneDataPadsStoredPartsAndAlignsStreams) {
  std::vector<std::vector<uint8_t>> stored, streams;
  std::vector<PackedTuneView> views;
  for (int i = 0; i < TuneCount; ++i) {
    stored.push_back(std::vector<uint8_t>(40 + size_t(i), static_cast<uint8_t>(i + 1)));
    streams.push_back(std::vector<uint8_t>(17 + 3 * size_t(i), static_cast<uint8_t>(0x80 + i)));
  }
  for (int i = 0; i < TuneCount; ++i) views.push_back({stored[size_t(i)], streams[size_t(i)]});
  const TuneDataLayout layout = lay_out_tune_data(std::span<const PackedTuneView, TuneCount>(views));
  const std::vector<uint8_t>& b = layout.bytes;
  uint32_t at = 0;
  for (int i = 0; i < TuneCount; ++i) {
    EXPECT_EQ(layout.storedOffset[size_t(i)], at);
    EXPECT_EQ(layout.storedLength[size_t(i)], stored[size_t(i)].size());
    EXPECT_TRUE(std::equal(stored[size_t(i)].begin(), stored[size_t(i)].end(), b.begin() + at));
    const uint32_t padded = (at + uint32_t(stored[size_t(i)].size()) + 3) & ~3u;
    for (uint32_t p = at + uint32_t(stored[size_t(i)].size()); p < padded; ++p) EXPECT_EQ(b[p], 0);
    const uint32_t length = b[padded] | b[padded + 1] << 8 | b[padded + 2] << 16 | uint32_t(b[padded + 3]) << 24;
    EXPECT_EQ(length, stored[size_t(i)].size());
    at = padded + 4;
  }
  for (int i = 0; i < TuneCount; ++i) {
    EXPECT_EQ(layout.streamOffset[size_t(i)], (at + 3) & ~3u);
    at = layout.streamOffset[size_t(i)];
    EXPECT_TRUE(std::equal(streams[size_t(i)].begin(), streams[size_t(i)].end(), b.begin() + at));
    at += uint32_t(streams[size_t(i)].size());
  }
  const std::string source = tune_data_source(layout);
  EXPECT_NE(source.find("const StoredTune StoredTunes[TuneCount] = {"), std::string::npos);
  EXPECT_NE(source.find("{TuneData + 0, 40, TuneData + " + std::to_string(layout.streamOffset[0]) + "},"),
            std::string::npos);
}
