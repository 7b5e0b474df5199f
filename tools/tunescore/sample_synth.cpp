#include "tools/tunescore/sample_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double TwoPi = 2 * Pi;

using Params = std::map<std::string, double>;

struct Range {
  double fallback, low, high;
};
using Ranges = std::map<std::string, Range>;

// The kinds built from layers (a filtered oscillator with envelopes, noise, an attack and a
// body; membranes; kit pieces; a whole drum bar), each parameter with its default and the
// range it must stay in. Times in seconds, frequencies in Hz, levels relative to the main
// layer; `period` and `note` as for the other pitched kinds, `hz` and `note` as for drums.
const std::map<std::string, Ranges>& layered_kinds() {
  static const Ranges Voice = {
      {"period", {64, 8, 1024}},  {"note", {49, 1, 96}},       {"wave", {0, 0, 4}},        {"width", {0.5, 0.05, 0.95}},
      {"detune", {0, 0, 50}},     {"sub", {0, 0, 2}},          {"cutoff", {12, 0.5, 512}}, {"fenv", {0, 0, 512}},
      {"fdecay", {0.1, 0.001, 10}}, {"resonance", {0.7, 0, 1.3}}, {"drive", {0, 0, 10}},  {"attack", {0.003, 0, 4}},
      {"decay", {0, 0, 30}},      {"sustain", {0, 0, 1}},      {"loop", {1, 0, 1}},        {"length", {0.3, 0.005, 12}},
      {"cycles", {16, 1, 1024}},  {"noise", {0, 0, 4}},        {"noisedecay", {0.05, 0.001, 10}},
      {"noisecolor", {0.5, 0.01, 1}}, {"click", {0, 0, 4}},    {"body", {0, 0, 10000}},    {"bodyq", {6, 0.5, 60}},
      {"bodymix", {0.5, 0, 4}},   {"peak", {0.92, 0.05, 1}},  {"seed", {1, 0, 1e9}}};
  static const Ranges Timpani = {
      {"period", {64, 8, 1024}}, {"note", {37, 1, 96}},     {"decay", {1.2, 0.05, 10}}, {"length", {2.5, 0.05, 12}},
      {"mallet", {0.3, 0, 4}},   {"glide", {25, 0, 200}},   {"peak", {0.95, 0.05, 1}},  {"seed", {1, 0, 1e9}}};
  static const Ranges Kit = {
      {"hz", {22050, 4000, 48000}}, {"note", {61, 1, 96}},   {"seed", {1, 0, 1e9}},     {"peak", {0.95, 0.05, 1}},
      {"tone", {500, 20, 12000}},   {"decay", {0.2, 0.005, 10}}, {"attack", {0.02, 0, 2}}, {"color", {0.5, 0, 1}},
      {"noise", {0.3, 0, 4}},       {"bell", {0.4, 0, 4}},   {"tap", {0.3, 0, 4}},     {"length", {0.6, 0.01, 12}}};
  static const Ranges Break = {
      {"hz", {22050, 4000, 48000}}, {"note", {61, 1, 96}},   {"seed", {1, 0, 1e9}},  {"peak", {0.95, 0.05, 1}},
      {"bpm", {170, 40, 300}},      {"steps", {16, 1, 64}},  {"kick", {0x0221, 0, 0xFFFF}}, {"snare", {0x1010, 0, 0xFFFF}},
      {"hat", {0x5555, 0, 0xFFFF}}, {"ghost", {0x0480, 0, 0xFFFF}}, {"swing", {0, 0, 0.5}},  {"room", {0.25, 0, 0.9}},
      {"tone", {55, 30, 200}},      {"color", {0.5, 0, 1}}};
  static const std::map<std::string, Ranges> kinds = {
      {"voice", Voice}, {"timpani", Timpani}, {"brush", Kit}, {"ride", Kit},
      {"cowbell", Kit}, {"rim", Kit},         {"break", Break}};
  return kinds;
}

