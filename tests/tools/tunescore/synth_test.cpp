// The sample synthesiser: every kind makes a full-scale 8-bit sample; sustaining kinds loop
// seamlessly from a rising zero crossing, decaying kinds end faded; pitch is set so the
// described cycle plays true.
#include <gtest/gtest.h>

#include <algorithm>
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

// Every kind makes a full-scale 8-bit sample. Sustaining sounds loop seamlessly from a rising
// zero crossing over whole cycles; decaying ones (3 s asked for) end faded, with no loop.
TEST(Synth, SustainingSoundsLoopSeamlesslyAndDecayingOnesEndFaded) {
  std::vector<SynthSpec> recipes = {
      {"saw", {}}, {"square", {}}, {"triangle", {}}, {"sine", {}}, {"pulse", {{"pwm", 0.2}}}, {"pad", {{"voices", 5}}},
      {"fm", {{"loop", 1}}}, {"pad", {{"period", 50}, {"cycles", 64}}},
      {"voice", {{"detune", 10}, {"body", 900}, {"noise", 0.5}, {"click", 1}, {"fenv", 30}, {"decay", 0.2}, {"sustain", 0.4}}},
      {"voice", {{"length", 3}, {"loop", 0}, {"decay", 0.2}}},
  };
  for (const char* kind : {"pluck", "fm", "kick", "snare", "hat", "tom", "clap", "cymbal", "timpani", "brush", "ride",
                           "cowbell", "rim", "clash"})
    recipes.push_back({kind, {{"length", 3}}});
  for (const SynthSpec& recipe : recipes) {
    const XmSample s = make(recipe);
    SCOPED_TRACE(recipe.kind);
    ASSERT_FALSE(s.sixteenBit);
    int peak = 0;
    for (int16_t v : s.data) peak = std::max(peak, std::abs(int{v}));
    EXPECT_GE(peak, 110) << "not brought to full scale";
    EXPECT_LE(peak, 127);
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
