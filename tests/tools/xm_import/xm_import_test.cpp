// The XM reader, and the import into module images: cells, samples, envelopes,
// both frequency tables, what is reported as dropped, and malformed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "player/player.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

XmImport import_module(const XmModule& m, XmImportOptions options = {}) { return import_xm(write_xm(m), options); }

const uint8_t* instrument_record(const std::vector<uint8_t>& image, int k) {
  return image.data() + load_u32(image.data() + InstrumentTableOffset + 4 * k);
}

const uint8_t* sample_data(const std::vector<uint8_t>& image, uint16_t index) {
  return image.data() + load_u32(image.data() + SampleTableOffset + 4 * index);
}

std::vector<uint8_t> with16(std::vector<uint8_t> f, size_t at, uint32_t v, int bytes = 2) {
  for (int i = 0; i < bytes; ++i) f[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  return f;
}

}  // namespace

// Cells keep their numbers (E91 becomes effect 36 + 9 with 1); the header takes the song,
// and the frequency table sets the flag and the period bounds.
TEST(XmImport, CellsHeaderAndFrequencyTables) {
  for (bool linear : {true, false}) {
    XmImport r = import_module(xm::busy_module(linear));
    ASSERT_TRUE(r.ok) << r.error;
    const uint8_t* p = r.image.data() + load_u32(r.image.data() + PatternTableOffset);
    // Row 0: C-4 with instrument 1 and volume 0x40; C-5 with instrument 2 and C20. Rows 1..3
    // empty; row 4: key-off, then panning C4 and E91.
    const uint8_t rows[] = {0x60, 49, 1, 0x40, 0xA1, 61, 2, 0x0C, 0x20, 0, 0, 0, 0, 0x20, 97, 0, 0xC1, 0xC4, 45, 1, 0};
    EXPECT_EQ(0, std::memcmp(p + 4, rows, sizeof rows));
    EXPECT_EQ(std::vector<uint32_t>({load_u32(r.image.data() + HeaderSongLength),
                                     load_u32(r.image.data() + HeaderRestartPosition), r.image[HeaderInitialSpeed],
                                     r.image[HeaderInitialTempo]}),
              std::vector<uint32_t>({3, 1, 4, 140}));
    EXPECT_EQ(load_u16(r.image.data() + HeaderFlags), linear ? FlagLinearPeriods : 0);
    EXPECT_EQ(static_cast<int32_t>(load_u32(r.image.data() + HeaderMinimumPeriod)), linear ? -18432 : 107);
    EXPECT_EQ(static_cast<int32_t>(load_u32(r.image.data() + HeaderMaximumPeriod)), linear ? 24576 : 438272);
  }
}