// Every kind's parameters with their defaults. Times are seconds at the rendering rate,
// which for pitched kinds is period x the frequency of `note` (so times hold when that note
// plays); pitched kinds take their pitch from `period`, samples per cycle.
const std::map<std::string, Params>& kind_table() {
  static const Params Wave = {{"period", 64}, {"note", 49}, {"width", 0.5}, {"pwm", 0},    {"pwmcycles", 1},
                              {"detune", 0},  {"cycles", 1}, {"cutoff", 40}, {"cutoffstart", 0}, {"attack", 0},
                              {"resonance", 0.7}, {"peak", 0.92}, {"drive", 0}};
  static const Params Pad = {{"period", 64},  {"note", 49},  {"voices", 3},   {"spread", 1},  {"cycles", 128},
                             {"chorus", 0.3}, {"cutoff", 12}, {"resonance", 0.7}, {"width", 0.5}, {"peak", 0.92}};
  static const Params Pluck = {{"period", 64}, {"note", 61},     {"decay", 0.996}, {"brightness", 0.6},
                               {"length", 0.8}, {"seed", 1},     {"peak", 0.95},   {"body", 0.5}};
  static const Params Fm = {{"period", 64}, {"note", 61},    {"ratio", 1},  {"index", 3},  {"index2", 0.8},
                            {"itime", 0.2}, {"decay", 0.8},  {"length", 1}, {"loop", 0},   {"tine", 0},
                            {"tineindex", 0}, {"peak", 0.92}, {"cycles", 4}};
  static const Params Drum = {{"hz", 22050}, {"note", 61}, {"seed", 1}, {"peak", 0.95}, {"decay", 0.3},
                              {"tone", 160}, {"toneend", 45}, {"sweep", 0.04}, {"noise", 0.5}, {"click", 0.3},
                              {"color", 0.5}, {"length", 0.5}};
  static std::map<std::string, Params> table = {
      {"saw", Wave},   {"square", Wave}, {"pulse", Wave}, {"triangle", Wave}, {"sine", Wave},
      {"pad", Pad},    {"pluck", Pluck}, {"fm", Fm},      {"kick", Drum},     {"snare", Drum},
      {"hat", Drum},   {"tom", Drum},    {"clap", Drum},  {"cymbal", Drum}};
  static const bool merged = [] {
    for (const auto& [kind, ranges] : layered_kinds())
      for (const auto& [name, range] : ranges) table[kind][name] = range.fallback;
    return true;
  }();
  (void)merged;
  return table;
}

