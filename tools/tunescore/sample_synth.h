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

// kind: saw, square, pulse, triangle, sine, pad, pluck, fm, voice (a filtered oscillator with
// filter and level envelopes, noise, click and body layers), timpani, kick, snare, hat, tom,
// clap, cymbal, brush, ride, cowbell, rim, clash, break (a whole drum bar). Parameters by name, see
// synth_parameter_names; unnamed ones take their defaults. The layered kinds (voice ..
// break) refuse a value outside a parameter's range, naming it.
struct SynthSpec {
  std::string kind;
  std::vector<std::pair<std::string, double>> params;
};

// The names a kind accepts (empty for an unknown kind).
std::vector<std::string> synth_parameter_names(const std::string& kind);
// The range a kind states for one of its own parameters (the layered kinds state one for
// each); false where the kind states none and the score's general ranges apply.
bool synth_kind_range(const std::string& kind, const std::string& name, double& low, double& high);

// The most frames a description may ask to be rendered (before trimming), far above any
// instrument's: a few times that of a second of sound at the highest rates.
constexpr size_t SynthMaxFrames = size_t{1} << 21;

// Makes the sample, or returns false with `error` naming the unknown kind or parameter, or
// saying that the sample would be empty or longer than `max_frames`. The numbers are taken
// in the ranges the score language states for them.
bool synthesise(const SynthSpec& recipe, XmSample& sample, std::string& error, size_t max_frames = SynthMaxFrames);
