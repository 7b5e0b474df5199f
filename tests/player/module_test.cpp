#include <gtest/gtest.h>

#include <cmath>

#include "player/module.h"
#include "tune.h"

namespace {

ModuleSpec two_sample_song(bool deltaCoded) {
  ModuleSpec m = tune::song({empty_pattern(4)});
  m.deltaCoded = deltaCoded;
  SampleSpec a, b;
  a.data = {10, -20, 127, -128};
  b.data = {5, 6, -7};
  InstrumentSpec i;
  i.samples = {a, b};
  m.instruments = {i};
  SampleSpec wide;
  wide.sixteenBit = true;
  wide.data = {1000, -32768, 32767, 0};
  m.instruments.push_back(tune::instrument(wide));
  return m;
}

const int8_t* sample8(const PlayerState& p, uint16_t index) {
  return reinterpret_cast<const int8_t*>(p.header.sampleData[index]);
}

TEST(ModuleImage, RejectsWrongMagicAndLeavesTablesEmpty) {
  std::vector<uint8_t> image = write_module_image(tune::song({empty_pattern(4)}));
  image[2] = 'C';
  auto state = std::make_unique<PlayerState>();
  EXPECT_FALSE(player_init(image.data(), state.get()));
  EXPECT_EQ(state->header.patterns[0], nullptr);
  EXPECT_EQ(state->header.songLength, 0u);
  EXPECT_EQ(state->masterVolume, 64);
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::BadMagic);
  // Without an accepted image the player stays stopped and renders silence.
  player_start(0);
  EXPECT_EQ(state->playing.load(), 0);
  std::vector<int32_t> mix(8, 77);
  player_render(4, mix.data());
  EXPECT_EQ(mix, std::vector<int32_t>(8, 0));
}

TEST(ModuleImage, RelocatesEveryTableEntryAndKeepsTheImageOffsets) {
  std::vector<uint8_t> image = write_module_image(two_sample_song(false));
  auto state = std::make_unique<PlayerState>();
  ASSERT_TRUE(player_init(image.data(), state.get()));
  const ModuleHeader& h = state->header;
  EXPECT_EQ(h.instruments[0], image.data() + load_u32(image.data() + InstrumentTableOffset));
  EXPECT_EQ(h.patterns[0], image.data() + load_u32(image.data() + PatternTableOffset));
  EXPECT_EQ(h.patterns[1], image.data());  // unused entries point at the image start
  EXPECT_EQ(h.sampleData[2047], image.data());
  EXPECT_EQ(load_u32(image.data() + PatternTableOffset), static_cast<uint32_t>(h.patterns[0] - image.data()));
  EXPECT_EQ(h.channelCount, 4u);
  EXPECT_EQ(h.initialSpeed, 6);
  EXPECT_EQ(h.initialTempo, 125);
  EXPECT_EQ(h.minimumPeriod, -18432);
  EXPECT_EQ(h.maximumPeriod, 24576);
}

TEST(ModuleImage, DeltaDecodingRunsAcrossSamplesAndOnlyOnce) {
  ModuleSpec spec = two_sample_song(true);
  std::vector<uint8_t> image = write_module_image(spec);
  // The second sample's first stored byte is a difference from the first sample's last value.
  uint32_t second = load_u32(image.data() + SampleTableOffset + 4);
  EXPECT_EQ(image[second], static_cast<uint8_t>(5 - (-128)));
  auto state = std::make_unique<PlayerState>();
  ASSERT_TRUE(player_init(image.data(), state.get()));
  EXPECT_EQ(state->header.flags & FlagDeltaCoded, FlagDeltaCoded);  // the copy keeps the bit
  EXPECT_EQ(load_u16(image.data() + HeaderFlags) & FlagDeltaCoded, 0);
  auto check = [&] {
    const int8_t* a = sample8(*state, 0);
    const int8_t* b = sample8(*state, 1);
    EXPECT_EQ(std::vector<int>(a, a + 4), (std::vector<int>{10, -20, 127, -128}));
    EXPECT_EQ(std::vector<int>(b, b + 3), (std::vector<int>{5, 6, -7}));
    const uint8_t* w = state->header.sampleData[2];
    std::vector<int16_t> wide;
    for (int i = 0; i < 4; ++i) wide.push_back(static_cast<int16_t>(load_u16(w + 2 * i)));
    EXPECT_EQ(wide, (std::vector<int16_t>{1000, -32768, 32767, 0}));
  };
  check();
  ASSERT_TRUE(player_init(image.data(), state.get()));
  check();
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);
}