std::string format_value(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

double note_hz(double note) { return 440.0 * std::pow(2.0, (note - 58) / 12); }

// Explicit random state (one per sample, seeded from the description).
struct Noise {
  uint32_t state;
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

// Two-pole state-variable low-pass in its trapezoidal form, stable at any cutoff below
// half the rate; `cutoff` as a fraction of the rate, `damping` 2 for no resonance.
struct LowPass {
  double ic1 = 0, ic2 = 0;
  double run(double x, double cutoff, double damping) {
    const double g = std::tan(Pi * std::clamp(cutoff, 0.0001, 0.45));
    const double a1 = 1 / (1 + g * (g + damping)), a2 = g * a1, a3 = g * a2;
    const double v3 = x - ic2;
    const double v1 = a1 * ic1 + a2 * v3;
    const double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2 * v1 - ic1;
    ic2 = 2 * v2 - ic2;
    return v2;
  }
};

// One band-limited cycle value of a waveform at phase p (cycles), harmonics below `limit`.
double wave_value(const std::string& shape, double p, double width, int limit) {
  double v = 0;
  const double a = TwoPi * p;
  if (shape == "sine") return std::sin(a);
  for (int k = 1; k < limit; ++k) {
    if (shape == "saw") {
      v += std::sin(k * a) / k;
    } else if (shape == "square") {
      if (k % 2) v += std::sin(k * a) / k;
    } else if (shape == "triangle") {
      if (k % 2) v += ((k / 2) % 2 ? -1.0 : 1.0) * std::sin(k * a) / (double(k) * k);
    } else {  // pulse of the given width
      v += std::sin(Pi * k * width) * std::cos(k * (a - Pi * width)) / k;
    }
  }
  if (shape == "saw") return v * 0.6;
  if (shape == "square") return v * 1.1;
  if (shape == "triangle") return v * 0.82;
  return v * 1.2;
}

struct Rendered {
  std::vector<double> data;
  double period = 0;       // samples per cycle for pitched sounds; 0 for unpitched
  double rate = 0, note = 61;
  size_t loopFrom = 0;     // looped: the loop region starts here and repeats every loopLength
  size_t loopLength = 0;   // 0: not looped
};

// A loop of whole cycles: pick the first rising zero crossing within the first period of the
// region, so the seam joins matching slopes; the data then ends at the loop end.
void place_loop(Rendered& r, XmSample& s) {
  const size_t span = static_cast<size_t>(std::ceil(r.period)) + 1;
  size_t start = r.loopFrom;
  for (size_t i = r.loopFrom + 1; i < r.loopFrom + span && i + r.loopLength < r.data.size(); ++i) {
    if (r.data[i - 1] < 0 && r.data[i] >= 0) {
      start = i;
      break;
    }
  }
  r.data.resize(std::min(r.data.size(), start + r.loopLength));
  s.loopType = 1;
  s.loopStart = static_cast<uint32_t>(start);
  s.loopLength = static_cast<uint32_t>(r.data.size() - start);
}

// Decaying sounds: cut after the last value above a quarter step, fade the last 4 ms.
void trim(std::vector<double>& d, double rate) {
  const double peak = std::max(1e-9, *std::max_element(d.begin(), d.end(), [](double a, double b) {
    return std::fabs(a) < std::fabs(b);
  }) * (1.0));
  const double floor = std::fabs(peak) * 0.25 / 127;
  size_t end = d.size();
  while (end > 1 && std::fabs(d[end - 1]) < floor) --end;
  d.resize(end);
  const size_t fade = std::min(end, static_cast<size_t>(rate * 0.004));
  for (size_t i = 0; i < fade; ++i) d[end - 1 - i] *= static_cast<double>(i) / fade;
}

Rendered render_wave(const std::string& shape, Params& p) {
  Rendered r;
  r.period = std::max(8.0, std::round(p["period"]));
  r.rate = r.period * note_hz(p["note"]);
  const int period = static_cast<int>(r.period);
  int cycles = std::max(1, static_cast<int>(p["cycles"]));
  // Detune as a whole number of extra cycles of a second voice over the loop.
  const double detune = p["detune"];
  int extra = 0;
  if (detune != 0) {
    const double ratio = std::pow(2.0, detune / 1200);
    cycles = std::max(cycles, static_cast<int>(std::round(1.0 / (ratio - 1.0))));
    extra = 1;
  }
  const int pwmCycles = std::max(1, static_cast<int>(p["pwmcycles"]));
  if (p["pwm"] != 0) cycles = std::max(cycles, 16 * pwmCycles);
  const size_t loopLength = static_cast<size_t>(cycles) * period;
  const size_t attack = static_cast<size_t>(std::ceil(p["attack"] * r.rate / period)) * period;
  const size_t total = attack + 2 * loopLength + period + 2;  // one loop to settle the filter
  const int limit = period / 2;
  LowPass lp, lp2;
  std::vector<double> raw(total);
  for (size_t i = 0; i < total; ++i) {
    const double t = static_cast<double>(i);
    const double pos = static_cast<double>((i >= attack ? i - attack : i) % loopLength) / loopLength;
    const double width = std::clamp(p["width"] + p["pwm"] * std::sin(TwoPi * pwmCycles * pos), 0.05, 0.95);
    double v = wave_value(shape, t / period, width, limit);
    if (extra) v = 0.5 * (v + wave_value(shape, (t / period) * (cycles + extra) / cycles, width, limit));
    if (p["drive"] > 0) v = std::tanh(v * (1 + p["drive"])) / std::tanh(1 + p["drive"]);
    const double sweep = attack > 0 && i < attack ? static_cast<double>(i) / attack : 1.0;
    const double startCut = p["cutoffstart"] > 0 ? p["cutoffstart"] : p["cutoff"];
    const double harm = startCut * std::pow(p["cutoff"] / startCut, sweep);
    const double cut = harm / period;
    const double damping = 2 - 2 * std::clamp(p["resonance"] - 0.5, 0.0, 0.8);
    raw[i] = lp2.run(lp.run(v, cut, damping), cut, damping);
  }
  // Keep the attack and the second (settled) loop pass.
  r.data.assign(raw.begin(), raw.begin() + attack);
  r.data.insert(r.data.end(), raw.begin() + attack + loopLength, raw.end());
  r.loopFrom = attack;
  r.loopLength = loopLength;
  return r;
}

// Several detuned voices with a slow baked chorus; everything repeats after `cycles` cycles.
Rendered render_pad(Params& p) {
  Rendered r;
  r.period = std::max(8.0, std::round(p["period"]));
  r.rate = r.period * note_hz(p["note"]);
  const int period = static_cast<int>(r.period);
  const int cycles = std::max(8, static_cast<int>(p["cycles"]));
  const int voices = std::clamp(static_cast<int>(p["voices"]), 1, 7);
  const size_t loopLength = static_cast<size_t>(cycles) * period;
  const size_t total = 2 * loopLength + period + 2;
  LowPass lp, lp2;
  std::vector<double> raw(total);
  const int spread = std::max(1, static_cast<int>(p["spread"]));
  for (size_t i = 0; i < total; ++i) {
    const double pos = static_cast<double>(i % loopLength) / loopLength;
    double v = 0;
    for (int k = 0; k < voices; ++k) {
      const int offset = (k - voices / 2) * spread;  // whole cycles more or less over the loop
      const double phase = pos * (cycles + offset) + p["chorus"] * std::sin(TwoPi * (pos * (k + 1) + 0.37 * k));
      v += wave_value("saw", phase + 0.21 * k, 0.5, period / 2);
    }
    v /= std::sqrt(static_cast<double>(voices));
    raw[i] = lp2.run(lp.run(v, p["cutoff"] / period, 1.2), p["cutoff"] / period, 1.2);
  }
  r.data.assign(raw.begin() + loopLength, raw.end());
  r.loopFrom = 0;
  r.loopLength = loopLength;
  return r;
}

// Karplus-Strong: a burst of filtered noise circulating in a delay line of one period.
Rendered render_pluck(Params& p) {
  Rendered r;
  r.period = std::max(8.0, std::round(p["period"]));
  r.rate = r.period * note_hz(p["note"]);
  const int period = static_cast<int>(r.period);
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 7};
  std::vector<double> line(period);
  double last = 0;
  const double bright = std::clamp(p["brightness"], 0.05, 1.0);
  for (double& v : line) {
    last += bright * (noise.next() - last);
    v = last;
  }
  double mean = 0;
  for (double v : line) mean += v;
  mean /= period;
  for (double& v : line) v -= mean;
  const size_t total = static_cast<size_t>(p["length"] * r.rate);
  r.data.resize(total);
  double prev = 0, body = 0;
  const double loss = std::clamp(p["decay"], 0.9, 0.99999);
  for (size_t i = 0; i < total; ++i) {
    const size_t k = i % period;
    const double out = line[k];
    const double next = loss * 0.5 * (out + prev);
    prev = out;
    line[k] = next;
    body += 0.05 * (out - body);
    r.data[i] = out + p["body"] * body;
  }
  // The two-value average in the loop delays by half a frame: the cycle is period + 0.5.
  r.period += 0.5;
  return r;
}

// Two-operator FM (plus an optional high "tine" modulator that dies fast, for e-pianos).
Rendered render_fm(Params& p) {
  Rendered r;
  r.period = std::max(8.0, std::round(p["period"]));
  r.rate = r.period * note_hz(p["note"]);
  const double f = 1.0 / r.period;  // cycles per sample
  const bool loop = p["loop"] != 0;
  const size_t length = static_cast<size_t>(p["length"] * r.rate / r.period) * static_cast<size_t>(r.period);
  const size_t cycles = static_cast<size_t>(std::max(1.0, p["cycles"]));
  const size_t loopLength = cycles * static_cast<size_t>(r.period);
  const size_t total = length + (loop ? loopLength + static_cast<size_t>(r.period) + 2 : 0);
  r.data.resize(total);
  const double ratio = p["ratio"];
  for (size_t i = 0; i < total; ++i) {
    const double t = std::min<double>(static_cast<double>(i), static_cast<double>(length));  // held after the attack
    const double sec = t / r.rate;
    const double index = p["index2"] + (p["index"] - p["index2"]) * std::exp(-sec / std::max(0.001, p["itime"]));
    const double tine = p["tineindex"] * std::exp(-sec / 0.03);
    const double x = static_cast<double>(i);
    const double mod = index * std::sin(TwoPi * f * ratio * x) + tine * std::sin(TwoPi * f * p["tine"] * x);
    const double amp = loop ? std::exp(-sec / std::max(0.01, p["decay"])) : std::exp(-sec / std::max(0.01, p["decay"]));
    r.data[i] = amp * std::sin(TwoPi * f * x + mod);
  }
  if (loop) {
    r.loopFrom = length;
    r.loopLength = loopLength;
  }
  return r;
}

Rendered render_drum(const std::string& kind, Params& p) {
  Rendered r;
  r.rate = p["hz"];
  r.note = p["note"];
  const double rate = r.rate;
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 11};
  const size_t total = static_cast<size_t>(p["length"] * rate);
  r.data.resize(total);
  double phase = 0;
  LowPass lp;
  double hpPrev = 0, hpOut = 0;
  double metal[6] = {};
  static constexpr double MetalRatios[6] = {1.0, 1.4471, 1.6170, 1.9265, 2.5028, 2.6637};
  for (size_t i = 0; i < total; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double n = noise.next();
    double v = 0;
    if (kind == "kick" || kind == "tom") {
      const double f = p["toneend"] + (p["tone"] - p["toneend"]) * std::exp(-t / std::max(0.001, p["sweep"]));
      phase += f / rate;
      v = std::sin(TwoPi * phase) * std::exp(-t / p["decay"]);
      v += p["click"] * n * std::exp(-t / 0.003);
      if (kind == "tom") v += 0.15 * p["noise"] * n * std::exp(-t / 0.05);
    } else if (kind == "snare") {
      phase += p["tone"] / rate;
      const double body = (std::sin(TwoPi * phase) + 0.5 * std::sin(TwoPi * phase * 1.6)) * std::exp(-t / 0.06);
      const double hiss = lp.run(n, 0.05 + 0.3 * p["color"], 1.0) * std::exp(-t / p["decay"]);
      v = (1 - p["noise"]) * body + p["noise"] * 1.6 * hiss;
    } else if (kind == "hat" || kind == "cymbal") {
      double m = 0;
      for (int k = 0; k < 6; ++k) {
        metal[k] += p["tone"] * 2.5 * MetalRatios[k] / rate;
        m += metal[k] - std::floor(metal[k]) < 0.5 ? 1 : -1;
      }
      const double mix = (1 - p["noise"]) * m / 6 + p["noise"] * n;
      hpOut = 0.7 * (hpOut + mix - hpPrev);  // a plain one-pole high-pass
      hpPrev = mix;
      v = hpOut * std::exp(-t / p["decay"]);
      if (kind == "cymbal") v *= std::min(1.0, t / 0.002);
    } else {  // clap: three quick bursts, then a tail
      const double burst = std::fmod(t, 0.011) < 0.003 && t < 0.033 ? 1.0 : 0.0;
      const double env = burst * std::exp(-std::fmod(t, 0.011) / 0.004) + (t >= 0.022 ? std::exp(-(t - 0.022) / p["decay"]) : 0);
      v = lp.run(n, 0.08 + 0.15 * p["color"], 0.8) * env * 2;
    }
    r.data[i] = v;
  }
  return r;
}

