// Import of extended modules built by the tests themselves.
#include <gtest/gtest.h>

#include "player/effects.h"
#include "player/pitch.h"
#include "player/xm_import.h"
#include "tune.h"
#include "xm_writer.h"

namespace {

xm::Song small_song() {
  xm::Song s;
  s.channels = 2;
  s.speed = 4;
  s.bpm = 140;
  s.orders = {1, 0, 1};
  s.restart = 1;
  xm::Pattern a, b;
  a.rows = 2;
  a.cells = {{49, 1, 0x30, 0x0F, 0x05}, {97, 0, 0, 0, 0}, {0, 0, 0, 14, 0x62}, {50, 2, 0xF4, 3, 0x10}};
  b.rows = 3;
  b.cells = {{61, 1, 0, 0, 0}, {0, 0, 0xC8, 0x0A, 0x01}};
  s.patterns = {a, b};

  xm::Instrument i;
  xm::Sample narrow;
  narrow.data = {0, 50, 100, 127, -128, -5, 3, 9};
  narrow.loopType = 1;
  narrow.loopStart = 2;
  narrow.loopLength = 4;
  narrow.relativeNote = -12;
  narrow.finetune = 16;
  narrow.volume = 40;
  narrow.panning = 60;
  xm::Sample wide;
  wide.sixteenBit = true;
  wide.data = {1000, -32768, 32767, 0, 12};
  wide.loopType = 2;
  wide.loopStart = 1;
  wide.loopLength = 3;
  i.samples = {narrow, wide};
  for (int n = 60; n < 96; ++n) i.keyMap[n] = 1;
  i.volume = {{{0, 0}, {4, 64}, {10, 32}, {20, 48}}, 1, 2, 3, 7};
  i.panning = {{{0, 32}, {5, 0}}, 0, 0, 0, 1};
  i.vibratoType = 1;
  i.vibratoSweep = 10;
  i.vibratoDepth = 3;
  i.vibratoRate = 20;
  i.fadeout = 0x400;
  xm::Instrument empty;
  s.instruments = {i, empty};
  return s;
}

XmImport import(const std::vector<uint8_t>& file) {
  return import_xm(file.data(), file.size());
}

TEST(XmImport, HeaderOrdersAndFrequencyTables) {
  xm::Song s = small_song();
  XmImport r = import(xm::write(s));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(validate_module_image(r.image.data(), r.image.size()), ImageCheck::Ok);
  const uint8_t* h = r.image.data();
  EXPECT_EQ(load_u32(h + HeaderChannelCount), 2u);
  EXPECT_EQ(load_u32(h + HeaderSongLength), 3u);
  EXPECT_EQ(load_u32(h + HeaderRestartPosition), 1u);
  EXPECT_EQ(load_u32(h + HeaderInstrumentCount), 2u);
  EXPECT_EQ(h[HeaderInitialSpeed], 4);
  EXPECT_EQ(h[HeaderInitialTempo], 140);
  EXPECT_EQ(load_u16(h + HeaderFlags), FlagLinearPeriods);
  EXPECT_EQ(h[OrderTableOffset + 0], 1);
  EXPECT_EQ(static_cast<int32_t>(load_u32(h + HeaderMinimumPeriod)), -18432);

  s.linear = false;
  r = import(xm::write(s));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(load_u16(r.image.data() + HeaderFlags), 0);
  EXPECT_EQ(static_cast<int32_t>(load_u32(r.image.data() + HeaderMaximumPeriod)), 438272);
}

TEST(XmImport, CellsMapOntoTheImage) {
  XmImport r = import(xm::write(small_song()));
  ASSERT_TRUE(r.ok) << r.error;
  const std::vector<std::vector<CellDef>>& rows = r.def.patterns[0].rows;
  ASSERT_EQ(rows.size(), 2u);
  ASSERT_EQ(rows[0].size(), 2u);
  EXPECT_EQ(rows[0][0].note, 49);
  EXPECT_EQ(rows[0][0].instrument, 1);
  EXPECT_EQ(rows[0][0].volume, 0x30);
  EXPECT_EQ(rows[0][0].effect, Effect::SpeedTempo);
  EXPECT_EQ(rows[0][0].parameter, 5);
  EXPECT_EQ(rows[0][1].note, NoteKeyOff);
  EXPECT_EQ(rows[0][1].effect, -1);  // 000 is no effect
  EXPECT_EQ(rows[1][0].effect, Effect::PatternLoop);
  EXPECT_EQ(rows[1][0].parameter, 2);
  EXPECT_EQ(rows[1][1].volume, 0xF4);
  EXPECT_EQ(rows[1][1].effect, Effect::TonePorta);
  EXPECT_EQ(r.def.patterns[1].rows.size(), 3u);
}

TEST(XmImport, UnsupportedEffectsAreNamedAndDropped) {
  xm::Song s = small_song();
  s.patterns[0].cells[2] = {0, 0, 0, 35, 0x12};  // Z12
  s.patterns[0].cells[3] = {0, 0, 0, 40, 0x01};  // no such effect
  XmImport r = import(xm::write(s));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(r.warnings[0], "pattern 0 row 1 channel 0: effect Z12 is not supported; dropped");
  EXPECT_EQ(r.warnings[1], "pattern 0 row 1 channel 1: effect number 40 is not defined; dropped");
  EXPECT_TRUE(r.def.patterns[0].rows[1].empty());
}

TEST(XmImport, SamplesLoopsAndPitch) {
  XmImport r = import(xm::write(small_song()));
  ASSERT_TRUE(r.ok) << r.error;
  const InstrumentDef& i = r.def.instruments[0];
  ASSERT_EQ(i.samples.size(), 2u);
  const SampleDef& narrow = i.samples[0];
  EXPECT_EQ(narrow.data, (std::vector<int16_t>{0, 50, 100, 127, -128, -5, 3, 9}));
  EXPECT_EQ(narrow.loop, LoopKind::Forward);
  EXPECT_EQ(narrow.loopStart, 2u);
  EXPECT_EQ(narrow.loopLength, 4u);
  EXPECT_EQ(narrow.pitchOffset, -12 * 256 + 32);
  EXPECT_EQ(narrow.volume, 40);
  EXPECT_EQ(narrow.panning, 60);
  const SampleDef& wide = i.samples[1];
  EXPECT_TRUE(wide.sixteenBit);
  EXPECT_EQ(wide.data, (std::vector<int16_t>{1000, -32768, 32767, 0, 12}));
  EXPECT_EQ(wide.loop, LoopKind::PingPong);
  EXPECT_EQ(wide.loopStart, 1u);
  EXPECT_EQ(wide.loopLength, 3u);
  EXPECT_EQ(i.keyMap[60], 1);
  EXPECT_EQ(i.fadeout, 0x400);
  EXPECT_EQ(i.vibratoWaveform, 2);  // the format's square is our table 2
  EXPECT_EQ(i.vibratoSweep, 10);
  EXPECT_TRUE(r.def.instruments[1].samples.empty());

  // The instrument plays its samples from the image at their pitch.
  std::vector<uint8_t> image = r.image;
  auto state = std::make_unique<PlayerState>();
  ASSERT_TRUE(player_init(image.data(), state.get()));
  player_start(0);
  player_tick(*state);  // position 0 plays pattern 1: C-5 with instrument 1
  EXPECT_EQ(state->channels[0].period, note_period(true, 61, 0));
  EXPECT_EQ(state->channels[0].boundAhead, 4u);  // sample 1 (ping-pong 1..4)
  EXPECT_EQ(state->channels[0].voiceFlags, Sample16Bit | SamplePingPongLoop);
}

TEST(XmImport, EnvelopesBecomeSegments) {
  XmImport r = import(xm::write(small_song()));
  ASSERT_TRUE(r.ok) << r.error;
  const EnvelopeDef& v = r.def.instruments[0].volumeEnvelope;
  EXPECT_EQ(v.points, (std::vector<std::pair<uint16_t, uint16_t>>{{4, 0}, {6, 64}, {10, 32}, {0, 48}}));
  EXPECT_EQ(v.sustain, 1);
  EXPECT_EQ(v.loopStart, 2);
  EXPECT_EQ(v.loopEnd, 3);
  const EnvelopeDef& p = r.def.instruments[0].panningEnvelope;
  EXPECT_EQ(p.points, (std::vector<std::pair<uint16_t, uint16_t>>{{5, 32}, {0, 0}}));
  EXPECT_EQ(p.sustain, EnvelopeNone);  // sustain and loop bits clear
  EXPECT_EQ(p.loopEnd, EnvelopeNone);
  // The image holds them as written.
  const uint8_t* ins = r.image.data() + load_u32(r.image.data() + InstrumentTableOffset);
  EXPECT_EQ(ins[InstrumentVolumeEnvelope], 3);
  EXPECT_EQ(load_u16(ins + InstrumentVolumeEnvelope + 4 + 4), 6);

  xm::Song s = small_song();
  s.instruments[0].volume.points[2].first = 4;  // not moving forward
  s.instruments[0].volume.loopStart = 3;
  s.instruments[0].volume.loopEnd = 2;
  r = import(xm::write(s));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(r.def.instruments[0].volumeEnvelope.points[1].first, 1);
  EXPECT_EQ(r.def.instruments[0].volumeEnvelope.loopEnd, EnvelopeNone);
}

TEST(XmImport, MalformedFilesGetClearErrors) {
  std::vector<uint8_t> good = xm::write(small_song());
  auto error_of = [](std::vector<uint8_t> file) {
    XmImport r = import(file);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.image.empty());
    return r.error;
  };
  EXPECT_EQ(error_of({good.begin(), good.begin() + 70}), "header past the end of the file");
  EXPECT_EQ(error_of({good.begin(), good.begin() + 10}), "not an extended module (no \"Extended Module: \" signature)");
  std::vector<uint8_t> file = good;
  file[68] = 0;  // channels
  EXPECT_EQ(error_of(file), "zero channels");
  file = good;
  file[58] = 3;
  EXPECT_EQ(error_of(file), "format version 1.03 is not supported (only 1.04)");
  file = good;
  size_t pattern0 = 60 + 276;
  file[pattern0 + 7] = 0xFF;  // packed size far past the end
  file[pattern0 + 8] = 0xFF;
  EXPECT_EQ(error_of(file), "pattern 0: pattern data past the end of the file");
  file = good;
  file[pattern0 + 7] = 3;  // data ends inside row 0
  file[pattern0 + 8] = 0;
  EXPECT_EQ(error_of(file), "pattern 0 row 0: pattern data ends inside a cell");
  file = good;
  file.resize(file.size() - 29 - 3);  // no instrument 2, and the last sample's data is short
  EXPECT_EQ(error_of(file), "instrument 1 sample 1: 10 bytes of sample data past the end of the file");
  file = good;
  file.resize(pattern0 + 4);
  EXPECT_EQ(error_of(file), "pattern 0: header past the end of the file");
}

TEST(XmImport, OrdersNamingMissingPatternsPlayEmpty) {
  xm::Song s = small_song();
  s.orders = {0, 7};
  XmImport r = import(xm::write(s));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0], "order 1 names pattern 7, which the file lacks; it plays empty");
  EXPECT_EQ(load_u32(r.image.data() + PatternTableOffset + 4 * 7), 0u);
}

}  // namespace
