#include <gtest/gtest.h>

#include <cmath>

#include "player/module.h"
#include "player/pitch.h"

namespace {

TEST(Pitch, PitchValue) {
  // Only the low 16 bits of x + 32768 count.
  for (auto [x, value] : std::vector<std::pair<int32_t, uint32_t>>{
           {0, 6848}, {-3072, 13696}, {3072, 3424}, {256, 6463}, {1, 6846}, {-18432, 438281}, {65536, 6848},
           {INT32_MIN, 6848}})
    EXPECT_EQ(pitch_value(x), value) << x;
  // Within a few units of 6848 * 2^(-x/3072) over the tunes' range: a wrong table entry shows.
  for (int32_t x = -18432; x <= 24576; ++x) {
    double exact = 6848 * std::exp2(-x / 3072.0);
    ASSERT_NEAR(pitch_value(x), exact, 4 + exact / 4096) << x;
  }
}

TEST(Pitch, NotePeriodsAndSteps) {
  EXPECT_EQ((std::vector<int32_t>{note_period(true, 1, 0), note_period(true, 49, 0), note_period(true, 61, 0),
                                  note_period(true, 96, 0), note_period(true, 49, -128)}),
            (std::vector<int32_t>{12288, 0, -3072, -12032, 128}));
  EXPECT_EQ((std::vector<int32_t>{note_period(false, 1, 0), note_period(false, 49, 0), note_period(false, 61, 0)}),
            (std::vector<int32_t>{109568, 6848, 3424}));
  for (bool linear : {true, false}) {
    // A pitch offset of +256 is one semitone up.
    EXPECT_EQ(note_period(linear, 49, 256), note_period(linear, 50, 0));
    EXPECT_EQ(period_step(linear, note_period(linear, 49, 0)), 194);
    EXPECT_EQ(period_step(linear, note_period(linear, 61, 0)), 388);
    EXPECT_EQ(period_step(linear, note_period(linear, 96, 0)), linear ? 2930 : 2932);
  }
  // The bounds of the tunes' ranges; Amiga periods below 100 are taken as the step itself and
  // negative ones compare unsigned.
  EXPECT_EQ((std::vector<uint16_t>{period_step(true, -18432), period_step(true, 24576), period_step(false, 438272),
                                   period_step(false, 100), period_step(false, 99), period_step(false, -5)}),
            (std::vector<uint16_t>{12420, 0, 2, 13290, 98, 0}));
  for (int32_t p = -18432; p <= 24576; p += 37) EXPECT_EQ(period_step(true, p) & 1, 0);
}

TEST(Pitch, GlissandoRounding) {
  // Linear: halves go to the lower pitch; a sample 20/256 sharp has its own note periods.
  for (auto [period, offset, rounded] : std::vector<std::tuple<int32_t, int16_t, int32_t>>{
           {130, 0, 256}, {127, 0, 0}, {128, 0, 256}, {-129, 0, -256}, {-128, 0, 0}, {100, 20, -20}, {120, 20, 236}})
    EXPECT_EQ(round_to_semitone(true, period, offset), rounded) << period;
  // Amiga: the nearest note period, within notes 1 to 96.
  int32_t c4 = note_period(false, 49, 0), cs4 = note_period(false, 50, 0);
  EXPECT_EQ((std::vector<int32_t>{round_to_semitone(false, c4 - 10, 0), round_to_semitone(false, cs4 + 10, 0),
                                  round_to_semitone(false, 10, 0), round_to_semitone(false, 10000000, 0)}),
            (std::vector<int32_t>{c4, cs4, note_period(false, 96, 0), note_period(false, 1, 0)}));
}

}  // namespace
