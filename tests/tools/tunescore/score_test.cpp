// The score language: what a small score compiles to, byte for byte, and the place and
// cause of every kind of mistake.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tunescore/score.h"

namespace {

std::vector<uint8_t> compile(const std::string& text) {
  Score score;
  std::string error;
  EXPECT_TRUE(parse_score(text, "t.score", score, error)) << error;
  XmModule module;
  EXPECT_TRUE(score_to_xm(score, module, error)) << error;
  return write_xm(module);
}

void append(std::vector<uint8_t>& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}
void append_text(std::vector<uint8_t>& out, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}

}  // namespace

// Two patterns, no instruments: the header, the order list with its restart, and the packed
// cells (a flag byte 0x80 | fields present, then the fields), written out from the format.
TEST(Score, SmallScoreGivesTheseXmBytes) {
  const std::string text =
      "# a small score\n"
      "title \"Mini\"\n"
      "channels 2\n"
      "speed 3\n"
      "tempo 140\n"
      "frequencies amiga\n"
      "order b a\n"
      "order b\n"
      "restart a\n"
      "pattern a\n"
      "C-4 .. .. ... | === .. .. ...\n"
      "... .. 40 F06 | ... .. .. 037   # effect 0 with a parameter is an arpeggio\n"
      "end\n"
      "pattern b\n"
      "\n"
      "... .. .. ...\n"
      "end\n";
  std::vector<uint8_t> want;
  append_text(want, "Extended Module: ", 17);
  append_text(want, "Mini", 20);
  append(want, {0x1A});
  append_text(want, "musicdisk", 20);
  append(want, {0x04, 0x01, 0x14, 0x01, 0x00, 0x00});  // version 1.04, header 276 bytes
  append(want, {3, 0, 1, 0, 2, 0, 2, 0, 0, 0});         // 3 positions, restart 1, 2 channels, 2 patterns, 0 instruments
  append(want, {0, 0, 3, 0, 140, 0});                   // Amiga periods, speed 3, tempo 140
  append(want, {1, 0, 1});                              // b a b
  want.resize(want.size() + 253, 0);
  // Pattern a: 2 rows, 10 bytes of cells.
  append(want, {9, 0, 0, 0, 0, 2, 0, 10, 0});
  append(want, {0x81, 49, 0x81, 97});                   // C-4 (note 49), key-off (97)
  append(want, {0x9C, 0x40, 15, 6, 0x90, 0x37});        // volume 40, F06 | parameter 37 alone
  // Pattern b: one empty row, stored without data.
  append(want, {9, 0, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(compile(text), want);
}

// One instrument: its header as the format lays it out; the sample's data is the
// synthesiser's, checked elsewhere.
TEST(Score, InstrumentHeaderBytes) {
  const std::string text =
      "channels 1\n"
      "order p\n"
      "instrument lead\n"
      "  synth sine period=64\n"
      "  volume 48 panning 96 transpose -1 fadeout 900\n"
      "  envelope volume 0:0 2:64 10:40 sustain=2\n"
      "  envelope panning 0:20 96:44 192:20 loop=0-2\n"
      "  autovibrato square sweep=20 depth=3 rate=10\n"
      "end\n"
      "pattern p\n"
      "D#5 01 10 A12\n"
      "end\n";
  const std::vector<uint8_t> xm = compile(text);
  size_t at = 60 + 276;
  // The pattern: one full cell, stored unpacked (5 bytes).
  const std::vector<uint8_t> pattern = {9, 0, 0, 0, 0, 1, 0, 5, 0, 64, 1, 0x10, 10, 0x12};
  ASSERT_GE(xm.size(), at + pattern.size() + 263 + 40);
  EXPECT_EQ(std::vector<uint8_t>(xm.begin() + at, xm.begin() + at + pattern.size()), pattern);
  at += pattern.size();
  std::vector<uint8_t> want;
  append(want, {0x07, 0x01, 0, 0});  // header length 263
  append_text(want, "lead", 22);
  append(want, {0, 1, 0, 40, 0, 0, 0});  // type 0, one sample, sample header 40 bytes
  want.resize(want.size() + 96, 0);       // every note plays sample 0
  append(want, {0, 0, 0, 0, 2, 0, 64, 0, 10, 0, 40, 0});
  want.resize(want.size() + 36, 0);
  append(want, {0, 0, 20, 0, 96, 0, 44, 0, 192, 0, 20, 0});
  want.resize(want.size() + 36, 0);
  append(want, {3, 3});                   // points
  append(want, {2, 0, 0, 0, 0, 2});       // volume: sustain 2; panning: loop 0..2
  append(want, {3, 5});                   // volume on + sustain; panning on + loop
  append(want, {1, 20, 3, 10});           // square, sweep, depth, rate
  append(want, {0x84, 0x03});             // fadeout 900
  want.resize(263, 0);
  EXPECT_EQ(std::vector<uint8_t>(xm.begin() + at, xm.begin() + at + 263), want);
  at += 263;
  // Sample header: a 64-frame loop of one cycle (from 0: the first rising zero crossing of
  // the settled cycle is its first value) at volume 48, panning 96. A 64-frame cycle plays
  // A-4 at 440 Hz when the note runs it at 440 x 64 = 28160 frames a second, 12.0188
  // semitones above 8363 at C-4: relative note 12, finetune 2/128; the score lowers it one
  // semitone.
  const uint32_t length = xm[at] | xm[at + 1] << 8;
  const uint32_t loopStart = xm[at + 4] | xm[at + 5] << 8, loopLength = xm[at + 8] | xm[at + 9] << 8;
  EXPECT_EQ(loopLength, 64u);
  EXPECT_EQ(length, loopStart + 64);
  EXPECT_LT(loopStart, 64u);
  EXPECT_EQ(xm[at + 12], 48);                 // volume
  EXPECT_EQ(static_cast<int8_t>(xm[at + 13]), 2);  // finetune
  EXPECT_EQ(xm[at + 14], 1);                  // forward loop, 8-bit
  EXPECT_EQ(xm[at + 15], 96);                 // panning
  EXPECT_EQ(static_cast<int8_t>(xm[at + 16]), 11);  // relative note 12 - 1
  EXPECT_EQ(xm.size(), at + 40 + length);
}

// The letter forms of the volume column, extended effects, short rows and the octave ends
// read as the cells a tracker stores.
TEST(Score, CellFieldsReadAsStored) {
  const std::string text =
      "title \"Round\"\nchannels 3\nspeed 5\ntempo 99\norder x y x\nrestart 2\n"
      "instrument a\n  synth pluck period=50 decay=0.99\n  volume 30\n  envelope volume 0:64 4:0\nend\n"
      "pattern x\nC#3 01 -4 E93 | ... .. p8 ... | F-7 .. m2 3FF\n=== .. .. ...\nend\n"
      "pattern y\n... .. u1 B00 | G-0 01 .. ... |\nend\n";
  Score a;
  std::string error;
  ASSERT_TRUE(parse_score(text, "a", a, error)) << error;
  EXPECT_EQ(a.patterns[0].rows[0][0].note, 3 * 12 + 2);   // C#3
  EXPECT_EQ(a.patterns[0].rows[0][0].volume, 0x64);      // "-4": slide down 4
  EXPECT_EQ(a.patterns[0].rows[0][1].volume, 0xC8);      // "p8": panning 8
  EXPECT_EQ(a.patterns[0].rows[0][2].volume, 0xF2);      // "m2": portamento 2
  EXPECT_EQ(a.patterns[1].rows[0][0].volume, 0x90 | 1);  // "u1": fine up 1
  EXPECT_EQ(a.patterns[0].rows[0][0].effect, 14);
  EXPECT_EQ(a.patterns[0].rows[0][0].parameter, 0x93);
  EXPECT_EQ(a.patterns[0].rows[1][0].note, XmKeyOff);
  EXPECT_EQ(a.patterns[0].rows[0][2].note, 7 * 12 + 6);  // F-7
  EXPECT_EQ(a.patterns[1].rows[0][1].note, 8);           // G-0
  EXPECT_EQ(a.patterns[1].rows[0][2].note, 0);           // the empty trailing cell
  EXPECT_EQ(a.restart, "2");
}

// Splits make a multi-sample instrument: each sample plays from its note up to the next.
TEST(Score, SplitsMapNotesToSamples) {
  const std::string text =
      "channels 1\norder p\ninstrument keys\n  synth sine period=128\n  split C-4 sine period=64\n"
      "  split F#5 voice period=32 wave=3\n  volume 40 transpose 2\nend\npattern p\nC-4 01 .. ...\nend\n";
  Score score;
  std::string error;
  ASSERT_TRUE(parse_score(text, "t.score", score, error)) << error;
  XmModule module;
  ASSERT_TRUE(score_to_xm(score, module, error)) << error;
  const XmInstrument& keys = module.instruments.at(0);
  ASSERT_EQ(keys.samples.size(), 3u);
  for (int note = 1; note <= 96; ++note) {
    const int want = note < 49 ? 0 : note < 67 ? 1 : 2;  // C-4 is note 49, F#5 note 67
    EXPECT_EQ(keys.keyMap[note - 1], want) << "note " << note;
  }
  // Every sample takes the instrument's volume and transposition; a 128-frame cycle must run
  // an octave faster than a 64-frame one to sound the same note.
  EXPECT_EQ(keys.samples[2].volume, 40);
  EXPECT_EQ(keys.samples[0].relativeNote, keys.samples[1].relativeNote + 12);
  EXPECT_EQ(keys.samples[1].relativeNote, 12 + 2);
}

// Every mistake is reported with the file, the line and the column where it is.
TEST(Score, ErrorsNameFileLineAndColumn) {
  const std::string head = "channels 2\norder p\n";  // lines 1-2
  struct Case {
    std::string text;
    std::string where;  // file:line:column
    std::string cause;  // a part of the message
  };
  const Case cases[] = {
      {head + "pattern p\nH-4 .. .. ...\nend\n", "t.score:4:1", "is not a note"},
      {head + "pattern p\n... .. .. ... | C-4 01 ..\nend\n", "t.score:4:17", "four fields"},
      {head + "pattern p\nC-4 .. .. Z1G\nend\n", "t.score:4:11", "is not an effect"},
      {head + "pattern p\nC-4 .. 5F ...\nend\n", "t.score:4:8", "above 50"},
      {head + "pattern p\nC-4 .. zz ...\nend\n", "t.score:4:8", "volume column"},
      {head + "pattern p\nC-8 .. .. ...\nend\n", "t.score:4:1", "above B-7"},
      {head + "pattern p\n... .. .. ... | ... .. .. ... | C-4 .. .. ...\nend\n", "t.score:4:32", "more cells"},
      {head + "pattern p\nC-4 00 .. ...\nend\n", "t.score:4:5", "not an instrument"},
      {head + "pattern p\nC-4 02 .. ...\nend\n", "t.score:6:1", "instrument 2 of 0"},
      {head + "pattern p\nend\n", "t.score:4:1", "at least one row"},
      {head + "pattern p\n... .. .. ...\n", "t.score:3:1", "no \"end\""},
      {"channels 40\n", "t.score:1:10", "outside 1..32"},
      {"channels\n", "t.score:1:1", "one value"},
      {"tempo fast\n", "t.score:1:7", "not a whole number"},
      {"frequencies log\n", "t.score:1:13", "linear or amiga"},
      {"title Name\n", "t.score:1:7", "quoted"},
      {"  wobble 3\n", "t.score:1:3", "unknown line"},
      {head + "pattern p\n... .. .. ...\nend\nspeed 3\n", "t.score:6:1", "belongs in the header"},
      {head + "pattern q\n... .. .. ...\nend\n", "t.score:6:1", "pattern \"p\", which is not defined"},
      {head + "restart z\npattern p\n... .. .. ...\nend\n", "t.score:3:9", "restart pattern \"z\""},
      {head + "restart 1\npattern p\n... .. .. ...\nend\n", "t.score:3:9", "beyond the 1 song positions"},
      {head + "restart 65536\n", "t.score:3:9", "outside 0..255"},
      {head + "restart 99999999999\n", "t.score:3:9", "outside 0..255"},
      {"order p\npattern p\n... .. .. ...\nend\npattern p\n", "t.score:5:9", "defined twice"},
      {"instrument a\n  synth organ\nend\n", "t.score:2:9", "unknown synth kind"},
      {"instrument a\n  synth saw period=64 colour=3\nend\n", "t.score:2:23", "no parameter \"colour\""},
      {"instrument a\n  synth saw period=6x4\nend\n", "t.score:2:20", "not a number"},
      {"instrument a\n  volume 80\nend\n", "t.score:2:10", "outside 0..64"},
      // Every synth number has its range; the column is the value's.
      {"instrument a\n  synth kick length=0\nend\n", "t.score:2:21", "length 0 outside 0.001..60"},
      {"instrument a\n  synth kick length=-1\nend\n", "t.score:2:21", "outside 0.001..60"},
      {"instrument a\n  synth kick length=1e9\nend\n", "t.score:2:21", "outside 0.001..60"},
      {"instrument a\n  synth kick hz=0\nend\n", "t.score:2:17", "hz 0 outside 1000..192000"},
      {"instrument a\n  synth kick hz=-1\nend\n", "t.score:2:17", "outside 1000..192000"},
      {"instrument a\n  synth kick decay=-1\nend\n", "t.score:2:20", "outside 0.001..60"},
      {"instrument a\n  synth kick tone=1e300\nend\n", "t.score:2:19", "outside 1..20000"},
      {"instrument a\n  synth kick seed=-1\nend\n", "t.score:2:19", "outside 0..4294967295"},
      {"instrument a\n  synth saw period=1e300\nend\n", "t.score:2:20", "outside 8..1024"},
      {"instrument a\n  synth saw period=1e9\nend\n", "t.score:2:20", "outside 8..1024"},
      {"instrument a\n  synth saw cycles=1e9\nend\n", "t.score:2:20", "outside 1..4096"},
      {"instrument a\n  synth saw note=1e6\nend\n", "t.score:2:18", "outside 1..96"},
      {"instrument a\n  synth saw note=-1e6\nend\n", "t.score:2:18", "outside 1..96"},
      {"instrument a\n  synth pad voices=1e6\nend\n", "t.score:2:20", "outside 1..7"},
      {"instrument a\n  synth saw period=1e999\nend\n", "t.score:2:20", "not a number"},
      {"instrument a\n  volume\nend\n", "t.score:2:3", "needs a value"},
      {"instrument a\n  envelope volume 0:64 0:10\nend\n", "t.score:2:24", "must rise"},
      {"instrument a\n  envelope volume 0:64 5:70\nend\n", "t.score:2:26", "outside 0..64"},
      {"instrument a\n  envelope volume 0:64 5\nend\n", "t.score:2:24", "TICK:VALUE"},
      {"instrument a\n  envelope volume 0:64 sustain=3\nend\n", "t.score:2:3", "a point it does not have"},
      {"instrument a\n  envelope volume 0:64 5:0 loop=1-0\nend\n", "t.score:2:28", "loop end before"},
      {"instrument a\n  autovibrato wobbly sweep=1 depth=1 rate=1\nend\n", "t.score:2:15", "waveform"},
      {"instrument a\n  autovibrato sine sweep=1 depth=99 rate=1\nend\n", "t.score:2:34", "outside 0..15"},
      {"instrument a\n  volume 30\nend\n", "t.score:3:1", "no synth line"},
      {"instrument a\n  synth saw\n  split C-5 saw\n  split C-4 sine\nend\n", "t.score:4:9", "must rise"},
      {"instrument a\n  synth saw\n  split === saw\nend\n", "t.score:3:9", "needs a note"},
      {"instrument a\n  synth saw\n  split C-5\nend\n", "t.score:3:3", "note and a synth kind"},
      {"instrument a\n  synth saw\n  split C-5 saw width=0.3 colour=1\nend\n", "t.score:3:27", "no parameter \"colour\""},
      {"instrument a\n  synth saw\n", "t.score:1:1", "no \"end\""},
      {"channels 1\n", "t.score:2:1", "no order line"},
  };
  for (const Case& c : cases) {
    Score score;
    std::string error;
    EXPECT_FALSE(parse_score(c.text, "t.score", score, error)) << c.text;
    EXPECT_EQ(error.rfind(c.where + ": ", 0), 0u) << "got \"" << error << "\" for\n" << c.text;
    EXPECT_NE(error.find(c.cause), std::string::npos) << "got \"" << error << "\" for\n" << c.text;
  }
}

// A description whose numbers are each in range can still ask for a sample too long to make
// or too short to hold a frame: refused at its synth line, before anything is allocated.
TEST(Score, SamplesTooLongOrEmptyAreRefusedAtTheirSynthLine) {
  struct Case {
    std::string synth;
    std::string message;  // all of it
  };
  const Case cases[] = {
      // 2 x 4096 cycles of 1024 frames, plus a period and two frames.
      {"pad period=1024 cycles=4096", "3:3: instrument a: the sample would take 8389634 frames; at most 2097152"},
      // 8 frames per cycle of C-0 (16.35 Hz) is 130 frames a second: a millisecond holds none.
      {"pluck note=1 period=8 length=0.001", "3:3: instrument a: the sample would be empty"},
  };
  for (const Case& c : cases) {
    const std::string text = "order p\ninstrument a\n  synth " + c.synth + "\nend\npattern p\n... .. .. ...\nend\n";
    Score score;
    std::string error;
    ASSERT_TRUE(parse_score(text, "t.score", score, error)) << error;
    XmModule module;
    EXPECT_FALSE(score_to_xm(score, module, error)) << c.synth;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "got \"" << error << "\" for " << c.synth;
  }
  // The edges of the ranges are accepted: the shortest drum at the highest rate is a few frames.
  EXPECT_EQ(compile("order p\ninstrument a\n  synth kick hz=192000 length=0.001\nend\npattern p\n... .. .. ...\nend\n").empty(),
            false);
}
