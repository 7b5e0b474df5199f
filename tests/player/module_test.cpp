#include <gtest/gtest.h>

#include <functional>

#include "player/module.h"
#include "tune.h"

namespace {

using tune::Values;

TEST(ModuleImage, WrongMagicOrTempoZeroLeavesThePlayerStoppedAndSilent) {
  for (bool tempoZero : {false, true}) {
    ModuleDef def = tune::song({pattern_from_rows({"C-4 01"})});
    def.tempo = tempoZero ? 0 : 125;
    std::vector<uint8_t> image = write_module_image(def);
    if (!tempoZero) image[2] = 'C';
    EXPECT_EQ(validate_module_image(image.data(), image.size()), tempoZero ? ImageCheck::BadHeader : ImageCheck::BadMagic);
    auto state = std::make_unique<PlayerState>();
    EXPECT_EQ(player_init(image.data(), state.get()), tempoZero);
    player_start(0);
    EXPECT_EQ(state->playing.load(), 0);
    std::vector<int32_t> mix(8, 77);
    player_render(4, mix.data());
    EXPECT_EQ(mix, std::vector<int32_t>(8, 0));
  }
}

TEST(ModuleImage, DeltaDecodesAcrossSamplesOnlyOnce) {
  ModuleDef def = tune::song({empty_pattern(4)});
  def.deltaCoded = true;
  SampleDef a, b, wide;
  a.data = {10, -20, 127, -128};
  b.data = {5, 6, -7};
  wide.sixteenBit = true;
  wide.data = {1000, -32768, 32767, 0};
  def.instruments[0].samples = {a, b};
  def.instruments.push_back(tune::instrument(wide));
  std::vector<uint8_t> image = write_module_image(def);
  // The second sample's first stored byte is a difference from the first sample's last value.
  EXPECT_EQ(image[load_u32(image.data() + SampleTableOffset + 4)], static_cast<uint8_t>(5 - (-128)));

  auto state = std::make_unique<PlayerState>();
  const ModuleHeader& h = state->header;
  for (int init = 0; init < 2; ++init) {  // the second init must not decode again
    ASSERT_TRUE(player_init(image.data(), state.get()));
    const int8_t* s = reinterpret_cast<const int8_t*>(h.sampleData[0]);
    EXPECT_EQ(Values(s, s + 4), (Values{10, -20, 127, -128}));
    s = reinterpret_cast<const int8_t*>(h.sampleData[1]);
    EXPECT_EQ(Values(s, s + 3), (Values{5, 6, -7}));
    Values w;
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<int16_t>(load_u16(h.sampleData[2] + 2 * i)));
    EXPECT_EQ(w, (Values{1000, -32768, 32767, 0}));
  }
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);
}

// --- The validator -----------------------------------------------------------------------------

struct Validator : ::testing::Test {
  ModuleDef def = [] {
    ModuleDef m = tune::song({pattern_from_rows({"C-4 01 40 F06 | D-4 01", "", "=== .. .. E62"})});
    m.instruments.push_back(tune::instrument(tune::ramp_sample(64, LoopKind::PingPong, 8, 56)));
    return m;
  }();
  std::vector<uint8_t> image = write_module_image(def);
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

TEST_F(Validator, RejectsEachBadField) {
  const uint32_t size = static_cast<uint32_t>(image.size()), pattern = offset(PatternTableOffset, 0);
  const uint32_t envelope = offset(InstrumentTableOffset, 0) + InstrumentVolumeEnvelope;
  const uint32_t second = offset(InstrumentTableOffset, 1), sample = second + InstrumentRecordSize;
  // Row 0 starts with channel 0's flag byte, then note C-4 (49) and instrument 1.
  ASSERT_EQ(image[pattern + 4], CellHasNote | CellHasVolume | CellHasEffect);
  const std::pair<std::function<void(uint8_t*)>, ImageCheck> cases[] = {
      {[](uint8_t* i) { store_u32(i + HeaderChannelCount, 33); }, ImageCheck::BadHeader},
      {[](uint8_t* i) { i[HeaderInitialTempo] = 0; }, ImageCheck::BadHeader},
      {[](uint8_t* i) { store_u32(i + HeaderSongLength, 257); }, ImageCheck::BadOrder},
      // Offsets and sizes past the end.
      {[&](uint8_t* i) { store_u32(i + PatternTableOffset + 4 * 7, size - 2); }, ImageCheck::Truncated},
      {[&](uint8_t* i) { store_u32(i + second, 1000); }, ImageCheck::Truncated},  // sample count
      // A cell out of order: channel 1's cell renamed 0.
      {[&](uint8_t* i) { i[pattern + 10] = CellHasNote; }, ImageCheck::BadCell},
      // Samples: 64 frames and 4 padding bytes are stored, so a ping-pong turn at frame 66
      // reads frame 67 and fits; one more does not. Loop start at the end, a data index past
      // the table.
      {[&](uint8_t* i) { store_u32(i + sample + 4, 66); }, ImageCheck::Ok},
      {[&](uint8_t* i) { store_u32(i + sample + 4, 67); }, ImageCheck::Truncated},
      {[&](uint8_t* i) { store_u32(i + sample, 64); }, ImageCheck::BadSample},
      {[&](uint8_t* i) { store_u16(i + sample + 13, 2048); }, ImageCheck::BadSample},
      // Envelopes: too many points, a loop back to a point past the end.
      {[&](uint8_t* i) { i[envelope] = 12; }, ImageCheck::BadEnvelope},
      {[&](uint8_t* i) { i[envelope] = 1, i[envelope + 2] = 5, i[envelope + 3] = 1; }, ImageCheck::BadEnvelope},
  };
  for (size_t c = 0; c < std::size(cases); ++c) {
    image = write_module_image(def);
    cases[c].first(image.data());
    EXPECT_EQ(check(), cases[c].second) << "case " << c;
  }
}

TEST_F(Validator, RejectsRecordsInsideDeltaCodedDataAndBadPatterns) {
  def.deltaCoded = true;
  image = write_module_image(def);
  ASSERT_EQ(check(), ImageCheck::Ok);
  store_u32(image.data() + HeaderSampleDataOffset, offset(PatternTableOffset, 0));
  store_u32(image.data() + HeaderSampleData8Size, 8);
  EXPECT_EQ(check(), ImageCheck::BadPattern);

  PatternDef runaway;  // a row whose zero byte never comes
  runaway.raw = {0x21, 49, 1};
  runaway.rawRowCount = 1;
  def.patterns = {runaway};
  def.deltaCoded = false;
  image = write_module_image(def);
  image.resize(load_u32(image.data() + HeaderSampleDataOffset));
  store_u32(image.data() + HeaderSampleData8Size, 0);
  EXPECT_EQ(check(), ImageCheck::Truncated);
}

}  // namespace
