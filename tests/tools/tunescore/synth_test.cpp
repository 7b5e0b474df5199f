// The sample synthesiser: every kind makes a full-scale 8-bit sample; sustaining kinds loop
// seamlessly from a rising zero crossing, decaying kinds end faded; pitch is set so the
// described cycle plays true.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "tools/tunescore/sample_synth.h"

namespace {

XmSample make(const SynthSpec& recipe) {
  XmSample s;
  std::string error;
  EXPECT_TRUE(synthesise(recipe, s, error)) << recipe.kind << ": " << error;
  return s;
}

}  // namespace

TEST(Synth, EveryKindIsFullScaleEightBit) {
  for (const char* kind : {"saw", "square", "pulse", "triangle", "sine", "pad", "pluck", "fm", "kick", "snare", "hat",
                           "tom", "clap", "cymbal", "voice", "timpani", "brush", "ride", "cowbell", "rim", "clash", "break"}) {
    const XmSample s = make({kind, {}});
    ASSERT_FALSE(s.data.empty()) << kind;
    EXPECT_FALSE(s.sixteenBit);
    int peak = 0;
    for (int16_t v : s.data) {
      ASSERT_GE(v, -127) << kind;
      ASSERT_LE(v, 127) << kind;
      peak = std::max(peak, std::abs(int{v}));
    }
    EXPECT_GE(peak, 110) << kind << " is not brought to full scale";
    EXPECT_LE(s.data.size(), 40000u) << kind << " is not small";
  }
}

// Sustaining sounds loop seamlessly from a rising zero crossing over whole cycles; decaying
// ones (3 s asked for) end faded, with no loop.
TEST(Synth, SustainingSoundsLoopSeamlesslyAndDecayingOnesEndFaded) {
  std::vector<SynthSpec> recipes = {
      {"saw", {}}, {"square", {{"detune", 10}}}, {"pulse", {{"pwm", 0.2}}}, {"triangle", {}},
      {"sine", {}}, {"pad", {{"voices", 5}}},    {"fm", {{"loop", 1}}},     {"pad", {{"period", 50}, {"cycles", 64}}},
      {"voice", {{"detune", 10}, {"body", 900}, {"noise", 0.5}, {"click", 1}, {"fenv", 30}, {"decay", 0.2}, {"sustain", 0.4}}},
      {"voice", {{"wave", 2}, {"cycles", 64}, {"sub", 0.5}, {"drive", 2}, {"resonance", 1.2}, {"attack", 0.05}}},
      {"voice", {{"length", 3}, {"loop", 0}, {"decay", 0.2}}},
  };
  for (const char* kind : {"pluck", "fm", "kick", "snare", "hat", "tom", "clap", "cymbal", "timpani", "brush", "ride",
                           "cowbell", "rim", "clash"})
    recipes.push_back({kind, {{"length", 3}}});
  for (const SynthSpec& recipe : recipes) {
    const XmSample s = make(recipe);
    SCOPED_TRACE(recipe.kind);
    if (recipe.params.empty() || recipe.params[0].first != "length") {
      ASSERT_EQ(s.loopType, 1);
      ASSERT_GT(s.loopStart, 0u);
      EXPECT_EQ(s.loopStart + s.loopLength, s.data.size());
      EXPECT_EQ(s.loopLength % 64 == 0 || recipe.params.size() == 2, true) << "whole cycles: " << s.loopLength;
      // The value before the start is at or below zero, the start at or above, and the last
      // value of the loop runs into the start as the one before it does.
      const int before = s.data[s.loopStart - 1], start = s.data[s.loopStart];
      const int last = s.data[s.loopStart + s.loopLength - 1];
      EXPECT_LE(before, 0);
      EXPECT_GE(start, 0);
      EXPECT_LE(std::abs(last - before), 2) << "seam jumps from " << last << " to " << start;
      continue;
    }
    EXPECT_EQ(s.loopType, 0);
    EXPECT_LE(std::abs(int{s.data.back()}), 1);
    int tail = 0;
    for (size_t i = s.data.size() - 20; i < s.data.size(); ++i) tail = std::max(tail, std::abs(int{s.data[i]}));
    EXPECT_LE(tail, 8) << "ends loud";
  }
  // A kick that dies in a quarter of a second is cut long before the 3 s asked for.
  const XmSample kick = make({"kick", {{"length", 3}, {"decay", 0.05}}});
  EXPECT_LT(kick.data.size(), 22050u * 3 / 2);
}