// Band-pass resonator (constant peak gain), for bodies and the bands of kit pieces; `f` as
// a fraction of the rate.
struct BandPass {
  double b0 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  BandPass(double f, double q) {
    const double w = TwoPi * std::clamp(f, 0.0001, 0.49), alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    b0 = alpha / a0;
    a1 = -2 * std::cos(w) / a0;
    a2 = (1 - alpha) / a0;
  }
  double run(double x) {
    const double y = b0 * (x - x2) - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }
};

// A filtered oscillator with envelopes and layers: the low-pass opens by `fenv` harmonics at
// the start and closes to `cutoff` with time constant `fdecay`; the level rises over `attack`
// and falls from 1 toward `sustain` with time constant `decay` (0: no fall); a noise layer
// dies with `noisedecay`, a click marks the attack, a resonant body colours everything.
// Looped (loop=1), every envelope stops where `length` ends and the loop of `cycles` whole
// cycles is taken one loop length later, when the filters have settled on the held sound;
// unlooped, the sound runs `length` seconds and is trimmed like the other decaying kinds.
Rendered render_voice(Params& p) {
  static const char* const Shapes[5] = {"saw", "square", "pulse", "triangle", "sine"};
  Rendered r;
  r.period = std::round(p["period"]);
  r.rate = r.period * note_hz(p["note"]);
  const int period = static_cast<int>(r.period);
  const std::string shape = Shapes[static_cast<int>(p["wave"])];
  const bool loop = p["loop"] != 0;
  int cycles = static_cast<int>(p["cycles"]);
  int extra = 0;
  if (p["detune"] > 0) {
    cycles = std::max(cycles, static_cast<int>(std::round(1.0 / (std::pow(2.0, p["detune"] / 1200) - 1.0))));
    extra = 1;
  }
  const size_t held = static_cast<size_t>(std::ceil(p["length"] * r.rate / period)) * period;
  const size_t loopLength = static_cast<size_t>(cycles) * period;
  const size_t total = loop ? held + 2 * loopLength + period + 2 : held;
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 5};
  LowPass lp, lp2, noiseLp;
  BandPass body(p["body"] / r.rate, p["bodyq"]);
  const double damping = 2 - 2 * std::clamp(p["resonance"] - 0.5, 0.0, 0.8);
  r.data.resize(total);
  for (size_t i = 0; i < total; ++i) {
    const double x = static_cast<double>(i);
    const double sec = std::min(x, static_cast<double>(held)) / r.rate;  // envelopes hold after `length`
    double v = wave_value(shape, x / period, p["width"], period / 2);
    if (extra) v = 0.5 * (v + wave_value(shape, x / period * (cycles + extra) / cycles, p["width"], period / 2));
    v += p["sub"] * std::sin(Pi * x / period);
    if (p["drive"] > 0) v = std::tanh(v * (1 + p["drive"])) / std::tanh(1 + p["drive"]);
    const double harmonics = p["cutoff"] + p["fenv"] * std::exp(-sec / p["fdecay"]);
    v = lp2.run(lp.run(v, harmonics / period, damping), harmonics / period, damping);
    // Noise and click fade out completely before the loop, so the loop holds only whole cycles.
    const double fade = loop ? std::max(0.0, 1 - x / std::max(1.0, static_cast<double>(held))) : 1.0;
    const double n = noiseLp.run(noise.next(), 0.02 + 0.43 * p["noisecolor"], 1.4);
    v += fade * (p["noise"] * n * std::exp(-sec / p["noisedecay"]) + p["click"] * noise.next() * std::exp(-sec / 0.002));
    if (p["body"] > 0) v += p["bodymix"] * 3 * body.run(v);
    const double rise = p["attack"] > 0 ? std::min(1.0, sec / p["attack"]) : 1.0;
    const double fall = p["decay"] > 0 ? p["sustain"] + (1 - p["sustain"]) * std::exp(-sec / p["decay"]) : 1.0;
    r.data[i] = v * rise * fall;
  }
  if (loop) {
    r.loopFrom = held + loopLength;
    r.loopLength = loopLength;
  }
  return r;
}