TEST(ModuleImage, WaveTablesFollowTheirRules) {
  WaveTable w;
  build_wave_tables(w);
  EXPECT_EQ(w[0][0], 0);
  EXPECT_EQ(w[0][32], 45);
  EXPECT_EQ(w[0][64], 64);
  EXPECT_EQ(w[0][96], 45);
  EXPECT_EQ(w[0][192], -64);
  EXPECT_EQ(w[0][129], -2);
  EXPECT_EQ(w[1][0], 0);
  EXPECT_EQ(w[1][1], 1);
  EXPECT_EQ(w[1][3], 2);
  EXPECT_EQ(w[1][128], 64);
  EXPECT_EQ(w[1][129], -63);
  EXPECT_EQ(w[1][255], 0);
  EXPECT_EQ(w[2][0], -64);
  EXPECT_EQ(w[2][1], 64);
  EXPECT_EQ(w[2][128], 64);
  EXPECT_EQ(w[2][129], -64);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(w[3][i], -w[1][i]);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(QuarterSine[i], std::lround(64 * std::sin(3.14159265358979323846 * i / 128)));
}

// --- The validator ----------------------------------------------------------------------------

class Validator : public ::testing::Test {
 protected:
  ModuleSpec spec = [] {
    ModuleSpec m = tune::song({pattern_from_rows({"C-4 01 40 F06 | D-4 01", "", "=== .. .. E62"})});
    m.instruments.push_back(tune::instrument(tune::ramp_sample(64, LoopKind::PingPong, 8, 56)));
    return m;
  }();
  std::vector<uint8_t> image = write_module_image(spec);
  ImageCheck check() { return validate_module_image(image.data(), image.size()); }
  uint32_t offset(uint32_t table, uint32_t entry) { return load_u32(image.data() + table + 4 * entry); }
};

TEST_F(Validator, AcceptsWriterImagesAndRejectsEveryTruncation) {
  EXPECT_EQ(check(), ImageCheck::Ok);
  // The last sample is a ping-pong loop ending on its last frame: its turn reads two frames
  // past it, the first two of the writer's four padding bytes. Any shorter image fails.
  EXPECT_EQ(validate_module_image(image.data(), image.size() - 2), ImageCheck::Ok);
  for (size_t size = 0; size < image.size() - 2; size += (size < ModuleHeaderSize ? 997 : 1))
    EXPECT_NE(validate_module_image(image.data(), size), ImageCheck::Ok) << size;
}

TEST_F(Validator, RejectsOffsetsPastTheEnd) {
  store_u32(image.data() + PatternTableOffset + 4 * 7, static_cast<uint32_t>(image.size() - 2));
  EXPECT_EQ(check(), ImageCheck::Truncated);
  image = write_module_image(spec);
  store_u32(image.data() + InstrumentTableOffset, 0xFFFFFFF0);
  EXPECT_EQ(check(), ImageCheck::Truncated);
  image = write_module_image(spec);
  store_u32(image.data() + HeaderSampleData8Size, 0x7FFFFFFF);
  EXPECT_EQ(check(), ImageCheck::Truncated);
}

TEST_F(Validator, RejectsBadHeaderFields) {
  auto with = [&](uint32_t at, uint32_t value, int width) {
    image = write_module_image(spec);
    if (width == 1) image[at] = static_cast<uint8_t>(value);
    else if (width == 2) store_u16(image.data() + at, static_cast<uint16_t>(value));
    else store_u32(image.data() + at, value);
    return check();
  };
  EXPECT_EQ(with(HeaderChannelCount, 0, 4), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderChannelCount, 33, 4), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderInstrumentCount, 129, 4), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderInitialTempo, 0, 1), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderInitialSpeed, 0, 1), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderFlags, 8, 2), ImageCheck::BadHeader);
  EXPECT_EQ(with(HeaderSongLength, 0, 4), ImageCheck::BadOrder);
  EXPECT_EQ(with(HeaderSongLength, 257, 4), ImageCheck::BadOrder);
  EXPECT_EQ(with(HeaderRestartPosition, 1, 4), ImageCheck::BadOrder);
}

