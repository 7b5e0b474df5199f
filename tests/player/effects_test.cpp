// Effects and volume-column commands, grouped by family; each tune is a few rows and the
// expectations are per tick.
#include <gtest/gtest.h>

#include "player/effects.h"
#include "player/pitch.h"
#include "tune.h"

namespace {

// One channel of rows at a given speed, playing instrument 1 (a long forward loop).
tune::Player play(std::vector<std::string_view> rows, uint8_t speed = 6, bool linear = true) {
  PatternSpec p;
  for (std::string_view r : rows) p.rows.push_back(*parse_row(r));
  ModuleSpec m = tune::song({p});
  m.speed = speed;
  m.linear = linear;
  return tune::Player(m);
}

// A channel field after each of n ticks.
template <typename F>
std::vector<int> trace(tune::Player& t, int n, F field) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) {
    t.tick();
    out.push_back(field(t.channel(0)));
  }
  return out;
}

TEST(EffectTable, EveryEntryHoldsAHandler) {
  for (EffectHandler h : EffectHandlers) EXPECT_NE(h, nullptr);
}

// --- Volume ----------------------------------------------------------------------------------

TEST(VolumeEffects, SlidesAndTheirMemory) {
  tune::Player t = play({"C-4 01 .. A0F", "... .. .. A00", "... .. .. A32"}, 3);
  auto v = trace(t, 9, [](const ChannelState& c) { return c.volume; });
  // A0F: down 15 between rows; A00 reuses it; A32 has both digits set: it slides up by 3.
  EXPECT_EQ(v, (std::vector<int>{64, 49, 34, 34, 19, 4, 4, 7, 10}));
}

TEST(VolumeEffects, SetVolumeFineSlidesAndVolumeColumn) {
  tune::Player t = play({"C-4 01 .. C50", "... .. .. EA3", "... .. .. EA0", "... .. .. EB9", "... .. 10", "... .. 5F",
                         "... .. 8A", "... .. 94", "... .. 74", "... .. 6F"},
                        2);
  auto v = trace(t, 20, [](const ChannelState& c) { return c.volume; });
  EXPECT_EQ(v, (std::vector<int>{64, 64, 64, 64, 64, 64, 55, 55, 0, 0, 64, 64, 54, 54, 58, 58, 58, 62, 62, 47}));
}

TEST(VolumeEffects, TremoloUsesItsWaveformAndSpeed) {
  tune::Player t = play({"C-4 01 20 748", "... .. .. E72 | ", "... .. .. 700"}, 4);
  auto v = trace(t, 4, [](const ChannelState& c) { return c.workVolume; });
  // Sine times depth 32 / 64 added to volume 16 (doubled by the volume scaling). The
  // position moves by the whole speed 16, between rows only: 0, 0, 16, 32.
  const int8_t* sine = t.p().WaveTables[0];
  std::vector<int> expected;
  for (int position : {0, 0, 16, 32}) expected.push_back(2 * (16 + ((sine[position] * 32) >> 6)));
  EXPECT_EQ(v, expected);
  t.ticks(4);  // E72 selects the square wave; no tremolo on this row
  t.tick();    // 700 goes on from position 48 with the stored speed and depth
  EXPECT_EQ(t.channel(0).tremoloWaveform, 2);
  EXPECT_EQ(t.channel(0).workVolume, 2 * (16 + ((t.p().WaveTables[2][48] * 32) >> 6)));
}

TEST(VolumeEffects, TremorCountsTwoOnThreeOff) {
  tune::Player t = play({"C-4 01 .. T12", "... .. .. T00"}, 6);
  auto v = trace(t, 12, [](const ChannelState& c) { return c.mixVolume; });
  // Two counts on, three off; the row tick does not count, so each row sounds for the row
  // tick and ticks 1 and 2 and is silent on ticks 3 to 5.
  EXPECT_EQ(v, (std::vector<int>{128, 128, 128, 0, 0, 0, 128, 128, 128, 0, 0, 0}));
}

TEST(VolumeEffects, GlobalVolumeAndItsSlide) {
  tune::Player t = play({"C-4 01 .. G20", "... .. .. H02", "... .. .. H30"}, 3);
  auto g = trace(t, 9, [&](const ChannelState&) { return t.p().globalVolume; });
  EXPECT_EQ(g, (std::vector<int>{32, 32, 32, 32, 30, 28, 28, 31, 34}));
  EXPECT_EQ(t.channel(0).mixVolume, 64 * 34 / 32);
}

// --- Pitch -----------------------------------------------------------------------------------

