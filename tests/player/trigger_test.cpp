// Note triggering: which cells start samples, at which period, and what they reset.
#include <gtest/gtest.h>

#include "player/pitch.h"
#include "tune.h"

namespace {

ModuleSpec two_instruments(std::vector<std::string_view> rows) {
  PatternSpec p;
  for (std::string_view r : rows) p.rows.push_back(*parse_row(r));
  ModuleSpec m = tune::song({p});
  m.speed = 1;
  SampleSpec quiet = tune::ramp_sample(500, LoopKind::Forward, 100, 400);
  quiet.volume = 40;
  quiet.panning = 30;
  quiet.pitchOffset = 256;
  m.instruments[0].samples[0].volume = 64;
  m.instruments[0].samples[0].panning = 200;
  m.instruments.push_back(tune::instrument(quiet));
  return m;
}

TEST(Trigger, NoteWithInstrumentStartsTheSampleAndTheVolumeColumnOverrides) {
  tune::Player t(two_instruments({"C-4 01 30", "D-4 02"}));
  t.tick();
  ChannelState& c = t.channel(0);
  EXPECT_EQ(c.active, 1);
  EXPECT_EQ(c.volume, 32);
  EXPECT_EQ(c.panning, 200);
  EXPECT_EQ(c.period, 0);
  EXPECT_EQ(c.step, 194);
  EXPECT_EQ(c.boundAhead, 1000u);
  EXPECT_EQ(c.boundBehind, 0u);
  EXPECT_EQ(c.startPosition, 0);
  EXPECT_EQ(c.keyOn, 1);
  EXPECT_EQ(c.fade, FullFade);
  EXPECT_EQ(c.instrumentRecord, t.p().header.instruments[0]);
  t.tick();
  EXPECT_EQ(c.volume, 40);
  EXPECT_EQ(c.panning, 30);
  EXPECT_EQ(c.pitchOffset, 256);
  EXPECT_EQ(c.period, note_period(true, 51, 256));
  EXPECT_EQ(c.boundAhead, 500u);
  EXPECT_EQ(c.boundBehind, 100u);
  EXPECT_EQ(c.voiceFlags, SampleForwardLoop);
}

TEST(Trigger, KeepChannelPanningFlag) {
  ModuleSpec m = two_instruments({"C-4 01"});
  m.keepChannelPanning = true;
  m.panning[0] = 77;
  tune::Player t(m);
  t.tick();
  EXPECT_EQ(t.channel(0).panning, 77);
  EXPECT_EQ(t.channel(0).volume, 64);
}

TEST(Trigger, TonePortamentoOnlySetsTheTarget) {
  tune::Player t(two_instruments({"C-4 01", "E-4 .. .. 300", "D-4 .. F0", "G-4 01 .. 500"}));
  t.tick();
  ChannelState& c = t.channel(0);
  c.startPosition = -1;
  c.position = int64_t{123} << 32;
  t.tick();
  EXPECT_EQ(c.portaTarget, note_period(true, 53, 0));
  EXPECT_EQ(c.startPosition, -1);
  EXPECT_EQ(c.position, int64_t{123} << 32);
  t.tick();
  EXPECT_EQ(c.portaTarget, note_period(true, 51, 0));
  EXPECT_EQ(c.startPosition, -1);
  c.volume = 3;
  t.tick();  // with an instrument: still no restart, but volume and envelopes reset
  EXPECT_EQ(c.portaTarget, note_period(true, 56, 0));
  EXPECT_EQ(c.startPosition, -1);
  EXPECT_EQ(c.volume, 64);
}

TEST(Trigger, NoteWithoutInstrumentOnAFreshChannelDoesNothing) {
  tune::Player t(two_instruments({"C-4", "... 01", "D-4"}));
  t.tick();
  ChannelState& c = t.channel(0);
  EXPECT_EQ(c.active, 0);
  EXPECT_EQ(c.lastNote, 0);
  t.tick();  // the instrument alone selects it; keyOn is still 0, so nothing resets
  EXPECT_EQ(c.instrument, 1);
  EXPECT_EQ(c.volume, 0);
  EXPECT_EQ(c.active, 0);
  t.tick();  // a note without instrument number now starts the sample but keeps volume
  EXPECT_EQ(c.active, 1);
  EXPECT_EQ(c.volume, 0);
  EXPECT_EQ(c.instrumentRecord, nullptr);
  EXPECT_EQ(c.lastNote, 51);
}

TEST(Trigger, KeyOffReleasesWithInstrumentAndCutsWithout) {
  tune::Player t(two_instruments({"C-4 01", "=== 01", "C-4 01", "===", "C-4 01 .. K00", "C-4 .. .. K00"}));
  ChannelState& c = t.channel(0);
  t.tick();
  t.tick();
  EXPECT_EQ(c.keyOn, 0);
  EXPECT_EQ(c.fade, FullFade);
  EXPECT_EQ(c.active, 1);
  t.tick();
  EXPECT_EQ(c.keyOn, 1);
  t.tick();
  EXPECT_EQ(c.keyOn, 0);
  EXPECT_EQ(c.fade, 0);  // no volume envelope: the note stops at once
  t.tick();              // K00 with note and instrument: sounds again
  EXPECT_EQ(c.keyOn, 1);
  EXPECT_EQ(c.fade, FullFade);
  t.tick();  // K00 with a note but no instrument: released and cut
  EXPECT_EQ(c.keyOn, 0);
  EXPECT_EQ(c.fade, 0);
}

TEST(Trigger, SampleOffsetAndItsMemory) {
  tune::Player t(two_instruments({"C-4 01 .. 903", "C-4 01 .. 900", "C-4 01"}));
  ChannelState& c = t.channel(0);
  t.tick();
  EXPECT_EQ(c.startPosition, 768);
  t.tick();
  EXPECT_EQ(c.startPosition, 768);
  t.tick();
  EXPECT_EQ(c.startPosition, 0);
}

TEST(Trigger, KeyMapSampleOutsideTheInstrumentIsIgnored) {
  ModuleSpec m = two_instruments({"C-4 01 20", "D-4 01"});
  m.instruments[0].keyMap[50] = 5;  // note 51 names sample 5 of a one-sample instrument
  tune::Player t(m);
  ChannelState& c = t.channel(0);
  t.tick();
  t.tick();
  EXPECT_EQ(c.lastNote, 51);
  EXPECT_EQ(c.period, 0);      // still C-4
  EXPECT_EQ(c.keyOn, 1);
  EXPECT_EQ(c.volume, 16);     // no reset either
}

TEST(Trigger, InstrumentAboveTheCountIsIgnored) {
  tune::Player t(two_instruments({"C-4 02", "D-4 07 10"}));
  ChannelState& c = t.channel(0);
  t.tick();
  t.tick();
  EXPECT_EQ(c.instrument, 2);
  EXPECT_EQ(c.period, note_period(true, 51, 256));
  EXPECT_EQ(c.volume, 0);
}

TEST(Trigger, NoteDelayStartsLaterKeepingVolume) {
  ModuleSpec m = two_instruments({"C-4 01 20 ED3", "D-4 02 .. ED0"});
  m.speed = 6;
  tune::Player t(m);
  ChannelState& c = t.channel(0);
  t.tick();
  EXPECT_EQ(c.active, 0);
  EXPECT_EQ(c.volume, 16);
  t.ticks(2);
  EXPECT_EQ(c.active, 0);
  t.tick();
  EXPECT_EQ(c.active, 1);
  EXPECT_EQ(c.volume, 16);  // the delayed trigger keeps the channel's volume
  EXPECT_EQ(c.period, 0);
  t.ticks(2);
  t.tick();  // ED0 triggers on the row tick like a plain note
  EXPECT_EQ(c.period, note_period(true, 51, 256));
  EXPECT_EQ(c.volume, 40);
}

}  // namespace