// A kettledrum: the membrane's modes (ratios of a drum in air) dying at their own rates, a
// pitch that settles from a little sharp as the head relaxes, and a felt mallet's thud.
Rendered render_timpani(Params& p) {
  static constexpr double Ratios[6] = {1.0, 1.504, 1.742, 2.0, 2.245, 2.494};
  static constexpr double Levels[6] = {1.0, 0.55, 0.35, 0.25, 0.15, 0.1};
  static constexpr double Lives[6] = {1.0, 0.7, 0.55, 0.45, 0.35, 0.3};
  Rendered r;
  r.period = std::round(p["period"]);
  r.rate = r.period * note_hz(p["note"]);
  const size_t total = static_cast<size_t>(p["length"] * r.rate);
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 3};
  LowPass felt;
  double phase[6] = {};
  r.data.resize(total);
  for (size_t i = 0; i < total; ++i) {
    const double sec = static_cast<double>(i) / r.rate;
    const double bend = std::pow(2.0, p["glide"] / 1200 * std::exp(-sec / 0.08));
    double v = 0;
    for (int k = 0; k < 6; ++k) {
      phase[k] += Ratios[k] * bend / r.period;
      v += Levels[k] * std::sin(TwoPi * phase[k]) * std::exp(-sec / (p["decay"] * Lives[k]));
    }
    v += p["mallet"] * felt.run(noise.next(), 0.02, 1.2) * 4 * std::exp(-sec / 0.015);
    r.data[i] = v;
  }
  return r;
}