TEST(PitchEffects, ArpeggioIndexRunsFreely) {
  tune::Player t = play({"C-4 01 .. 037", "... .. .. 037"}, 6);
  auto p = trace(t, 8, [](const ChannelState& c) { return c.workPeriod; });
  EXPECT_EQ(p, (std::vector<int>{0, -768, -1792, 0, -768, -1792, 0, -768}));
  // Amiga periods scale by the semitone table.
  tune::Player a = play({"C-4 01 .. 037"}, 6, false);
  auto q = trace(a, 3, [](const ChannelState& c) { return c.workPeriod; });
  EXPECT_EQ(q, (std::vector<int>{6848, 6848 * PitchSemitone[3] / 32768, 6848 * PitchSemitone[7] / 32768}));
  // 000 carries no effect at all.
  tune::Player z = play({"C-4 01 .. 000"});
  z.tick();
  EXPECT_EQ(z.channel(0).currentEffect, NoEffect);
}

TEST(PitchEffects, PortamentosAndFineSlides) {
  tune::Player t = play({"C-4 01 .. 102", "... .. .. 100", "... .. .. 203", "... .. .. E12", "... .. .. E10",
                         "... .. .. E21", "... .. .. X13", "... .. .. X10", "... .. .. X22", "... .. .. X30"},
                        3);
  auto p = trace(t, 30, [](const ChannelState& c) { return c.period; });
  std::vector<int> expected = {0, -32, -64, -64, -96, -128, -128, -80, -32, -64, -64, -64, -96, -96, -96,
                               -80, -80, -80, -92, -92, -92, -104, -104, -104, -96, -96, -96, -96, -96, -96};
  EXPECT_EQ(p, expected);
}

TEST(PitchEffects, PeriodChangesStayWithinTheHeaderBounds) {
  tune::Player t = play({"C-1 01 .. 2FF"}, 31);
  t.ticks(31);
  EXPECT_EQ(t.channel(0).period, 24576);
  EXPECT_EQ(t.channel(0).step, 0);
}

TEST(PitchEffects, TonePortamentoStopsAtTheTargetAndGlissandoRounds) {
  tune::Player t = play({"C-4 01", "D-4 .. .. 310", "... .. .. 300"}, 4);
  t.ticks(4);
  auto p = trace(t, 8, [](const ChannelState& c) { return c.period; });
  EXPECT_EQ(p, (std::vector<int>{0, -256, -512, -512, -512, -512, -512, -512}));

  tune::Player g = play({"C-4 01 .. E31", "D-4 .. .. 305"}, 6);
  g.ticks(6);
  auto w = trace(g, 6, [](const ChannelState& c) { return c.workPeriod; });
  // The period moves 80 per tick (0, -80, ... -400); the channel hears whole semitones.
  EXPECT_EQ(w, (std::vector<int>{0, 0, -256, -256, -256, -512}));
  EXPECT_EQ(g.channel(0).period, -400);
}

TEST(PitchEffects, VolumeColumnTonePortamentoRunsBeforeTheEffectsAndTwice) {
  tune::Player t = play({"C-4 01", "D-4 .. F1 301"}, 2);
  t.ticks(3);
  t.tick();
  EXPECT_EQ(t.channel(0).portaSpeed, 16);  // the effect's row handler ran last
  EXPECT_EQ(t.channel(0).period, -32);     // and the slide of 16 ran twice
}

TEST(PitchEffects, VibratoHalvesItsSpeedAndTakesItsWaveform) {
  tune::Player t = play({"C-4 01 .. 484", "... .. .. E41", "... .. .. 400"}, 4);
  auto p = trace(t, 4, [](const ChannelState& c) { return c.workPeriod; });
  // Speed 8 is stored as 32 and the position moves by half of it between rows.
  const int8_t* sine = t.p().WaveTables[0];
  std::vector<int> expected;
  for (int position : {0, 0, 16, 32}) expected.push_back((sine[position] * 16) >> 3);
  EXPECT_EQ(p, expected);
  t.ticks(4);  // E41: the ramp
  t.tick();
  EXPECT_EQ(t.channel(0).workPeriod, (t.p().WaveTables[1][48] * 16) >> 3);
}

// --- Panning ---------------------------------------------------------------------------------

TEST(PanningEffects, SetAndSlide) {
  tune::Player t = play({"C-4 01 .. 840", "... .. .. E8F", "... .. .. P20", "... .. .. P00", "... .. .. P05", "... .. C2",
                         "... .. E4", "... .. D8"},
                        2);
  auto v = trace(t, 16, [](const ChannelState& c) { return c.panning; });
  // Slides act between rows only: one step per row at speed 2.
  EXPECT_EQ(v, (std::vector<int>{64, 64, 255, 255, 255, 253, 253, 251, 251, 255, 34, 34, 34, 38, 38, 30}));
}