// Pitch, worked out by hand: a cycle of P frames sounds 440 Hz at A-4 when A-4 runs the sample
// at 440 P frames a second; A-4 runs it at 8363 x 2^((9 + r) / 12), so r = 12 log2(440 P / 8363) - 9
// semitones (P = 64: 12.0188, P = 32: 0.0188). Unpitched sounds play at their rate on their note:
// r = 12 log2(rate / 8363) - (note - 49) (22050 Hz: 16.7843 - 12 on C-5, - 0 on C-4).
TEST(Synth, RelativeNoteAndFinetune) {
  struct Case {
    SynthSpec recipe;
    int relative, finetune;
  };
  const Case cases[] = {
      {{"saw", {{"period", 64}}}, 12, 2},
      {{"pad", {{"period", 32}}}, 0, 2},
      {{"pluck", {{"period", 128}}}, 24, 11},  // the string loop is 128.5 frames: + 12 log2(128.5 / 128)
      {{"kick", {}}, 5, -28},
      {{"snare", {{"note", 49}}}, 17, -28},
  };
  for (const Case& c : cases) {
    const XmSample s = make(c.recipe);
    EXPECT_EQ(s.relativeNote, c.relative) << c.recipe.kind;
    EXPECT_EQ(s.finetune, c.finetune) << c.recipe.kind;
  }
}

TEST(Synth, SameDescriptionSameSampleAndSeedsDiffer) {
  const XmSample a = make({"snare", {{"seed", 4}}}), b = make({"snare", {{"seed", 4}}}), c = make({"snare", {{"seed", 5}}});
  EXPECT_EQ(a.data, b.data);
  EXPECT_NE(a.data, c.data);
}

TEST(Synth, UnknownKindOrParameterIsAnError) {
  XmSample s;
  std::string error;
  EXPECT_FALSE(synthesise({"organ", {}}, s, error));
  EXPECT_NE(error.find("organ"), std::string::npos);
  EXPECT_FALSE(synthesise({"saw", {{"colour", 1}}}, s, error));
  EXPECT_NE(error.find("colour"), std::string::npos);
  EXPECT_FALSE(synthesise({"voice", {{"wave", 7}}}, s, error));
  EXPECT_NE(error.find("wave=7 is outside 0..4"), std::string::npos) << error;
  EXPECT_FALSE(synthesise({"break", {{"bpm", 20}}}, s, error));
  EXPECT_NE(error.find("bpm=20 is outside 40..300"), std::string::npos) << error;
  EXPECT_TRUE(synth_parameter_names("organ").empty());
  EXPECT_FALSE(synth_parameter_names("kick").empty());
}

namespace {

// Frames a second at which note `n` plays a sample (linear table, as the player runs it).
double playback_rate(const XmSample& s, int n) {
  return 8363.0 * std::pow(2.0, (n - 49 + s.relativeNote + s.finetune / 128.0) / 12);
}

// Frames per cycle from rising zero crossings over [from, to).
double cycle_frames(const XmSample& s, size_t from, size_t to) {
  size_t first = 0, last = 0, crossings = 0;
  for (size_t i = from + 1; i < to; ++i)
    if (s.data[i - 1] < 0 && s.data[i] >= 0) {
      if (!crossings++) first = i;
      last = i;
    }
  return crossings > 1 ? static_cast<double>(last - first) / (crossings - 1) : 0;
}

// The largest magnitude within one cycle's frames around frame `at`.
int level_at(const XmSample& s, size_t at, size_t span) {
  int peak = 0;
  for (size_t i = at; i < std::min(s.data.size(), at + span); ++i) peak = std::max(peak, std::abs(int{s.data[i]}));
  return peak;
}

}  // namespace