// Kit pieces outside the basic four: a brush's swish, a ride's bell and wash, a drum
// machine's cowbell and a rim shot.
Rendered render_kit(const std::string& kind, Params& p) {
  static constexpr double MetalRatios[6] = {1.0, 1.4471, 1.6170, 1.9265, 2.5028, 2.6637};
  Rendered r;
  r.rate = p["hz"];
  r.note = p["note"];
  const double rate = r.rate;
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 13};
  const size_t total = static_cast<size_t>(p["length"] * rate);
  r.data.resize(total);
  LowPass lp;
  BandPass band(p["tone"] / rate, kind == "rim" ? 12 : 4), band2(p["tone"] * 1.48 / rate, 6);
  double hpPrev = 0, hpOut = 0, metal[6] = {}, phase = 0;
  for (size_t i = 0; i < total; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double n = noise.next();
    double v = 0;
    if (kind == "brush") {
      // Bristles dragged over the head: coloured noise swelling over `attack`, a soft tap.
      const double swell = p["attack"] > 0 ? std::min(1.0, t / p["attack"]) : 1.0;
      const double grain = 0.7 + 0.3 * std::sin(TwoPi * 31 * t + 3 * std::sin(TwoPi * 7 * t));
      v = lp.run(n, 0.04 + 0.4 * p["color"], 1.6) * swell * grain * std::exp(-t / p["decay"]);
      v += p["tap"] * band.run(n) * 6 * std::exp(-t / 0.01);
    } else if (kind == "ride") {
      double m = 0;
      for (int k = 0; k < 6; ++k) {
        metal[k] += p["tone"] * 2.1 * MetalRatios[k] / rate;
        m += metal[k] - std::floor(metal[k]) < 0.5 ? 1 : -1;
      }
      const double wash = (1 - std::min(1.0, p["noise"])) * m / 6 + p["noise"] * n;
      hpOut = 0.8 * (hpOut + wash - hpPrev);
      hpPrev = wash;
      phase += p["tone"] / rate;
      const double ping = std::sin(TwoPi * phase * 2.76) + 0.6 * std::sin(TwoPi * phase * 5.4);
      v = hpOut * std::exp(-t / p["decay"]) + p["bell"] * ping * std::exp(-t / (0.3 * p["decay"]));
      v *= std::min(1.0, t / 0.001);
    } else if (kind == "cowbell") {
      phase += p["tone"] / rate;
      const double sq = (phase - std::floor(phase) < 0.5 ? 1 : -1) + (phase * 1.48 - std::floor(phase * 1.48) < 0.5 ? 1 : -1);
      const double env = 0.6 * std::exp(-t / 0.012) + 0.4 * std::exp(-t / p["decay"]);
      v = (band.run(sq) + band2.run(sq)) * 3 * env;
    } else {  // rim: a stick's crack on the rim, a short ring and a little of the head
      phase += p["tone"] * 0.3 / rate;
      v = band.run(n) * 8 * std::exp(-t / p["decay"]) + 0.4 * std::sin(TwoPi * phase) * std::exp(-t / (2 * p["decay"]));
      v += p["tap"] * n * std::exp(-t / 0.0008);
    }
    r.data[i] = v;
  }
  return r;
}