TEST_F(Validator, RejectsBadCells) {
  uint32_t pattern = offset(PatternTableOffset, 0);
  // Row 0 starts with channel 0's flag byte, note C-4 (49), instrument 1.
  ASSERT_EQ(image[pattern + 4], CellHasNote | CellHasVolume | CellHasEffect);
  image[pattern + 5] = 98;  // past key-off
  EXPECT_EQ(check(), ImageCheck::BadCell);
  image = write_module_image(spec);
  image[pattern + 4] |= 4;  // channel 4 of a 4-channel tune
  EXPECT_EQ(check(), ImageCheck::BadCell);
  image = write_module_image(spec);
  image[pattern + 4 + 6] = CellHasNote | 0;  // channel 1 cell renamed channel 0: out of order
  EXPECT_EQ(check(), ImageCheck::BadCell);

  PatternSpec extended;
  extended.rows = {{CellSpec{0, 0, 0, 0, 42, 0x12}}};  // E6 with a two-digit parameter
  spec.patterns = {extended};
  image = write_module_image(spec);
  EXPECT_EQ(check(), ImageCheck::BadCell);

  PatternSpec runaway;  // a row whose zero byte never comes
  runaway.raw = {0x21, 49, 1};
  runaway.rawRowCount = 1;
  spec.patterns = {runaway};
  image = write_module_image(spec);
  image.resize(load_u32(image.data() + HeaderSampleDataOffset));
  store_u32(image.data() + HeaderSampleData8Size, 0);
  EXPECT_EQ(check(), ImageCheck::Truncated);
}

TEST_F(Validator, RejectsSampleBoundsPastTheData) {
  uint32_t instrument = offset(InstrumentTableOffset, 1);
  uint8_t* record = image.data() + instrument + InstrumentRecordSize;
  // 64 frames and 4 padding bytes are stored: a ping-pong turn at frame 66 reads frame 67.
  store_u32(record + 4, 66);
  EXPECT_EQ(check(), ImageCheck::Ok);
  store_u32(record + 4, 67);
  EXPECT_EQ(check(), ImageCheck::Truncated);
  image = write_module_image(spec);
  record = image.data() + instrument + InstrumentRecordSize;
  store_u32(record, 64);  // loop start at the loop end
  EXPECT_EQ(check(), ImageCheck::BadSample);
  image = write_module_image(spec);
  record = image.data() + instrument + InstrumentRecordSize;
  record[8] |= SampleBackwards;
  EXPECT_EQ(check(), ImageCheck::BadSample);
  image = write_module_image(spec);
  record = image.data() + instrument + InstrumentRecordSize;
  store_u16(record + 13, 2048);
  EXPECT_EQ(check(), ImageCheck::BadSample);
  image = write_module_image(spec);
  store_u32(image.data() + instrument, 1000);  // sample count past the end
  EXPECT_EQ(check(), ImageCheck::Truncated);
}

TEST_F(Validator, RejectsBadEnvelopes) {
  uint32_t instrument = offset(InstrumentTableOffset, 0);
  uint8_t* envelope = image.data() + instrument + InstrumentVolumeEnvelope;
  envelope[0] = 12;
  EXPECT_EQ(check(), ImageCheck::BadEnvelope);
  envelope[0] = 1;
  store_u16(envelope + 4, 0);  // a segment of no length before the last point
  EXPECT_EQ(check(), ImageCheck::BadEnvelope);
  image = write_module_image(spec);
  envelope = image.data() + instrument + InstrumentVolumeEnvelope;
  envelope[0] = 1;
  envelope[2] = 5;
  envelope[3] = 1;  // loop back to a point past the end
  EXPECT_EQ(check(), ImageCheck::BadEnvelope);
}

TEST_F(Validator, RejectsRecordsInsideDeltaCodedData) {
  spec.deltaCoded = true;
  image = write_module_image(spec);
  ASSERT_EQ(check(), ImageCheck::Ok);
  store_u32(image.data() + HeaderSampleDataOffset, offset(PatternTableOffset, 0));
  store_u32(image.data() + HeaderSampleData8Size, 8);
  EXPECT_EQ(check(), ImageCheck::BadPattern);
}

}  // namespace
