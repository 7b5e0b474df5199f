// The tunes' sample synthesiser: every instrument sample of the built-in tunes is made here
// from a short description (a kind and named numbers), never recorded.
//
// Samples come out as 8-bit XM samples with their relative note and finetune set so that
// the described pitch plays true. Sustaining sounds loop over a whole number of cycles of
// every component (detuned voices, pulse-width and chorus sweeps), so the loop is seamless,
// and the loop starts at a rising zero crossing; decaying sounds are trimmed where they fall
// below a quarter of an 8-bit step and faded over their last milliseconds.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "tools/xm_import/xm_import.h"

// kind: saw, square, pulse, triangle, sine, pad, pluck, fm, voice (a filtered oscillator with
// filter and level envelopes, noise, click and body layers), timpani, kick, snare, hat, tom,
// clap, cymbal, brush, ride, cowbell, rim, break (a whole drum bar). Parameters by name, see
// synth_parameter_names; unnamed ones take their defaults. The layered kinds (voice ..
// break) refuse a value outside a parameter's range, naming it.
struct SynthSpec {
  std::string kind;
  std::vector<std::pair<std::string, double>> params;
};

// The names a kind accepts (empty for an unknown kind).
std::vector<std::string> synth_parameter_names(const std::string& kind);

// Makes the sample, or returns false with `error` naming the unknown kind or parameter.
bool synthesise(const SynthSpec& recipe, XmSample& sample, std::string& error);
