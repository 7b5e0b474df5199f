// The song walk, note triggering and the rendering loop, on their exact ticks and frames.
#include <gtest/gtest.h>

#include "player/pitch.h"
#include "tune.h"

namespace {

using namespace tune;

// A pattern of `count` empty rows with cells placed at given rows.
PatternDef rows_with(uint32_t count, std::vector<std::pair<uint32_t, std::string_view>> cells) {
  PatternDef p = empty_pattern(count);
  for (auto& [row, text] : cells) p.rows[row] = *parse_row(text);
  return p;
}

// Instrument 1 (volume 64, panning 200) and instrument 2: a quieter sample a semitone sharp.
ModuleDef two_instruments(std::initializer_list<std::string_view> text, uint8_t speed = 1) {
  ModuleDef m = rows(text, speed);
  SampleDef quiet = ramp_sample(500, LoopKind::Forward, 100, 400);
  quiet.volume = 40;
  quiet.panning = 30;
  quiet.pitchOffset = 256;
  m.instruments[0].samples[0].panning = 200;
  m.instruments.push_back(instrument(quiet));
  return m;
}

TEST(Sequencer, WalksAndTriggersOnTheirTicks) {
  PatternDef absent;
  absent.absent = true;
  const PatternDef delayed = rows_with(4, {{0, "C-4 01 61 EE2"}});
  check({
      // row * 100 + tick * 10 + rowTick: the first tick reads row 0; the speed sets the row length.
      {song({empty_pattern(8)}), [](const PlayerState& p) -> int64_t { return p.row * 100 + p.tick * 10 + p.rowTick; },
       {1, 10, 20, 30, 40, 50, 101}},
      {song({empty_pattern(8)}, {0}, 1), where, {0, 1, 2, 3, 4, 5, 6, 7, 0, 1}},
      // Pattern ends follow the order and wrap to the restart position.
      {song({empty_pattern(2), empty_pattern(3)}, {0, 1, 0}, 1, 1), where, {0, 1, 100, 101, 102, 200, 201, 100, 101}},
      // D00 on row 1, D15 on row 0, and a break on the last position goes to the restart position.
      {song({rows_with(4, {{1, "... .. .. D00"}}), rows_with(4, {{0, "... .. .. D15"}}),
             rows_with(32, {{16, "... .. .. D00"}})},
            {0, 1, 2}, 1, 1),
       where, {0, 1, 100, 215, 216, 100, 215, 216}},
      // Bxx beyond the song length goes to the restart position.
      {song({rows_with(4, {{1, "... .. .. B05"}}), empty_pattern(2)}, {0, 1}, 1, 1), where, {0, 1, 100, 101}},
      // A break after a jump in the same row keeps the jump's position and sets the row.
      {song({rows_with(4, {{0, "... .. .. B02 | ... .. .. D03"}}), empty_pattern(4), empty_pattern(5)}, {0, 1, 2}, 1),
       where, {0, 203}},
      // An order entry without pattern data, or naming a pattern of 0 rows, plays 64 empty rows.
      {song({empty_pattern(2), absent}, {1, 0}, 1), where, {63, 100}, 63},
      {song({empty_pattern(2), empty_pattern(0)}, {1, 0}, 1), where, {0, 1, 2}},
      {song({empty_pattern(2), empty_pattern(0)}, {1, 0}, 1), where, {63, 100}, 63},
      // E60 on row 4 and E62 on row 7 play rows 4 to 7 three times; E61 on row 10 loops from 8.
      {song({rows_with(16, {{4, "... .. .. E60"}, {7, "... .. .. E62"}, {10, "... .. .. E61"}})}, {0}, 1),
       [](const PlayerState& p) -> int64_t { return p.row; },
       {0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8, 9, 10, 8, 9, 10, 11, 12}},
      // EE2 at speed 6 holds the row for 18 ticks; the 17 after the row tick slide the volume.
      {song({delayed}), [](const PlayerState& p) -> int64_t { return p.patternDelay * 100 + first(p).volume; }, {264}},
      {song({delayed}), [](const PlayerState& p) -> int64_t { return p.row * 100 + first(p).volume; }, {47, 147}, 17},
      // F20 sets the tempo, F1F the speed, F00 does nothing.
      {song({rows_with(4, {{0, "... .. .. F20 | ... .. .. F1F"}, {1, "... .. .. F00"}})}),
       [](const PlayerState& p) -> int64_t { return p.row * 10000 + p.tempo * 100 + p.speed; }, {3231}},
      {song({rows_with(4, {{0, "... .. .. F20 | ... .. .. F1F"}, {1, "... .. .. F00"}})}),
       [](const PlayerState& p) -> int64_t { return p.row * 10000 + p.tempo * 100 + p.speed; }, {13231}, 31},
      // Key-off releases with an instrument and cuts without (no volume envelope); K00 with a
      // note and instrument sounds again, with a note alone it releases and cuts.
      {two_instruments({"C-4 01", "=== 01", "C-4 01", "===", "C-4 01 .. K00", "C-4 .. .. K00"}),
       [](const PlayerState& p) -> int64_t { return first(p).keyOn * 100000 + first(p).fade; },
       {132768, 32768, 132768, 0, 132768, 0}},
      // 903 starts at frame 768, 900 remembers it.
      {two_instruments({"C-4 01 .. 903", "C-4 01 .. 900", "C-4 01"}),
       [](const PlayerState& p) -> int64_t { return first(p).startPosition; }, {768, 768, 0}},
      // ED3 starts the note on tick 3 keeping the volume; ED0 triggers on the row tick.
      {two_instruments({"C-4 01 20 ED3", "D-4 02 .. ED0"}, 6),
       [](const PlayerState& p) -> int64_t { return first(p).active * 100 + first(p).volume; },
       {16, 16, 16, 116, 116, 116, 140}},
      {two_instruments({"C-4 01 20 ED3", "D-4 02 .. ED0"}, 6), period, {0, note_period(true, 51, 256)}, 5},
  });
}

TEST(Sequencer, StartPositionBeyondTheSongStartsAtTheRestartPosition) {
  Player t(song({empty_pattern(2), empty_pattern(3)}, {0, 1}, 6, 1), false);
  player_start(7);
  t.tick();
  EXPECT_EQ((Values{t.p().orderPosition, t.p().rowCount}), (Values{1, 3}));
}

TEST(Sequencer, JumpToThePlayingPositionKeepsLoopsAndAnotherClearsThem) {
  Player t(song({rows_with(4, {{0, "... .. .. E60"}, {1, "... .. .. B00"}}), empty_pattern(4)}, {0, 1}, 1));
  t.tick();
  t.channel(0).loopCount = 3;
  t.ticks(2);  // row 1 jumps to position 0 itself
  EXPECT_EQ((Values{t.p().row, t.channel(0).loopCount}), (Values{0, 3}));
  t.p().nextOrder = 1;
  t.tick();
  EXPECT_EQ((Values{t.p().orderPosition, t.channel(0).loopCount}), (Values{1, 0}));
}

// --- Targets and cells the format rules out: the walk never reads past a pattern -------------

TEST(Sequencer, BreakOrLoopTargetPastThePatternStartsItFromTheTop) {
  Player t(song({rows_with(4, {{0, "... .. .. D10"}}), rows_with(3, {{2, "... .. .. E63"}})}, {0, 1}, 1));
  t.ticks(2);
  EXPECT_EQ((Values{t.p().orderPosition, t.p().row}), (Values{1, 0}));  // row 10 of a 3-row pattern
  t.channel(0).loopRow = 9;  // row 2 loops back to a row past the end
  t.ticks(3);
  EXPECT_EQ((Values{t.p().orderPosition, t.p().row}), (Values{1, 0}));
}

TEST(Sequencer, CellsForMissingChannelsOrOutOfOrderAreSkippedWithoutLosingTheRow) {
  // Two channels. Row 0: channel 1, then channel 0 (out of order), then channel 5 (no such
  // channel), then channel 1 again. Row 1: channel 0 sets volume 0x10. Row 2: channel 5,
  // then channel 1 sets volume 0x28: the cell for no channel is stepped over.
  PatternDef p;
  p.raw = {0x41, 0x30, 0x40, 0x18, 0x45, 0x28, 0x41, 0x50, 0, 0x40, 0x20, 0, 0x45, 0x38, 0x41, 0x38, 0};
  p.rawRowCount = 3;
  ModuleDef m = song({p}, {0}, 1);
  m.channelCount = 2;
  std::vector<uint8_t> image = write_module_image(m);
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::BadCell);
  Player t(m);
  t.tick();  // only channel 1's first cell counts
  EXPECT_EQ((Values{t.channel(1).volume, t.channel(0).volume}), (Values{0x20, 0}));
  t.tick();
  EXPECT_EQ((Values{t.p().row, t.channel(0).volume}), (Values{1, 0x10}));
  t.tick();
  EXPECT_EQ((Values{t.p().row, t.channel(1).volume, t.channel(0).volume}), (Values{2, 0x28, 0x10}));
}

