// The tunes' sample synthesiser: every instrument sample of the built-in tunes is made here
// from a short description (a kind and named numbers), never recorded.
//
// Samples come out as 8-bit XM samples with their relative note and finetune set so that
// the described pitch plays true. Sustaining sounds loop over a whole number of cycles of
// every component (detuned voices, pulse-width and chorus sweeps), so the loop is seamless,
// and the loop starts at a rising zero crossing; decaying sounds are trimmed where they fall
// below a quarter of an 8-bit step and faded over their last milliseconds.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "tools/xm_import/xm_import.h"

// kind: wave, pad, pluck, fm, kick, snare, hat, tom, clap, cymbal. Parameters by name, see
// synth_parameter_names; unnamed ones take their defaults.
struct SynthSpec {
  std::string kind;
  std::vector<std::pair<std::string, double>> params;
};

// The names a kind accepts (empty for an unknown kind).
std::vector<std::string> synth_parameter_names(const std::string& kind);

// The most frames a description may ask to be rendered (before trimming), far above any
// instrument's: a few times that of a second of sound at the highest rates.
constexpr size_t SynthMaxFrames = size_t{1} << 21;

// Makes the sample, or returns false with `error` naming the unknown kind or parameter, or
// saying that the sample would be empty or longer than `max_frames`. The numbers are taken
// in the ranges the score language states for them.
bool synthesise(const SynthSpec& recipe, XmSample& sample, std::string& error, size_t max_frames = SynthMaxFrames);