// --- Timing: retrigger, cut, delay, key-off ------------------------------------------------

TEST(TimingEffects, MultiRetriggerEveryIntervalPlusOne) {
  tune::Player t = play({"C-4 01 .. R13", "... .. .. R13 | ... .. .. EE1"}, 6);
  std::vector<int> restarts, volumes;
  for (int i = 0; i < 24; ++i) {
    t.channel(0).startPosition = -1;
    t.tick();
    if (t.channel(0).startPosition == 0) restarts.push_back(i);
    volumes.push_back(t.channel(0).volume);
  }
  // Row 0 is ticks 0..5, row 1 (held 12 ticks by EE1) ticks 6..17, then row 0 again with
  // its note. R13 restarts on the fourth tick counted from its row, then every 4 ticks.
  EXPECT_EQ(restarts, (std::vector<int>{0, 3, 9, 13, 17, 18, 21}));
  EXPECT_EQ(volumes[3], 63);
  EXPECT_EQ(volumes[9], 62);
  EXPECT_EQ(volumes[17], 60);
}

TEST(TimingEffects, RetriggerVolumeCodes) {
  for (auto [code, from, to] : std::vector<std::tuple<int, int, int>>{
           {1, 40, 39}, {5, 10, 0}, {6, 40, 25}, {7, 41, 20}, {9, 64, 64}, {13, 40, 56}, {14, 40, 60}, {15, 32, 64},
           {15, 20, 40}, {8, 33, 33}}) {
    char row[32];
    std::snprintf(row, sizeof row, "C-4 01 %02X R%X0", 0x10 + from, code);
    tune::Player t = play({row}, 6);
    t.tick();  // interval 0: the first restart comes on the row tick itself
    EXPECT_EQ(t.channel(0).volume, to) << code;
  }
}

TEST(TimingEffects, NoteRetriggerCutAndKeyOffTicks) {
  tune::Player t = play({"C-4 01 .. E92", "... .. .. EC3", "... .. .. EC0", "... .. .. K02"}, 6);
  std::vector<int> restarts;
  for (int i = 0; i < 6; ++i) {
    t.channel(0).startPosition = -1;
    t.tick();
    if (t.channel(0).startPosition == 0) restarts.push_back(i);
  }
  EXPECT_EQ(restarts, (std::vector<int>{0, 2, 4}));
  auto v = trace(t, 6, [](const ChannelState& c) { return c.volume; });
  EXPECT_EQ(v, (std::vector<int>{64, 64, 64, 0, 0, 0}));
  t.channel(0).volume = 50;
  t.ticks(6);
  EXPECT_EQ(t.channel(0).volume, 50);  // EC0 does nothing
  auto k = trace(t, 3, [](const ChannelState& c) { return c.keyOn * 1000 + (c.fade != 0); });
  EXPECT_EQ(k, (std::vector<int>{1001, 1001, 0}));
}

TEST(TimingEffects, SyncEffects) {
  tune::Player t = play({"C-4 01 .. S11", "... .. .. W22", "... .. .. EF3"}, 1);
  t.tick();
  EXPECT_EQ(t.p().syncValue, 0x11);
  t.tick();
  EXPECT_EQ(t.p().syncValue, 0x22);
  t.tick();
  EXPECT_EQ(t.p().syncValue, 3);
}

// --- Volume pipeline and envelopes ----------------------------------------------------------

ModuleSpec enveloped(EnvelopeSpec volume, EnvelopeSpec panning = {}, uint16_t fadeout = 0) {
  ModuleSpec m = tune::song({pattern_from_rows({"C-4 01", "==="})});
  m.patterns[0].rows.resize(16);
  m.speed = 1;
  m.instruments[0].volumeEnvelope = volume;
  m.instruments[0].panningEnvelope = panning;
  m.instruments[0].fadeout = fadeout;
  return m;
}

TEST(VolumePipeline, MasterGlobalAndFadeScaling) {
  tune::Player t = play({"C-4 01", "... .. .. G20", "... .. 20"}, 1);
  t.tick();
  EXPECT_EQ(t.channel(0).mixVolume, 128);
  t.tick();
  EXPECT_EQ(t.channel(0).mixVolume, 64);
  t.p().masterVolume = 48;
  t.tick();  // volume 16: 16 * 48 / 64 = 12, then * 32 * 32768 >> 20 = 12
  EXPECT_EQ(t.channel(0).mixVolume, 12);
}