TEST(Sequencer, EffectNumbersBeyondTheTableCarryNoEffect) {
  // What the channel and the song do over two rows with a plain note; a cell effect of 52
  // or more (the table has 0..51) must change none of it.
  const auto walk = [](int16_t effect) {
    ModuleDef m = rows({"C-4 01 40", "... .. 30"}, 6);
    if (effect >= 0) {
      m.patterns[0].rows[0][0].effect = effect;
      m.patterns[0].rows[0][0].parameter = 0x24;
      m.patterns[0].rows[1][0].effect = effect;
      m.patterns[0].rows[1][0].parameter = 0x00;
    }
    Player t(m);
    Values out;
    for (int i = 0; i < 12; ++i) {
      t.tick();
      const ChannelState& c = t.channel(0);
      out.insert(out.end(), {c.currentEffect, c.volume, c.workVolume, c.period, c.workPeriod, c.panning,
                             c.startPosition, c.keyOn, t.p().speed, t.p().tempo, t.p().globalVolume,
                             t.p().patternDelay, t.p().row, t.p().syncValue});
    }
    return out;
  };
  const Values plain = walk(-1);
  for (int16_t effect : {52, 53, 60, 67, 83, 103, 104, 120, 135, 136, 200, 254}) {
    EXPECT_EQ(walk(effect), plain) << "effect " << effect;
  }
}

