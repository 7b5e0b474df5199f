// Effects, volume-column commands, the volume pipeline and envelopes, traced per tick.
#include <gtest/gtest.h>

#include "tune.h"

namespace {

using namespace tune;

ModuleDef enveloped(EnvelopeDef volume, EnvelopeDef panning = {}, uint16_t fadeout = 0, uint32_t keyOffRow = 1) {
  ModuleDef m = song({empty_pattern(16)}, {0}, 1);
  m.patterns[0].rows[0] = *parse_row("C-4 01");
  m.patterns[0].rows[keyOffRow] = *parse_row("===");
  m.instruments[0].volumeEnvelope = volume;
  m.instruments[0].panningEnvelope = panning;
  m.instruments[0].fadeout = fadeout;
  return m;
}

TEST(Effects, PerTickTraces) {
  const Field global = [](const PlayerState& p) -> int64_t { return p.globalVolume; };
  ModuleDef position = rows({"C-4 01", "... .. .. L06", "... .. .. L63"}, 1);
  position.instruments[0].volumeEnvelope = {{{4, 0}, {4, 64}, {0, 32}}};
  ModuleDef autoVibrato = enveloped({});
  autoVibrato.instruments[0].vibratoDepth = 3;
  autoVibrato.instruments[0].vibratoRate = 32;
  autoVibrato.instruments[0].vibratoSweep = 7;
  check({
      // A0F slides down 15 between rows, A00 repeats it, A32 (both digits) slides up by 3.
      {rows({"C-4 01 .. A0F", "... .. .. A00", "... .. .. A32"}, 3), volume, {64, 49, 34, 34, 19, 4, 4, 7, 10}},
      // Cxx, fine slides EAx/EBx with memory, volume column set, slides and fine slides.
      {rows({"C-4 01 .. C50", "... .. .. EA3", "... .. .. EA0", "... .. .. EB9", "... .. 10", "... .. 5F", "... .. 8A",
             "... .. 94", "... .. 74", "... .. 6F"},
            2),
       volume, {64, 64, 64, 64, 64, 64, 55, 55, 0, 0, 64, 64, 54, 54, 58, 58, 58, 62, 62, 47}},
      // Tremolo depth 8 speed 4 on volume 16: the position moves 16 between rows only; E72 then
      // selects the square wave, which 700 goes on with from position 48.
      {rows({"C-4 01 20 748", "... .. .. E72", "... .. .. 700"}, 4), workVolume, {32, 32, 56, 76, 32, 32, 32, 32, 96}},
      // Tremor: two counts on, three off, the row tick not counted.
      {rows({"C-4 01 .. T12", "... .. .. T00"}), mixVolume, {128, 128, 128, 0, 0, 0, 128, 128, 128, 0, 0, 0}},
      {rows({"C-4 01 .. G20", "... .. .. H02", "... .. .. H30"}, 3), global, {32, 32, 32, 32, 30, 28, 28, 31, 34}},
      // No envelopes at full volumes: 128, and 64 at global volume 32.
      {rows({"C-4 01", "... .. .. G20", "... .. 20"}, 1), mixVolume, {128, 64, 16}},
      // Arpeggio: the index runs freely across rows.
      {rows({"C-4 01 .. 037", "... .. .. 037"}), workPeriod, {0, -768, -1792, 0, -768, -1792, 0, -768}},
      // Portamentos with memory, fine (E1x/E2x) and extra-fine (X1x/X2x) slides.
      {rows({"C-4 01 .. 102", "... .. .. 100", "... .. .. 203", "... .. .. E12", "... .. .. E10", "... .. .. E21",
             "... .. .. X13", "... .. .. X10", "... .. .. X22", "... .. .. X30"},
            3),
       period, {0,   -32, -64, -64, -96, -128, -128, -80, -32, -64, -64,  -64,  -96,  -96, -96,
                -80, -80, -80, -92, -92, -92,  -104, -104, -104, -96, -96, -96, -96, -96, -96}},
      {rows({"C-1 01 .. 2FF"}, 31), period, {24576}, 30},  // held at the header's maximum
      // With glissando the channel hears whole semitones while the period moves 80 a tick.
      {rows({"C-4 01 .. E31", "D-4 .. .. 305"}), workPeriod, {0, 0, -256, -256, -256, -512}, 6},
      // Tone portamento stops exactly at its target, also where the speed does not divide the
      // distance, both ways.
      {rows({"C-4 01", "D-4 .. .. 303"}, 12), period, {0, -48, -96, -144, -192, -240, -288, -336, -384, -432, -480, -512},
       12},
      {rows({"D-4 01", "C-4 .. .. 303"}, 12), period, {-512, -464, -416, -368, -320, -272, -224, -176, -128, -80, -32, 0},
       12},
      // Vibrato speed 8 is stored as 32 and moves by half of it between rows; E41 the ramp.
      {rows({"C-4 01 .. 484", "... .. .. E41", "... .. .. 400"}, 4), workPeriod, {0, 0, 48, 90, 0, 0, 0, 0, 48}},
      // Panning set, fine set, slides with memory, and volume-column set/slides between rows only.
      {rows({"C-4 01 .. 840", "... .. .. E8F", "... .. .. P20", "... .. .. P00", "... .. .. P05", "... .. C2",
             "... .. E4", "... .. D8"},
            2),
       panning, {64, 64, 255, 255, 255, 253, 253, 251, 251, 255, 34, 34, 34, 38, 38, 30}},
      // At speed 1 every tick reads a row: slides that act between rows never do. A pattern
      // delay's extra tick is between rows, so there the slide acts once.
      {rows({"C-4 01 .. A0F | ... .. .. EE1", "... .. .. A0F"}, 1), volume, {64, 49, 49, 64}},
      // EC3 cuts on tick 3, EC0 does nothing.
      {rows({"C-4 01 .. EC3", "... .. 20 EC0"}), volume, {64, 64, 64, 0, 0, 0, 16, 16, 16, 16, 16, 16}},
      // Envelopes. Key-off on the second tick: that tick still has the full fade, then 0x5000,
      // 0x2000, 0.
      {enveloped({{{10, 64}, {0, 64}}, 0}, {}, 0x3000), mixVolume, {128, 128, 80, 32, 0}},
      // (4, 48), (4, 64): 48, then 56 after two ticks.
      {enveloped({{{4, 48}, {4, 64}, {0, 0}}}), mixVolume, {96, 104, 112, 120, 128, 96, 64, 32, 0, 0}},
      // Sustain on point 2 until the key-off on row 5, then the loop 3..5.
      {enveloped({{{1, 10}, {1, 20}, {1, 30}, {1, 40}, {1, 50}, {0, 60}}, 2, 3, 5}, {}, 0, 5), mixVolume,
       {20, 40, 60, 60, 60, 60, 80, 100, 120, 120, 120}},
      // A loop shows its end point, then goes back to its start.
      {enveloped({{{2, 0}, {2, 64}, {2, 32}, {0, 0}}, EnvelopeNone, 1, 2}), mixVolume,
       {0, 64, 128, 96, 64, 96, 64, 96, 64, 96}},
      // L06 sets point 1 tick 2 (48), L63 past the end rests on the last point (32).
      {position, mixVolume, {0, 96, 64}},
      // Auto-vibrato rate 32, depth 3, sweep 7: the wave 0, 45, 64, 45, 0, -45, -64, -45 gives
      // floor(w * 3 / 16) = 0, 8, 12, 8, 0, -9, -12, -9; ticks 1 to 6 scale it by k / 7,
      // truncating toward zero (-45 / 7 is -6, not -7; -72 / 7 is -10, not -11).
      {autoVibrato, workPeriod, {0, -1, -3, -3, 0, 6, 10, 9, 0, -8}},
  });
}

// Ticks on which the channel's sample restarts, and the volume after each tick.
std::pair<Values, Values> restarts(tune::Player& t, int n) {
  Values at, volumes;
  for (int i = 0; i < n; ++i) {
    t.channel(0).startPosition = -1;
    t.tick();
    if (t.channel(0).startPosition == 0) at.push_back(i);
    volumes.push_back(t.channel(0).volume);
  }
  return {at, volumes};
}

TEST(Effects, RetriggersOnTheirTicks) {
  // Row 0 is ticks 0..5, row 1 (held 12 ticks by EE1) ticks 6..17, then row 0 again with its
  // note. R13 restarts on the fourth tick counted from its row, then every 4 ticks, -1 each.
  tune::Player r(rows({"C-4 01 .. R13", "... .. .. R13 | ... .. .. EE1"}));
  auto [at, volumes] = restarts(r, 24);
  EXPECT_EQ(at, (Values{0, 3, 9, 13, 17, 18, 21}));
  EXPECT_EQ((Values{volumes[3], volumes[9], volumes[17]}), (Values{63, 62, 60}));

  // E93 on a row without a note: the row tick (tick 0) restarts the sample too.
  tune::Player e(rows({"C-4 01", "... .. .. E93"}));
  EXPECT_EQ(restarts(e, 12).first, (Values{0, 6, 9}));

  // Retrigger volume codes, interval 0: the first restart comes on the row tick itself.
  for (auto [code, from, to] : std::vector<std::tuple<int, int, int>>{
           {1, 40, 39}, {5, 10, 0}, {6, 40, 25}, {7, 41, 20}, {9, 64, 64}, {13, 40, 56}, {14, 40, 60}, {15, 32, 64},
           {15, 20, 40}, {8, 33, 33}}) {
    char row[32];
    std::snprintf(row, sizeof row, "C-4 01 %02X R%X0", 0x10 + from, code);
    tune::Player t(rows({row}));
    t.tick();
    EXPECT_EQ(t.channel(0).volume, to) << code;
  }
}

TEST(Envelope, PanningLaw) {
  // p + floor((e - 32) d / 32), d the distance to the nearer edge; the last four do not
  // divide exactly, and the floor of a negative swing is one further from the centre.
  for (auto [panning, value, mixed] : std::vector<std::tuple<uint8_t, uint16_t, int>>{
           {64, 64, 128}, {64, 0, 0}, {200, 64, 255}, {200, 0, 145}, {200, 32, 200},
           {200, 10, 162}, {100, 50, 156}, {30, 1, 0}, {130, 5, 24}}) {
    ModuleDef m = enveloped({}, {{{1, value}, {0, value}}});
    m.instruments[0].samples[0].panning = panning;
    tune::Player t(m);
    t.tick();
    EXPECT_EQ(t.channel(0).mixPanning, mixed) << int{panning} << " " << value;
  }
}

}  // namespace