// Samples, loops and pitch offsets, envelopes as segments, and the 8-bit form the built-in
// tunes take.
TEST(XmImport, SamplesLoopsPitchAndEnvelopes) {
  const XmModule m = xm::busy_module();
  XmImport r = import_module(m);
  ASSERT_TRUE(r.ok) << r.error;
  const uint8_t* ins = instrument_record(r.image, 0);
  SampleRecord a = read_sample_record(ins, 0);
  EXPECT_EQ(std::vector<int>({a.type, int(a.loopStart), int(a.end), a.pitchOffset}),
            std::vector<int>({SampleForwardLoop, 0, 32, 12 * 256 - 32}));  // relative note 12, finetune -16/128
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(static_cast<int8_t>(sample_data(r.image, a.dataIndex)[i]), m.instruments[0].samples[0].data[i]);
  SampleRecord b = read_sample_record(instrument_record(r.image, 1), 0);
  EXPECT_EQ(std::vector<int>({b.type, int(b.loopStart), int(b.end), b.volume, b.panning}),
            std::vector<int>({Sample16Bit | SamplePingPongLoop, 50, 150, 48, 200}));  // frames, from bytes
  const uint8_t* wide = sample_data(r.image, b.dataIndex);
  for (int i = 0; i < 150; ++i)
    EXPECT_EQ(static_cast<int16_t>(load_u16(wide + 2 * i)), m.instruments[1].samples[0].data[i]);

  // Volume envelope: last point, sustain, loop start and end, then (length, value) pairs.
  const uint8_t* v = ins + InstrumentVolumeEnvelope;
  EXPECT_EQ(std::vector<int>({v[0], v[1], v[2], v[3]}), std::vector<int>({4, 2, 3, 4}));
  const uint16_t lengths[] = {4, 6, 10, 10, 0}, values[] = {0, 64, 48, 32, 40};
  for (int k = 0; k < 5; ++k)
    EXPECT_EQ(std::pair(load_u16(v + 4 + 4 * k), load_u16(v + 6 + 4 * k)), std::pair(lengths[k], values[k])) << k;
  EXPECT_EQ(std::vector<int>({load_u16(ins + InstrumentFadeout), ins[InstrumentVibratoSweep],
                              ins[InstrumentVibratoDepth], ins[InstrumentVibratoRate]}),
            std::vector<int>({512, 16, 4, 8}));

  // The same module for the built-in tunes: every sample 8-bit, 16-bit values rounded.
  XmImport narrow = import_module(m, {.eightBitOnly = true});
  ASSERT_TRUE(narrow.ok);
  SampleRecord n = read_sample_record(instrument_record(narrow.image, 1), 0);
  EXPECT_EQ(n.type, SamplePingPongLoop);
  // Frame 90 of the sine holds round(25600 sin(2 pi 90 / 200)) = 7911, 30.9 steps of 256.
  EXPECT_EQ(static_cast<int8_t>(sample_data(narrow.image, n.dataIndex)[90]), 31);
}

TEST(XmImport, WhatTheImageCannotCarryIsReportedByPlaceAndName) {
  XmModule m = xm::busy_module();
  m.patterns[0].cells[2 * 7 + 1] = {0, 0, 0, 26, 0x01};  // Q: no counterpart, in two patterns
  m.patterns[1].cells[2 * 2] = {0, 0, 0, 26, 0x05};
  m.patterns[1].cells[2 * 3] = {0, 0, 0, 26, 0x05};
  m.instruments[0].volume.points[2].first = 4;           // same tick as point 1
  m.instruments[0].samples[0].volume = 80;
  m.instruments[1].samples[0].loopLength = 400;          // beyond the sample
  XmImport r = import_module(m);
  ASSERT_TRUE(r.ok) << r.error;
  const std::vector<std::string> expected = {
      "effect Q has no counterpart; dropped (3 times in 2 patterns, first at pattern 0 row 7 channel 1)",
      "instrument 1 sample 0: volume 80 above 64; limited to 64",
      "instrument 1 volume envelope: point 2 does not come after point 1; segment lengthened to 1 tick",
      "instrument 2 sample 0: loop end beyond the sample's 200 frames; loop shortened",
  };
  EXPECT_EQ(r.warnings, expected);
}

// Damaged headers and patterns are refused with their own messages. (Files cut short: below.)
// XM's auto-vibrato types name the wave: 0 sine, 1 square, 2 ramp down, 3 ramp up, and an
// unknown type plays the sine. Read through the tables the player builds, at positions 1,
// 64 and 192, worked out from their rules: the sine's round(64 sin(pi / 128)) = 2 at 1; the
// square 64 on positions 1 to 128 and -64 after; the rising ramp ceil(i / 2) up to 128 and
// -floor((256 - i) / 2) after, the falling ramp its negation.
TEST(XmImport, AutoVibratoTypesPickTheirWaves) {
  const struct {
    uint8_t type;
    int at1, at64, at192;
  } cases[] = {{0, 2, 64, -64}, {1, 64, 64, -64}, {2, -1, -32, 32}, {3, 1, 32, -32}, {7, 2, 64, -64}};
  for (const auto& c : cases) {
    XmModule m = xm::busy_module();
    m.instruments[0].vibratoType = c.type;
    XmImport r = import_module(m);
    ASSERT_TRUE(r.ok) << r.error;
    auto state = std::make_unique<PlayerState>();
    ASSERT_TRUE(player_init(r.image.data(), state.get()));
    const int8_t* wave = state->WaveTables[instrument_record(r.image, 0)[InstrumentVibratoWaveform] & 3];
    EXPECT_EQ((std::vector<int>{wave[1], wave[64], wave[192]}), (std::vector<int>{c.at1, c.at64, c.at192}))
        << "XM auto-vibrato type " << int(c.type);
  }
}