// --- Note triggering -----------------------------------------------------------------------------

TEST(Trigger, NoteWithInstrumentStartsTheSampleAndTheVolumeColumnOverrides) {
  Player t(two_instruments({"C-4 01 30", "D-4 02"}));
  const ChannelState& c = t.channel(0);
  t.tick();
  EXPECT_EQ((Values{c.active, c.volume, c.panning, c.period, c.step, c.boundAhead, c.boundBehind, c.startPosition,
                    c.keyOn, c.fade}),
            (Values{1, 32, 200, 0, 194, 1000, 0, 0, 1, FullFade}));
  EXPECT_EQ(c.instrumentRecord, t.p().header.instruments[0]);
  t.tick();
  EXPECT_EQ((Values{c.volume, c.panning, c.pitchOffset, c.period, c.boundAhead, c.boundBehind, c.voiceFlags}),
            (Values{40, 30, 256, note_period(true, 51, 256), 500, 100, SampleForwardLoop}));

  ModuleDef keep = two_instruments({"C-4 01"});
  keep.keepChannelPanning = true;
  keep.panning[0] = 77;
  Player k(keep);
  k.tick();
  EXPECT_EQ((Values{k.channel(0).panning, k.channel(0).volume}), (Values{77, 64}));
}

TEST(Trigger, TonePortamentoOnlySetsTheTarget) {
  Player t(two_instruments({"C-4 01", "E-4 .. .. 300", "D-4 .. F0", "G-4 01 .. 500"}));
  ChannelState& c = t.channel(0);
  t.tick();
  c.startPosition = -1;
  c.position = int64_t{123} << 32;
  t.tick();
  EXPECT_EQ((Values{c.portaTarget, c.startPosition, c.position}), (Values{note_period(true, 53, 0), -1, 123ll << 32}));
  t.tick();
  EXPECT_EQ((Values{c.portaTarget, c.startPosition}), (Values{note_period(true, 51, 0), -1}));
  c.volume = 3;
  t.tick();  // with an instrument: still no restart, but the volume resets
  EXPECT_EQ((Values{c.portaTarget, c.startPosition, c.volume}), (Values{note_period(true, 56, 0), -1, 64}));
}

TEST(Trigger, NoteWithoutInstrumentOnAFreshChannelDoesNothing) {
  Player t(two_instruments({"C-4", "... 01", "D-4"}));
  const ChannelState& c = t.channel(0);
  t.tick();
  EXPECT_EQ((Values{c.active, c.lastNote}), (Values{0, 0}));
  t.tick();  // the instrument alone selects it; keyOn is still 0, so nothing resets
  EXPECT_EQ((Values{c.instrument, c.volume, c.active}), (Values{1, 0, 0}));
  t.tick();  // a note without instrument number now starts the sample but keeps the volume
  EXPECT_EQ((Values{c.active, c.volume, c.lastNote}), (Values{1, 0, 51}));
  EXPECT_EQ(c.instrumentRecord, nullptr);
}

TEST(Trigger, NumbersOutsideTheTuneAreIgnored) {
  ModuleDef m = two_instruments({"C-4 01 20", "D-4 01"});
  m.instruments[0].keyMap[50] = 5;  // note 51 names sample 5 of a one-sample instrument
  Player t(m);
  t.ticks(2);
  const ChannelState& c = t.channel(0);  // no new sample and no reset either
  EXPECT_EQ((Values{c.lastNote, c.period, c.keyOn, c.volume}), (Values{51, 0, 1, 16}));

  Player i(two_instruments({"C-4 02", "D-4 07 10"}));  // instrument 7 of 2
  i.ticks(2);
  EXPECT_EQ((Values{i.channel(0).instrument, i.channel(0).period, i.channel(0).volume}),
            (Values{2, note_period(true, 51, 256), 0}));
}