// A whole drum bar in one sample, to be chopped with sample offsets as breakbeats are: each
// step is a whole number of 256-frame offset units long, and the rate is set so that the bar
// plays at `bpm` on its note (a step is a sixteenth). Masks: bit s plays on step s.
Rendered render_break(Params& p) {
  Rendered r;
  r.note = p["note"];
  const int steps = static_cast<int>(p["steps"]);
  const double stepSeconds = 60.0 / p["bpm"] / 4;
  const size_t units = std::max<size_t>(1, static_cast<size_t>(std::lround(stepSeconds * p["hz"] / 256)));
  const size_t step = units * 256;
  r.rate = static_cast<double>(step) / stepSeconds;
  const size_t total = step * static_cast<size_t>(steps);
  std::vector<double> dry(total, 0.0);
  Noise noise{static_cast<uint32_t>(p["seed"]) * 2654435761u + 17};
  const auto mask = [&](const char* name, int s) { return (static_cast<uint32_t>(p[name]) >> s) & 1u; };
  for (int s = 0; s < steps; ++s) {
    // Swing delays the odd sixteenths.
    const size_t at = s * step + (s % 2 ? static_cast<size_t>(p["swing"] * step) : 0);
    double kickPhase = 0;
    LowPass snareLp, hatLp;
    double hatPrev = 0;
    for (size_t i = at; i < total; ++i) {
      const double t = static_cast<double>(i - at) / r.rate;
      if (t > 0.5) break;
      const double n = noise.next();
      double v = 0;
      if (mask("kick", s)) {
        kickPhase += (p["tone"] + 3 * p["tone"] * std::exp(-t / 0.03)) / r.rate;
        v += std::sin(TwoPi * kickPhase) * std::exp(-t / 0.15) + 0.3 * n * std::exp(-t / 0.002);
      }
      const double snareLevel = mask("snare", s) ? 1.0 : mask("ghost", s) ? 0.3 : 0.0;
      if (snareLevel > 0) {
        const double tone = std::sin(TwoPi * 190 * t) * std::exp(-t / 0.05);
        v += snareLevel * (0.5 * tone + 0.9 * snareLp.run(n, 0.1 + 0.3 * p["color"], 1.0) * std::exp(-t / 0.11));
      }
      if (mask("hat", s)) {
        const double h = hatLp.run(n, 0.45, 1.0);
        v += 0.35 * (n - h - hatPrev) * std::exp(-t / 0.03);
        hatPrev = 0;
      }
      dry[i] += v;
    }
  }
  // A small room: a few early reflections, so the bar sounds played, not assembled.
  r.data = dry;
  static constexpr double Taps[4] = {0.011, 0.017, 0.026, 0.037};
  for (int k = 0; k < 4; ++k) {
    const size_t d = static_cast<size_t>(Taps[k] * r.rate);
    for (size_t i = d; i < total; ++i) r.data[i] += p["room"] * (0.8 - 0.15 * k) * dry[i - d];
  }
  return r;
}

