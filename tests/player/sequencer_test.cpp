// The song walk: rows, speeds, jumps, breaks, loops and delays on their exact ticks.
#include <gtest/gtest.h>

#include "tune.h"

namespace {

using Rows = std::vector<std::pair<uint32_t, uint32_t>>;

// A pattern of `count` empty rows with cells placed at given rows.
PatternSpec rows_with(uint32_t count, std::vector<std::pair<uint32_t, std::string_view>> cells) {
  PatternSpec p = empty_pattern(count);
  for (auto& [row, text] : cells) p.rows[row] = *parse_row(text);
  return p;
}

TEST(Sequencer, FirstTickReadsRowZeroAndSpeedSetsRowLength) {
  ModuleSpec m = tune::song({empty_pattern(8)});
  tune::Player t(m);
  t.tick();
  EXPECT_EQ(t.p().rowTick, 1);
  EXPECT_EQ(t.p().row, 0u);
  EXPECT_EQ(t.p().rowCount, 8u);
  for (int i = 1; i < 6; ++i) {
    t.tick();
    EXPECT_EQ(t.p().rowTick, 0) << i;
    EXPECT_EQ(t.p().tick, i);
  }
  t.tick();
  EXPECT_EQ(t.p().rowTick, 1);
  EXPECT_EQ(t.p().row, 1u);

  m.speed = 1;
  tune::Player fast(m);
  for (uint32_t i = 0; i < 10; ++i) {
    fast.tick();
    EXPECT_EQ(fast.p().rowTick, 1);
    EXPECT_EQ(fast.p().row, i % 8);
  }
}

TEST(Sequencer, PatternEndsFollowTheOrderAndWrapToTheRestartPosition) {
  ModuleSpec m = tune::song({empty_pattern(2), empty_pattern(3)}, {0, 1, 0});
  m.speed = 1;
  m.restartPosition = 1;
  tune::Player t(m);
  EXPECT_EQ(t.rows(10), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {1, 2}}));
}

TEST(Sequencer, StartPositionBeyondTheSongStartsAtTheRestartPosition) {
  ModuleSpec m = tune::song({empty_pattern(2), empty_pattern(3)}, {0, 1});
  m.restartPosition = 1;
  tune::Player t(m, false);
  player_start(7);
  t.tick();
  EXPECT_EQ(t.p().orderPosition, 1u);
  EXPECT_EQ(t.p().rowCount, 3u);
}

TEST(Sequencer, PatternDelayHoldsTheRowWhileTicksGoOn) {
  // EE2 at speed 6: the row lasts 18 ticks; the 17 after the row tick slide the volume.
  ModuleSpec m = tune::song({rows_with(4, {{0, "C-4 01 61 EE2"}})});
  tune::Player t(m);
  t.tick();
  EXPECT_EQ(t.channel(0).volume, 64);
  EXPECT_EQ(t.p().patternDelay, 2);
  int ticks = 1;
  while (!(t.tick(), t.p().rowTick)) ++ticks;
  EXPECT_EQ(ticks, 18);
  EXPECT_EQ(t.p().row, 1u);
  EXPECT_EQ(t.channel(0).volume, 64 - 17);
}

TEST(Sequencer, BreaksAndJumps) {
  // Position 0: D00 on row 1. Position 1: D15 on row 0. Position 2 (pattern 2): break on
  // the last position goes to the restart position.
  ModuleSpec m = tune::song({rows_with(4, {{1, "... .. .. D00"}}), rows_with(4, {{0, "... .. .. D15"}}),
                             rows_with(32, {{16, "... .. .. D00"}})},
                            {0, 1, 2});
  m.speed = 1;
  m.restartPosition = 1;
  tune::Player t(m);
  Rows r = t.rows(8);
  EXPECT_EQ(r, (Rows{{0, 0}, {0, 1}, {1, 0}, {2, 15}, {2, 16}, {1, 0}, {2, 15}, {2, 16}}));

  ModuleSpec jump = tune::song({rows_with(4, {{1, "... .. .. B05"}}), empty_pattern(2)}, {0, 1});
  jump.speed = 1;
  jump.restartPosition = 1;
  tune::Player j(jump);
  EXPECT_EQ(j.rows(4), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));

  // A break after a jump in the same row keeps the jump's position and sets the row.
  ModuleSpec both = tune::song({rows_with(4, {{0, "... .. .. B02 | ... .. .. D03"}}), empty_pattern(4),
                                empty_pattern(5)},
                               {0, 1, 2});
  both.speed = 1;
  tune::Player b(both);
  EXPECT_EQ(b.rows(2), (Rows{{0, 0}, {2, 3}}));
}

