#include <gtest/gtest.h>

#include <cmath>

#include "player/pitch.h"
#include "player/module.h"

namespace {

TEST(Pitch, TablesFollowTheirRules) {
  for (int n = 0; n < 16; ++n) {
    EXPECT_EQ(PitchFine[n], std::lround(32768 * std::exp2(-n / 3072.0)));
    EXPECT_EQ(PitchSixteenth[n], std::lround(32768 * std::exp2(-n / 192.0)));
    EXPECT_EQ(PitchSemitone[n], std::lround(32768 * std::exp2(-n / 12.0)));
    EXPECT_EQ(PitchBase[n], std::lround(6848 * std::exp2(-(n - 8) * 4 / 3.0)));
  }
}

TEST(Pitch, PitchValue) {
  EXPECT_EQ(pitch_value(0), 6848u);
  EXPECT_EQ(pitch_value(-3072), 13696u);
  EXPECT_EQ(pitch_value(3072), 3424u);
  EXPECT_EQ(pitch_value(256), 6463u);
  EXPECT_EQ(pitch_value(1), 6846u);
  EXPECT_EQ(pitch_value(-18432), 438281u);
  // Only the low 16 bits of x + 32768 count.
  EXPECT_EQ(pitch_value(65536), pitch_value(0));
  EXPECT_EQ(pitch_value(INT32_MIN), pitch_value(0));
}

TEST(Pitch, NotePeriodsInBothScales) {
  EXPECT_EQ(note_period(true, 1, 0), 12288);
  EXPECT_EQ(note_period(true, 49, 0), 0);
  EXPECT_EQ(note_period(true, 61, 0), -3072);
  EXPECT_EQ(note_period(true, 96, 0), -12032);
  EXPECT_EQ(note_period(false, 1, 0), 109568);
  EXPECT_EQ(note_period(false, 49, 0), 6848);
  EXPECT_EQ(note_period(false, 61, 0), 3424);
  // A pitch offset of +256 is one semitone up, in both scales.
  EXPECT_EQ(note_period(true, 49, 256), note_period(true, 50, 0));
  EXPECT_EQ(note_period(false, 49, 256), note_period(false, 50, 0));
  EXPECT_EQ(note_period(true, 49, -128), 128);
}

TEST(Pitch, Steps) {
  EXPECT_EQ(period_step(true, note_period(true, 49, 0)), 194);
  EXPECT_EQ(period_step(false, note_period(false, 49, 0)), 194);
  EXPECT_EQ(period_step(true, -3072), 388);
  EXPECT_EQ(period_step(false, 3424), 388);
  EXPECT_EQ(period_step(true, note_period(true, 96, 0)), 2930);
  EXPECT_EQ(period_step(false, note_period(false, 96, 0)), 2932);
  // The bounds of the tunes' ranges.
  EXPECT_EQ(period_step(true, -18432), 12420);
  EXPECT_EQ(period_step(true, 24576), 0);
  EXPECT_EQ(period_step(false, 438272), 2);
  // Amiga periods below 100 are taken as the step itself; negative ones compare unsigned.
  EXPECT_EQ(period_step(false, 99), 98);
  EXPECT_EQ(period_step(false, -5), 0);
  for (int32_t p = -18432; p <= 24576; p += 37) EXPECT_EQ(period_step(true, p) & 1, 0);
}

TEST(Pitch, ClampUsesTheHeaderBounds) {
  ModuleHeader h{};
  h.minimumPeriod = 107;
  h.maximumPeriod = 438272;
  EXPECT_EQ(clamp_period(h, 50), 107);
  EXPECT_EQ(clamp_period(h, 500000), 438272);
  EXPECT_EQ(clamp_period(h, 6848), 6848);
  h.minimumPeriod = -18432;
  EXPECT_EQ(clamp_period(h, -20000), -18432);
}

TEST(Pitch, GlissandoRounding) {
  EXPECT_EQ(round_to_semitone(true, 130, 0), 256);
  EXPECT_EQ(round_to_semitone(true, 127, 0), 0);
  EXPECT_EQ(round_to_semitone(true, 128, 0), 256);  // halves go to the lower pitch
  EXPECT_EQ(round_to_semitone(true, -129, 0), -256);
  EXPECT_EQ(round_to_semitone(true, -128, 0), 0);
  EXPECT_EQ(round_to_semitone(true, 100, 20), -20);  // note periods of a sample 20/256 sharp
  EXPECT_EQ(round_to_semitone(true, 120, 20), 236);
  // Amiga: the nearest note period, the lower note on a tie.
  int32_t c4 = note_period(false, 49, 0), cs4 = note_period(false, 50, 0);
  EXPECT_EQ(round_to_semitone(false, c4 - 10, 0), c4);
  EXPECT_EQ(round_to_semitone(false, cs4 + 10, 0), cs4);
  EXPECT_EQ(round_to_semitone(false, 10, 0), note_period(false, 96, 0));
  EXPECT_EQ(round_to_semitone(false, 10000000, 0), note_period(false, 1, 0));
}

}  // namespace
