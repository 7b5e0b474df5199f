// The score language: what a score compiles to, read back by the XM reader, and the place and
// cause of every kind of mistake.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tunescore/score.h"

namespace {

// The score compiled and written as an .xm, then read back as any .xm is.
XmModule compile(const std::string& text) {
  Score score;
  XmModule module, back;
  std::string error;
  EXPECT_TRUE(parse_score(text, "t.score", score, error)) << error;
  EXPECT_TRUE(score_to_xm(score, module, error)) << error;
  EXPECT_TRUE(read_xm(write_xm(module), back, error)) << error;
  return back;
}

std::vector<int> cell(const XmModule& m, int pattern, int row, int channel) {
  const XmCell& c = m.patterns.at(pattern).cells.at(static_cast<size_t>(row * m.channels + channel));
  return {c.note, c.instrument, c.volume, c.effect, c.parameter};
}

}  // namespace

// The header, the order list by pattern name, the cells as a tracker stores them (notes C-0 =
// 1, the letter forms of the volume column, effects 0-9 and A-Z), an instrument's envelopes,
// vibrato and splits, and its samples' volume, panning and transposition.
TEST(Score, ItCompilesToTheModuleItDescribes) {
  const XmModule m = compile(
      "title \"Round\"\nchannels 3\nspeed 5\ntempo 99\nfrequencies amiga\norder x y x\nrestart y\n"
      "instrument keys\n  synth sine period=128\n  split C-4 sine period=64\n  split F#5 voice period=32 wave=3\n"
      "  volume 48 panning 96 transpose -1 fadeout 900\n"
      "  envelope volume 0:0 2:64 10:40 sustain=2\n  envelope panning 0:20 96:44 192:20 loop=0-2\n"
      "  autovibrato square sweep=20 depth=3 rate=10\nend\n"
      "pattern x\nC#3 01 -4 E93 | ... .. p8 ... | F-7 .. m2 3FF\n=== .. 40 F06 | ... .. u1 037\nend\n"
      "pattern y\n... .. .. B00 | G-0 01 .. ... |\nend\n");
  EXPECT_EQ(m.name, "Round");
  EXPECT_EQ(std::vector<int>({m.channels, m.speed, m.bpm, m.restart, m.linear}), std::vector<int>({3, 5, 99, 1, 0}));
  EXPECT_EQ(m.orders, (std::vector<uint8_t>{0, 1, 0}));
  ASSERT_EQ(m.patterns.size(), 2u);
  EXPECT_EQ(m.patterns[0].rows, 2);
  EXPECT_EQ(cell(m, 0, 0, 0), (std::vector<int>{3 * 12 + 2, 1, 0x64, 14, 0x93}));  // -4: volume slide down
  EXPECT_EQ(cell(m, 0, 0, 1), (std::vector<int>{0, 0, 0xC8, 0, 0}));               // p8: panning
  EXPECT_EQ(cell(m, 0, 0, 2), (std::vector<int>{7 * 12 + 6, 0, 0xF2, 3, 0xFF}));   // m2: portamento
  EXPECT_EQ(cell(m, 0, 1, 0), (std::vector<int>{XmKeyOff, 0, 0x40, 15, 0x06}));    // volume 40 as written
  EXPECT_EQ(cell(m, 0, 1, 1), (std::vector<int>{0, 0, 0x91, 0, 0x37}));            // u1: fine up; 037 arpeggio
  EXPECT_EQ(cell(m, 1, 0, 1), (std::vector<int>{8, 1, 0, 0, 0}));                  // G-0
  EXPECT_EQ(cell(m, 1, 0, 2), (std::vector<int>{0, 0, 0, 0, 0}));                  // the empty trailing cell

  ASSERT_EQ(m.instruments.size(), 1u);
  const XmInstrument& keys = m.instruments[0];
  EXPECT_EQ(keys.fadeout, 900);
  using Points = std::vector<std::pair<uint16_t, uint16_t>>;
  EXPECT_EQ(keys.volume.points, (Points{{0, 0}, {2, 64}, {10, 40}}));
  EXPECT_TRUE(keys.volume.on && keys.volume.sustain && !keys.volume.loop);
  EXPECT_EQ(keys.volume.sustainPoint, 2);
  EXPECT_EQ(keys.panning.points, (Points{{0, 20}, {96, 44}, {192, 20}}));
  EXPECT_TRUE(keys.panning.on && keys.panning.loop && !keys.panning.sustain);
  EXPECT_EQ(std::vector<int>({keys.panning.loopStart, keys.panning.loopEnd}), std::vector<int>({0, 2}));
  // Each split's sample plays from its note (C-4 is 49, F#5 67) up to the next.
  ASSERT_EQ(keys.samples.size(), 3u);
  for (int note = 1; note <= 96; ++note) EXPECT_EQ(keys.keyMap[note - 1], note < 49 ? 0 : note < 67 ? 1 : 2) << note;
  // A cycle of P frames sounds A-4 at 440 Hz with relative note 12 log2(440 P / 8363) - 9:
  // 24.0188 for 128 frames (finetune 2/128), one semitone lower for the transposition.
  for (const XmSample& s : keys.samples) EXPECT_EQ(std::vector<int>({s.volume, s.panning}), std::vector<int>({48, 96}));
  EXPECT_EQ(std::vector<int>({keys.samples[0].relativeNote, keys.samples[0].finetune}), std::vector<int>({23, 2}));
  EXPECT_EQ(keys.samples[1].relativeNote, 11);
  const XmSample& sine = keys.samples[1];
  EXPECT_EQ(sine.loopType, 1);
  EXPECT_EQ(sine.loopLength, 64u);
  EXPECT_EQ(sine.data.size(), sine.loopStart + 64);
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
      {head + "pattern p\nC-8 .. .. ...\nend\n", "t.score:4:1", "above B-7"},
      {head + "pattern p\n... .. .. ... | ... .. .. ... | C-4 .. .. ...\nend\n", "t.score:4:32", "more cells"},
      {head + "pattern p\nC-4 00 .. ...\nend\n", "t.score:4:5", "not an instrument"},
      {head + "pattern p\nC-4 02 .. ...\nend\n", "t.score:6:1", "instrument 2 of 0"},
      {head + "pattern p\nend\n", "t.score:4:1", "at least one row"},
      {head + "pattern p\n... .. .. ...\n", "t.score:3:1", "no \"end\""},
      {"channels 40\n", "t.score:1:10", "outside 1..32"},
      {head + "pattern q\n... .. .. ...\nend\n", "t.score:6:1", "pattern \"p\", which is not defined"},
      {head + "restart 1\npattern p\n... .. .. ...\nend\n", "t.score:3:9", "beyond the 1 song positions"},
      {head + "restart 99999999999\n", "t.score:3:9", "outside 0..255"},
      {"instrument a\n  synth organ\nend\n", "t.score:2:9", "unknown synth kind"},
      {"instrument a\n  synth saw period=1e999\nend\n", "t.score:2:20", "not a number"},
      {"instrument a\n  volume 80\nend\n", "t.score:2:10", "outside 0..64"},
      // Every synth number has its range; the column is the value's.
      {"instrument a\n  synth saw period=1e9\nend\n", "t.score:2:20", "outside 8..1024"},
      {"instrument a\n  envelope volume 0:64 0:10\nend\n", "t.score:2:24", "must rise"},
      {"instrument a\n  envelope volume 0:64 sustain=3\nend\n", "t.score:2:3", "a point it does not have"},
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
  // The synth line, and all of the message.
  const std::pair<std::string, std::string> cases[] = {
      // 2 x 4096 cycles of 1024 frames, plus a period and two frames.
      {"pad period=1024 cycles=4096", "3:3: instrument a: the sample would take 8389634 frames; at most 2097152"},
      // 8 frames per cycle of C-0 (16.35 Hz) is 130 frames a second: a millisecond holds none.
      {"pluck note=1 period=8 length=0.001", "3:3: instrument a: the sample would be empty"},
  };
  for (const auto& [synth, message] : cases) {
    const std::string text = "order p\ninstrument a\n  synth " + synth + "\nend\npattern p\n... .. .. ...\nend\n";
    Score score;
    std::string error;
    ASSERT_TRUE(parse_score(text, "t.score", score, error)) << error;
    XmModule module;
    EXPECT_FALSE(score_to_xm(score, module, error)) << synth;
    EXPECT_EQ(error.rfind(message, 0), 0u) << "got \"" << error << "\" for " << synth;
  }
  // The edges of the ranges are accepted: the shortest drum at the highest rate is a few frames.
  const XmModule m = compile("order p\ninstrument a\n  synth kick hz=192000 length=0.001\nend\npattern p\n... .. .. ...\nend\n");
  EXPECT_FALSE(m.instruments.at(0).samples.at(0).data.empty());
}