TEST(Sequencer, PatternLoopPlaysRowsThreeTimesThenLoopsFromAfterIt) {
  ModuleSpec m = tune::song({rows_with(16, {{4, "... .. .. E60"}, {7, "... .. .. E62"}, {10, "... .. .. E61"}})});
  m.speed = 1;
  tune::Player t(m);
  std::vector<uint32_t> rows;
  for (auto [order, row] : t.rows(24)) rows.push_back(row);
  EXPECT_EQ(rows, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8, 9, 10, 8, 9, 10, 11, 12}));
}

TEST(Sequencer, JumpToThePlayingPositionKeepsLoopsAndAnotherClearsThem) {
  ModuleSpec m = tune::song({rows_with(4, {{0, "... .. .. E60"}, {1, "... .. .. B00"}}), empty_pattern(4)},
                            {0, 1});
  m.speed = 1;
  tune::Player t(m);
  t.ticks(1);
  t.channel(0).loopCount = 3;
  t.ticks(2);  // row 1 jumps to position 0 itself
  EXPECT_EQ(t.p().row, 0u);
  EXPECT_EQ(t.channel(0).loopCount, 3);
  t.p().nextOrder = 1;
  t.tick();
  EXPECT_EQ(t.p().orderPosition, 1u);
  EXPECT_EQ(t.channel(0).loopCount, 0);
}

TEST(Sequencer, SpeedAndTempo) {
  ModuleSpec m = tune::song({rows_with(4, {{0, "... .. .. F20 | ... .. .. F1F"}, {1, "... .. .. F00"}})});
  tune::Player t(m);
  t.tick();
  EXPECT_EQ(t.p().tempo, 32u);
  EXPECT_EQ(t.p().speed, 31);
  t.ticks(31);
  EXPECT_EQ(t.p().row, 1u);
  EXPECT_EQ(t.p().speed, 31);  // F00 does nothing
  EXPECT_EQ(t.p().tempo, 32u);
}

// --- Targets and cells the format rules out: the walk never reads past a pattern -------------

TEST(Sequencer, BreakOrLoopTargetPastThePatternStartsItFromTheTop) {
  ModuleSpec m = tune::song({rows_with(4, {{0, "... .. .. D10"}}), rows_with(3, {{2, "... .. .. E63"}})}, {0, 1});
  m.speed = 1;
  tune::Player t(m);
  t.tick();
  t.tick();
  EXPECT_EQ(t.p().orderPosition, 1u);
  EXPECT_EQ(t.p().row, 0u);  // row 10 of a 3-row pattern
  // Row 2 loops back to a loop row past the pattern's end.
  t.channel(0).loopRow = 9;
  t.ticks(2);
  t.tick();
  EXPECT_EQ(t.p().row, 0u);
  EXPECT_EQ(t.p().orderPosition, 1u);
}

TEST(Sequencer, OrderEntryWithoutPatternDataPlaysSixtyFourEmptyRows) {
  PatternSpec absent;
  absent.absent = true;
  ModuleSpec m = tune::song({empty_pattern(2), absent}, {1, 0});
  m.speed = 1;
  std::vector<uint8_t> image = write_module_image(m);
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);
  tune::Player t(m);
  Rows r = t.rows(66);
  EXPECT_EQ(r[63], (std::pair<uint32_t, uint32_t>{0, 63}));
  EXPECT_EQ(r[64], (std::pair<uint32_t, uint32_t>{1, 0}));
}

TEST(Sequencer, CellsForMissingChannelsOrOutOfOrderAreSkippedWithoutLosingTheRow) {
  // Two channels. Row 0: channel 1, then channel 0 (out of order), then channel 5 (no such
  // channel), then channel 1 again. Row 1: channel 0 sets volume 0x20.
  PatternSpec p;
  p.raw = {0x41, 0x30, 0x40, 0x18, 0x45, 0x28, 0x41, 0x50, 0, 0x40, 0x20, 0};
  p.rawRowCount = 2;
  ModuleSpec m = tune::song({p});
  m.channelCount = 2;
  m.speed = 1;
  std::vector<uint8_t> image = write_module_image(m);
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::BadCell);
  tune::Player t(m);
  t.tick();
  EXPECT_EQ(t.channel(1).volume, 0x20);  // the first cell of channel 1
  EXPECT_EQ(t.channel(0).volume, 0);     // its cell came after channel 1's
  t.tick();
  EXPECT_EQ(t.p().row, 1u);
  EXPECT_EQ(t.channel(0).volume, 0x10);  // row 1 read from its own first byte
}

}  // namespace