// The layered kinds play true: A-4 sounds 440 Hz, counted by zero crossings over the held
// part (a sine voice, a sine in a 200-cycle loop, and a kettledrum once its upper modes died).
// Where to count is given as parts of the sample's length.
TEST(Synth, LayeredKindsPlayTrue) {
  struct Case {
    SynthSpec recipe;
    double from, to;
  };
  const Case cases[] = {
      {{"voice", {{"wave", 4}, {"period", 100}, {"note", 58}, {"loop", 0}, {"length", 0.5}}}, 0.1, 0.9},
      {{"voice", {{"wave", 4}, {"period", 37}, {"cycles", 200}, {"note", 30}}}, 0.1, 0.95},
      {{"timpani", {{"period", 80}, {"decay", 0.5}, {"glide", 0}, {"mallet", 0}, {"length", 2}}}, 0.45, 0.8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recipe.kind);
    const XmSample s = make(c.recipe);
    const double rate = playback_rate(s, 58);
    const double frames = cycle_frames(s, static_cast<size_t>(c.from * s.data.size()),
                                       static_cast<size_t>(c.to * s.data.size()));
    ASSERT_GT(frames, 0);
    EXPECT_NEAR(rate / frames, 440.0, 440.0 * 0.004);
  }
}

// Envelope levels worked out by hand: a sine voice at 400 frames a cycle whose level falls
// from 1 toward `sustain` with time constant 0.1 s stands at s + (1 - s) / e after 0.1 s and
// s + (1 - s) / e^2 after 0.2 s, relative to its start (full scale).
TEST(Synth, VoiceLevelFollowsItsEnvelope) {
  for (const double sustain : {0.0, 0.5}) {
    const XmSample s = make({"voice", {{"wave", 4}, {"period", 400}, {"note", 49}, {"loop", 0}, {"length", 1},
                                       {"decay", 0.1}, {"sustain", sustain}, {"attack", 0}, {"peak", 1}}});
    const double rate = 400 * 440.0 * std::pow(2.0, -9 / 12.0);  // C-4: the note the times hold for
    const double start = level_at(s, 0, 400);
    for (const double sec : {0.1, 0.2}) {
      const double want = sustain + (1 - sustain) * std::exp(-sec / 0.1);
      EXPECT_NEAR(level_at(s, static_cast<size_t>(sec * rate) - 200, 400) / start, want, 0.03)
          << "sustain " << sustain << " at " << sec << " s";
    }
  }
}

// The filter envelope: a saw that opens 40 harmonics above a 2-harmonic cutoff is bright at
// the start and dull once `fdecay` has passed many times (the slope energy, a plain measure of
// treble, falls by far more than the level).
TEST(Synth, FilterEnvelopeCloses) {
  const XmSample s = make({"voice", {{"wave", 0}, {"period", 200}, {"cutoff", 2}, {"fenv", 60}, {"fdecay", 0.03},
                                     {"length", 0.4}, {"loop", 1}, {"cycles", 4}}});
  const auto slope = [&](size_t from) {
    double e = 0, level = 0;
    for (size_t i = from + 1; i < from + 400; ++i) {
      e += std::pow(s.data[i] - s.data[i - 1], 2);
      level += std::pow(s.data[i], 2);
    }
    return e / level;
  };
  EXPECT_GT(slope(200), 8 * slope(s.loopStart));
}

// A drum bar cut into sixteenths on whole sample-offset units (256 frames), playing the bar
// at its tempo on its note: 16 steps at 170 BPM last 4 x 60 / 170 s.
TEST(Synth, BreakStepsSitOnOffsetUnits) {
  const XmSample s = make({"break", {{"bpm", 170}, {"kick", 0}, {"snare", 0}, {"ghost", 0}, {"hat", 0x0101},
                                     {"room", 0}, {"hz", 22050}}});
  // Hats on steps 0 and 8 only: silence just before step 8, a hit right after it.
  const double rate = playback_rate(s, 61);
  const size_t step = static_cast<size_t>(std::lround(60.0 / 170 / 4 * rate));
  EXPECT_EQ(step % 256, 0u) << step;
  ASSERT_GT(s.data.size(), 8 * step + 50);
  EXPECT_EQ(level_at(s, 8 * step - 40, 40), 0);
  EXPECT_GT(level_at(s, 8 * step, 40), 60);
}
