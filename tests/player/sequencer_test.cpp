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
  ModuleDef badKey = two_instruments({"C-4 01 20", "D-4 01"});
  badKey.instruments[0].keyMap[50] = 5;  // note 51 names sample 5 of a one-sample instrument
  const ModuleDef porta = two_instruments({"C-4 01", "E-4 .. .. 300", "D-4 .. F0", "G-4 01 .. 500"});
  const Field loop = [](const PlayerState& p) -> int64_t { return first(p).boundAhead * 1000 + first(p).boundBehind; };
  const Field levels = [](const PlayerState& p) -> int64_t { return first(p).volume * 1000 + first(p).panning; };
  const Field sounding = [](const PlayerState& p) -> int64_t { return first(p).active * 100 + first(p).volume; };
  const Field pitchAndVolume = [](const PlayerState& p) -> int64_t { return first(p).period * 100 + first(p).volume; };
  check({
      // The speed sets the row length; pattern ends follow the order and wrap to the restart position.
      {song({empty_pattern(8)}), where, {0, 0, 0, 0, 0, 0, 1}},
      {song({empty_pattern(2), empty_pattern(3)}, {0, 1, 0}, 1, 1), where, {0, 1, 100, 101, 102, 200, 201, 100, 101}},
      // D00 on row 1, D15 on row 0, and a break on the last position goes to the restart position.
      {song({rows_with(4, {{1, "... .. .. D00"}}), rows_with(4, {{0, "... .. .. D15"}}),
             rows_with(32, {{16, "... .. .. D00"}})},
            {0, 1, 2}, 1, 1),
       where, {0, 1, 100, 215, 216, 100, 215, 216}},
      // Bxx beyond the song length goes to the restart position; a break past the pattern's end
      // starts the next pattern from its top.
      {song({rows_with(4, {{1, "... .. .. B05"}}), empty_pattern(2)}, {0, 1}, 1, 1), where, {0, 1, 100, 101}},
      {song({rows_with(4, {{0, "... .. .. D10"}}), empty_pattern(3)}, {0, 1}, 1), where, {0, 100, 101}},
      // A break after a jump in the same row keeps the jump's position and sets the row.
      {song({rows_with(4, {{0, "... .. .. B02 | ... .. .. D03"}}), empty_pattern(4), empty_pattern(5)}, {0, 1, 2}, 1),
       where, {0, 203}},
      // An order entry without pattern data, or naming a pattern of 0 rows, plays 64 empty rows.
      {song({empty_pattern(2), absent}, {1, 0}, 1), where, {63, 100}, 63},
      {song({empty_pattern(2), empty_pattern(0)}, {1, 0}, 1), where, {63, 100}, 63},
      // E60 on row 4 and E62 on row 7 play rows 4 to 7 three times; E61 on row 10 loops from 8.
      {song({rows_with(16, {{4, "... .. .. E60"}, {7, "... .. .. E62"}, {10, "... .. .. E61"}})}, {0}, 1),
       [](const PlayerState& p) -> int64_t { return p.row; },
       {0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8, 9, 10, 8, 9, 10, 11, 12}},
      // EE2 at speed 6 holds the row for 18 ticks; the 17 after the row tick slide the volume.
      {song({rows_with(4, {{0, "C-4 01 61 EE2"}})}),
       [](const PlayerState& p) -> int64_t { return p.row * 100 + first(p).volume; }, {47, 147}, 17},
      // F20 sets the tempo, F1F the speed, F00 does nothing.
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
      {two_instruments({"C-4 01 20 ED3", "D-4 02 .. ED0"}, 6), sounding, {16, 16, 16, 116, 116, 116, 140}},
      // A note with instrument takes the sample's volume, panning, pitch and loop; the volume
      // column overrides the volume.
      {two_instruments({"C-4 01 30", "D-4 02"}), levels, {32200, 40030}},
      {two_instruments({"C-4 01 30", "D-4 02"}), loop, {1000000, 500100}},
      {two_instruments({"C-4 01 30", "D-4 02"}), period, {0, -768}},
      // A note without instrument on a fresh channel sounds only once an instrument is chosen,
      // and keeps the volume (0) then.
      {two_instruments({"C-4", "... 01", "D-4"}), sounding, {0, 0, 100}},
      // Tone portamento only sets the target: the note is not played.
      {porta, [](const PlayerState& p) -> int64_t { return first(p).portaTarget; }, {-1024, -512, -1792}, 1},
      {porta, period, {0, 0, 0, 0}},
      // A sample or instrument number outside the tune changes neither pitch nor volume.
      {badKey, pitchAndVolume, {16, 16}},
      {two_instruments({"C-4 02", "D-4 07 10"}), pitchAndVolume, {-25560, -76800}},
  });
}

TEST(Sequencer, StartPositionBeyondTheSongStartsAtTheRestartPosition) {
  Player t(song({empty_pattern(2), empty_pattern(3)}, {0, 1}, 6, 1), false);
  player_start(7);
  t.tick();
  EXPECT_EQ((Values{t.p().orderPosition, t.p().rowCount}), (Values{1, 3}));
}

// A cell effect number beyond the table (0..51) passes the validator: it must carry no effect.
TEST(Sequencer, EffectNumbersBeyondTheTableCarryNoEffect) {
  const auto walk = [](int16_t effect) {
    ModuleDef m = rows({"C-4 01 40", "... .. 30"}, 6);
    m.patterns[0].rows[0][0].effect = effect;  // -1: none
    m.patterns[0].rows[0][0].parameter = 0x24;
    Player t(m);
    Values out;
    for (int i = 0; i < 12; ++i) {
      t.tick();
      const ChannelState& c = t.channel(0);
      out.insert(out.end(), {c.volume, c.workPeriod, c.panning, c.startPosition, c.keyOn, t.p().speed,
                             t.p().tempo, t.p().globalVolume, t.p().row, t.p().syncValue});
    }
    return out;
  };
  const Values plain = walk(-1);
  for (int16_t effect : {52, 67, 136, 254}) EXPECT_EQ(walk(effect), plain) << "effect " << effect;
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
  // At 128 BPM a tick is 861.328125 frames: the fractions add up to a whole frame now and then.
  Player u(steady_tone(128));
  Values at = tick_frames(u, 861329);
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

TEST(Render, StartWhilePlayingChangesNothingAndARestartBeginsAfresh) {
  Player t(steady_tone(125));
  std::vector<int32_t> mix(8);
  player_render(4, mix.data());
  int64_t position = t.channel(0).position;
  player_start(0);  // playing already: nothing changes
  EXPECT_EQ((Values{t.channel(0).position, t.p().tick}), (Values{position, 0}));
  player_stop();
  player_start(0);
  EXPECT_EQ((Values{t.channel(0).active, t.p().tick}), (Values{0, 1}));  // channels start afresh
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