// --- The rendering loop --------------------------------------------------------------------------

// Frames at which ticks ran, rendering one frame per call (speed 2, so `tick` flips).
Values tick_frames(Player& t, uint32_t frames) {
  Values at;
  int32_t mix[2];
  for (uint32_t f = 0, last = t.p().tick; f < frames; last = t.p().tick, ++f)
    if (player_render(1, mix), t.p().tick != last) at.push_back(f);
  return at;
}

TEST(Render, TickLengthsCarryTheirFractions) {
  EXPECT_EQ(tick_length(125), 882u * 256);
  Player t(steady_tone(125));
  Values at = tick_frames(t, 882 * 20 + 1), every882;
  for (int i = 0; i <= 20; ++i) every882.push_back(882 * i);
  EXPECT_EQ(at, every882);
  Player u(steady_tone(128));
  at = tick_frames(u, 861329);
  ASSERT_EQ(at.size(), 1001u);
  EXPECT_EQ((Values{at[0], at[1], at[2], at[1000]}), (Values{0, 861, 1722, 861328}));
}

TEST(Render, FirstRenderReadsRowZeroBeforeMixingAndWritesOnlyTheFramesAskedFor) {
  ModuleDef m = steady_tone(125);
  m.patterns = {pattern_from_rows({"C-4 01 .. F40"})};
  Player t(m);
  std::vector<int32_t> mix(12, 7);
  player_render(0, mix.data());
  EXPECT_EQ((Values{mix[0], t.p().TickClock, t.p().rowTick}), (Values{7, 0, 0}));  // not even a tick
  player_render(5, mix.data());
  // Channel volume 64 at full master, global and fade levels gives mixer volume 128.
  EXPECT_EQ((Values{t.p().row, t.p().rowTick, t.channel(0).mixVolume, mix[0], mix[1], mix[9], mix[10]}),
            (Values{0, 1, 128, 6350, 6400, 6400, 7}));
  // F40 times the very tick it was read on.
  EXPECT_EQ((Values{t.p().tempo, t.p().TickClock}), (Values{64, tick_length(64) - 5 * 256}));
}

TEST(Render, StopAndStartOnlyActOnTheOtherState) {
  Player t(steady_tone(125), false);
  std::vector<int32_t> mix(8, 7), silence(8, 0);
  player_render(4, mix.data());
  EXPECT_EQ(mix, silence);
  player_stop();
  EXPECT_EQ(t.p().playing.load(), 0);
  player_start(0);
  player_render(4, mix.data());
  uint32_t clock = t.p().TickClock;
  int64_t position = t.channel(0).position;
  player_start(0);  // playing already: nothing changes
  EXPECT_EQ((Values{t.channel(0).position, t.p().tick}), (Values{position, 0}));
  player_stop();
  player_render(4, mix.data());
  EXPECT_EQ(mix, silence);
  EXPECT_EQ(t.p().TickClock, clock);  // the clock keeps its value across stop and start
  player_start(0);
  EXPECT_EQ((Values{t.channel(0).active, t.p().tick}), (Values{0, 1}));  // channels start afresh

  // Stopped while a pattern delay holds row 0: the next start reads row 0 on its first tick.
  ModuleDef delayed = steady_tone(125, 1);
  delayed.patterns = {pattern_from_rows({"C-4 01 .. EE5", "... .. 20"})};
  Player d(delayed);
  d.ticks(2);
  ASSERT_EQ(d.p().patternDelay, 4);
  player_stop();
  player_start(0);
  d.tick();
  EXPECT_EQ((Values{d.p().rowTick, d.p().row, d.p().patternDelay, d.channel(0).active}), (Values{1, 0, 5, 1}));
}

TEST(Render, MasterVolumeSyncAndPosition) {
  ModuleDef m = steady_tone(125, 1);
  m.patterns = {pattern_from_rows({"C-4 01 .. W2A", "", "... .. .. B00"}), pattern_from_rows({""})};
  Player t(m);
  player_set_master_volume(32);
  int32_t mix[2];
  player_render(1, mix);
  EXPECT_EQ((Values{player_get_sync(), t.channel(0).mixVolume, player_get_position()}), (Values{0x2A, 64, 0}));
  for (int i = 0; i < 882; ++i) player_render(1, mix);
  EXPECT_EQ(player_get_position(), 0x0001);
}

}  // namespace