TEST(VolumePipeline, FadeoutAfterKeyOff) {
  ModuleSpec m = enveloped({{{10, 64}, {0, 64}}, 0}, {}, 0x3000);
  tune::Player t(m);
  auto v = trace(t, 5, [](const ChannelState& c) { return c.mixVolume; });
  // Key-off on the second tick: that tick still uses the full fade, then 0x5000, 0x2000, 0.
  EXPECT_EQ(v, (std::vector<int>{128, 128, 80, 32, 0}));
}

TEST(VolumePipeline, VolumeEnvelopeInterpolates) {
  tune::Player t(enveloped({{{4, 48}, {4, 64}, {0, 0}}}));
  auto v = trace(t, 10, [](const ChannelState& c) { return c.mixVolume; });
  EXPECT_EQ(v[0], 96);   // e = 48
  EXPECT_EQ(v[2], 112);  // e = 56
  EXPECT_EQ(v[4], 128);
  EXPECT_EQ(v[6], 64);
  EXPECT_EQ(v[7], 32);
  EXPECT_EQ(v[8], 0);
  EXPECT_EQ(v[9], 0);
}

TEST(VolumePipeline, SustainThenLoopAfterKeyOff) {
  // Points 0..5 with values 10, 20, 30, 40, 50, 60; sustain 2, loop 3..5.
  EnvelopeSpec e{{{1, 10}, {1, 20}, {1, 30}, {1, 40}, {1, 50}, {0, 60}}, 2, 3, 5};
  ModuleSpec m = tune::song({pattern_from_rows({"C-4 01", "", "", "", "", "===", "", "", "", "", ""})});
  m.speed = 1;
  m.instruments[0].volumeEnvelope = e;
  tune::Player t(m);
  auto v = trace(t, 11, [](const ChannelState& c) { return c.mixVolume / 2; });
  EXPECT_EQ(v, (std::vector<int>{10, 20, 30, 30, 30, 30, 40, 50, 60, 60, 60}));
}

TEST(VolumePipeline, LoopReturnsToItsStartAfterShowingTheEnd) {
  EnvelopeSpec e{{{2, 0}, {2, 64}, {2, 32}, {0, 0}}, EnvelopeNone, 1, 2};
  tune::Player t(enveloped(e));
  auto v = trace(t, 10, [](const ChannelState& c) { return c.mixVolume / 2; });
  EXPECT_EQ(v, (std::vector<int>{0, 32, 64, 48, 32, 48, 32, 48, 32, 48}));
}

TEST(VolumePipeline, PanningEnvelopeLaw) {
  auto panned = [](uint8_t panning, uint16_t value) {
    ModuleSpec m = enveloped({}, {{{1, value}, {0, value}}});
    m.instruments[0].samples[0].panning = panning;
    tune::Player t(m);
    t.tick();
    return static_cast<int>(t.channel(0).mixPanning);
  };
  EXPECT_EQ(panned(64, 64), 128);
  EXPECT_EQ(panned(64, 0), 0);
  EXPECT_EQ(panned(200, 64), 255);
  EXPECT_EQ(panned(200, 0), 145);
  EXPECT_EQ(panned(200, 32), 200);
}

TEST(VolumePipeline, AutoVibratoGrowsOverItsSweep) {
  ModuleSpec m = enveloped({});
  m.instruments[0].vibratoDepth = 4;
  m.instruments[0].vibratoRate = 64;  // a quarter turn per tick: 0, 64, 0, -64 ...
  m.instruments[0].vibratoSweep = 4;
  tune::Player t(m);
  auto p = trace(t, 8, [](const ChannelState& c) { return c.workPeriod; });
  // a = floor(w * 4 / 16) = 16 at the crest, scaled by sweep 0/4, 1/4, 2/4, 3/4, then whole.
  EXPECT_EQ(p, (std::vector<int>{0, -4, 0, 12, 0, -16, 0, 16}));
}

TEST(VolumePipeline, EnvelopePositionEffect) {
  EnvelopeSpec e{{{4, 0}, {4, 64}, {0, 32}}};
  ModuleSpec m = tune::song({pattern_from_rows({"C-4 01", "... .. .. L06", "... .. .. L63"})});
  m.speed = 1;
  m.instruments[0].volumeEnvelope = e;
  tune::Player t(m);
  t.tick();
  t.tick();
  EXPECT_EQ(t.channel(0).volumeEnvelopePoint, 1u);
  EXPECT_EQ(t.channel(0).volumeEnvelopeTick, 3);  // set to (1, 2) then stepped once
  EXPECT_EQ(t.channel(0).mixVolume, 2 * (64 + (32 - 64) * 2 / 4));
  t.tick();
  EXPECT_EQ(t.channel(0).volumeEnvelopePoint, 2u);  // beyond the end: the last point
  EXPECT_EQ(t.channel(0).mixVolume, 64);
}

}  // namespace