TEST(XmImport, MalformedFilesGiveTheirOwnErrors) {
  const std::vector<uint8_t> good = write_xm(xm::busy_module());
  // Pattern 0 starts at 336: its data size (at +7) and its rows (at +5).
  const struct {
    std::vector<uint8_t> file;
    std::string error;
  } cases[] = {
      {{good.begin() + 1, good.end()}, "not an extended module (no \"Extended Module: \" at the start)"},
      {with16(good, 68, 0), "bad header: zero channels"},
      {with16(good, 68, 33), "bad header: 33 channels (at most 32)"},
      {with16(good, 58, 0x0103), "format version 1.03 is not supported (only 1.04)"},
      {with16(good, 336 + 7, 0xFFFF), "pattern 0: pattern data (65535 bytes) runs past the end of the file"},
      {with16(good, 336 + 5, 200), "pattern 0: row 16 channel 0: cell data runs past the pattern's 47 bytes"},
  };
  for (const auto& c : cases) {
    const XmImport r = import_xm(c.file);
    EXPECT_FALSE(r.ok || !r.image.empty()) << c.error;
    EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
  }
}

// A file cut anywhere before its sample data is refused with a message, or, cut in the first
// instrument's 32 bytes of data, read with the second instrument empty. Cut in the last
// sample's data, it is read as players read it: what is there, the rest as silence, with a
// warning that counts the missing bytes.
TEST(XmImport, EveryCutOfAFileIsRefusedOrReadAsFarAsItGoes) {
  const XmModule m = xm::busy_module();
  const std::vector<uint8_t> good = write_xm(m);
  // The last sample: 400 bytes of data (200 16-bit frames) at the end of the file, after
  // its 40-byte header.
  const size_t lastData = good.size() - 400;
  int firstCut = 0;
  for (size_t n = 0; n < good.size(); ++n) {
    const XmImport r = import_xm(std::span<const uint8_t>(good.data(), n));
    if (!r.ok) {
      ASSERT_LT(n, lastData);
      ASSERT_FALSE(r.error.empty()) << n;
      continue;
    }
    ASSERT_FALSE(r.warnings.empty()) << n;
    if (n < lastData) {
      ++firstCut;
      EXPECT_NE(r.warnings[0].find("; the last 1 instruments are empty"), std::string::npos) << r.warnings[0];
    } else {
      EXPECT_EQ(r.warnings[0], "the file is cut short: " + std::to_string(good.size() - n) +
                                   " bytes of sample data are missing and play as silence");
    }
  }
  EXPECT_EQ(firstCut, 32);

  // The last 100 bytes cut: the first 150 frames of the 16-bit sample as they were, the
  // last 50 silent.
  XmModule read;
  std::string error;
  ASSERT_TRUE(read_xm(std::span<const uint8_t>(good.data(), good.size() - 100), read, error)) << error;
  std::vector<int16_t> expected = m.instruments[1].samples[0].data;
  std::fill(expected.begin() + 150, expected.end(), 0);
  EXPECT_EQ(read.instruments[1].samples[0].data, expected);

  // A header that claims 2 GiB of data for the last sample is not made into 2 GiB of
  // silence: the sample ends with the file.
  const std::vector<uint8_t> claim = with16(good, lastData - 40, 0x7FFFFFF0u, 4);
  ASSERT_TRUE(read_xm(claim, read, error)) << error;
  EXPECT_EQ(read.instruments[1].samples[0].data.size(), 200u);
  EXPECT_NE(import_xm(claim).warnings.at(0).find("; the sample ends where the file ends"), std::string::npos);
}