// Relative note and finetune so that the sample plays as described.
void set_pitch(const Rendered& r, XmSample& s) {
  double semitones;
  if (r.period > 0) {
    // Played note n runs the sample at 8363 x 2^((n - 49 + rel) / 12) frames per second; its
    // cycle of `period` frames must then sound 440 x 2^((n - 58) / 12).
    semitones = 12 * std::log2(440.0 * r.period / 8363.0) - 9;
  } else {
    semitones = 12 * std::log2(r.rate / 8363.0) - (r.note - 49);
  }
  const long total = std::lround(semitones * 128);
  long rel = (total + 64) / 128;
  if (total + 64 < 0 && (total + 64) % 128 != 0) --rel;
  s.relativeNote = static_cast<int8_t>(std::clamp<long>(rel, -96, 95));
  s.finetune = static_cast<int8_t>(std::clamp<long>(total - rel * 128, -128, 127));
}

}  // namespace

std::vector<std::string> synth_parameter_names(const std::string& kind) {
  std::vector<std::string> names;
  auto it = kind_table().find(kind);
  if (it != kind_table().end())
    for (const auto& [name, value] : it->second) names.push_back(name);
  return names;
}

bool synthesise(const SynthSpec& recipe, XmSample& sample, std::string& error) {
  auto it = kind_table().find(recipe.kind);
  if (it == kind_table().end()) {
    error = "unknown synth kind \"" + recipe.kind + "\"";
    return false;
  }
  Params p = it->second;
  for (const auto& [name, value] : recipe.params) {
    if (!p.count(name)) {
      error = "synth kind \"" + recipe.kind + "\" has no parameter \"" + name + "\"";
      return false;
    }
    p[name] = value;
  }
  const auto layered = layered_kinds().find(recipe.kind);
  if (layered != layered_kinds().end())
    for (const auto& [name, range] : layered->second)
      if (!(p[name] >= range.low && p[name] <= range.high)) {
        error = "synth parameter " + name + "=" + format_value(p[name]) + " is outside " + format_value(range.low) +
                ".." + format_value(range.high);
        return false;
      }
  Rendered r;
  const std::string& k = recipe.kind;
  if (k == "pad") r = render_pad(p);
  else if (k == "pluck") r = render_pluck(p);
  else if (k == "fm") r = render_fm(p);
  else if (k == "saw" || k == "square" || k == "pulse" || k == "triangle" || k == "sine") r = render_wave(k, p);
  else if (k == "voice") r = render_voice(p);
  else if (k == "timpani") r = render_timpani(p);
  else if (k == "break") r = render_break(p);
  else if (k == "brush" || k == "ride" || k == "cowbell" || k == "rim") r = render_kit(k, p);
  else r = render_drum(k, p);

  sample = XmSample{};
  sample.name = recipe.kind;
  // Remove any offset (a DC step at the loop seam or the cut would click).
  if (r.loopLength > 0) {
    double mean = 0;
    for (size_t i = r.loopFrom; i < r.data.size(); ++i) mean += r.data[i];
    mean /= static_cast<double>(r.data.size() - r.loopFrom);
    for (double& v : r.data) v -= mean;
    place_loop(r, sample);
  } else {
    trim(r.data, r.rate);
  }
  double peak = 1e-9;
  for (double v : r.data) peak = std::max(peak, std::fabs(v));
  const double scale = 127.0 * std::clamp(p["peak"], 0.05, 1.0) / peak;
  sample.data.reserve(r.data.size());
  for (double v : r.data) sample.data.push_back(static_cast<int16_t>(std::clamp<long>(std::lround(v * scale), -127, 127)));
  set_pitch(r, sample);
  return true;
}
