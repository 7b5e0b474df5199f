// make-placeholder-xm OUTDIR: writes 01.xm .. 13.xm, short tunes made entirely here
// (synthesised instruments, a generated melody over a chord loop, bass and drums), each in
// its own key, mode and tempo. They stand in for the real tunes until those exist; the
// files are committed, so the build never runs this.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/xm_import/xm_import.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// One explicit random state per tune, so every file is reproducible.
struct Random {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
  double unit() { return (next() & 0xFFFF) / 65536.0; }
};

enum class Wave { Square, Saw, Triangle, Sine, Pulse };

// One looped cycle of 64 frames: at 8363 Hz a note C-4 with relative note +12 sounds C-4.
XmSample cycle(Wave wave, uint8_t volume, bool sixteenBit = false) {
  XmSample s;
  s.sixteenBit = sixteenBit;
  const double full = sixteenBit ? 24000 : 96;
  for (int i = 0; i < 64; ++i) {
    const double t = i / 64.0;
    double v = 0;
    switch (wave) {
      case Wave::Square: v = t < 0.5 ? 1 : -1; break;
      case Wave::Pulse: v = t < 0.25 ? 1 : -0.6; break;
      case Wave::Saw: v = 1 - 2 * t; break;
      case Wave::Triangle: v = t < 0.5 ? 4 * t - 1 : 3 - 4 * t; break;
      case Wave::Sine: v = std::sin(2 * Pi * t); break;
    }
    s.data.push_back(static_cast<int16_t>(std::lround(v * full)));
  }
  s.loopType = 1;
  s.loopStart = 0;
  s.loopLength = 64;
  s.volume = volume;
  s.relativeNote = 12;
  return s;
}

// A soft pad: two detuned saws over 1024 frames, played forwards and back.
XmSample pad(Random& r) {
  XmSample s;
  s.sixteenBit = true;
  const double detune = 1.0 + 0.004 * (1 + r.below(3));
  for (int i = 0; i < 1024; ++i) {
    double a = std::fmod(i / 64.0, 1.0), b = std::fmod(i * detune / 64.0, 1.0);
    double v = (1 - 2 * a) * 0.5 + (1 - 2 * b) * 0.5;
    s.data.push_back(static_cast<int16_t>(std::lround(v * 14000)));
  }
  s.loopType = 2;
  s.loopStart = 256;
  s.loopLength = 768;
  s.volume = 40;
  s.relativeNote = 12;
  return s;
}

XmSample kick(Random& r) {
  XmSample s;
  double phase = 0;
  const double drop = 0.9990 - 0.0004 * r.below(3);
  double f = 180;
  for (int i = 0; i < 2400; ++i) {
    phase += 2 * Pi * f / 8363.0;
    f = 45 + (f - 45) * drop;
    double env = std::exp(-i / 700.0);
    s.data.push_back(static_cast<int16_t>(std::lround(std::sin(phase) * env * 120)));
  }
  s.volume = 64;
  return s;
}

XmSample noise_hit(Random& r, int frames, double decay, bool bright) {
  XmSample s;
  double last = 0;
  for (int i = 0; i < frames; ++i) {
    double white = r.unit() * 2 - 1;
    double v = bright ? white - last : 0.6 * white + 0.4 * last;  // crude high or low tilt
    last = white;
    s.data.push_back(static_cast<int16_t>(std::lround(std::clamp(v * 70 * std::exp(-i / decay), -127.0, 127.0))));
  }
  s.volume = bright ? 36 : 56;
  return s;
}

XmInstrument instrument(std::string name, XmSample sample, std::vector<std::pair<uint16_t, uint16_t>> volume,
                        int sustain, uint16_t fadeout) {
  XmInstrument ins;
  ins.name = std::move(name);
  ins.samples.push_back(std::move(sample));
  if (!volume.empty()) {
    ins.volume.points = std::move(volume);
    ins.volume.on = true;
    if (sustain >= 0) {
      ins.volume.sustain = true;
      ins.volume.sustainPoint = static_cast<uint8_t>(sustain);
    }
  }
  ins.fadeout = fadeout;
  return ins;
}

struct Style {
  const char* name;
  int root;          // note number of the key's tonic in octave 4 (49 = C-4)
  int mode[7];       // scale steps in semitones
  int bpm, speed;
  Wave lead, bass;
  bool linear;
  int progression[4];  // scale degrees of the four chords
};

constexpr int Major[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int Minor[7] = {0, 2, 3, 5, 7, 8, 10};
constexpr int Dorian[7] = {0, 2, 3, 5, 7, 9, 10};
constexpr int Mixolydian[7] = {0, 2, 4, 5, 7, 9, 10};

Style style(int n) {
  auto make = [](const char* name, int root, const int* mode, int bpm, int speed, Wave lead, Wave bass, bool linear,
                 int a, int b, int c, int d) {
    Style s{name, root, {}, bpm, speed, lead, bass, linear, {a, b, c, d}};
    for (int i = 0; i < 7; ++i) s.mode[i] = mode[i];
    return s;
  };
  switch (n) {
    case 1: return make("placeholder 1 sunrise", 49, Major, 125, 6, Wave::Square, Wave::Saw, true, 0, 4, 5, 3);
    case 2: return make("placeholder 2 night drive", 46, Minor, 140, 6, Wave::Saw, Wave::Square, true, 0, 5, 2, 6);
    case 3: return make("placeholder 3 meadow", 54, Major, 110, 6, Wave::Triangle, Wave::Triangle, false, 0, 3, 4, 0);
    case 4: return make("placeholder 4 circuit", 51, Dorian, 150, 3, Wave::Pulse, Wave::Saw, true, 0, 3, 0, 4);
    case 5: return make("placeholder 5 rain", 50, Minor, 96, 6, Wave::Sine, Wave::Saw, true, 0, 3, 5, 4);
    case 6: return make("placeholder 6 arcade", 56, Major, 160, 3, Wave::Square, Wave::Pulse, false, 0, 5, 3, 4);
    case 7: return make("placeholder 7 harbour", 53, Mixolydian, 118, 6, Wave::Saw, Wave::Sine, true, 0, 6, 3, 0);
    case 8: return make("placeholder 8 frost", 48, Minor, 132, 6, Wave::Triangle, Wave::Square, true, 0, 6, 5, 4);
    case 9: return make("placeholder 9 lanterns", 52, Dorian, 104, 6, Wave::Pulse, Wave::Triangle, false, 0, 4, 3, 0);
    case 10: return make("placeholder 10 skyline", 55, Major, 145, 6, Wave::Saw, Wave::Saw, true, 0, 5, 1, 4);
    case 11: return make("placeholder 11 caverns", 47, Minor, 88, 6, Wave::Sine, Wave::Square, true, 0, 5, 6, 4);
    case 12: return make("placeholder 12 festival", 57, Mixolydian, 155, 3, Wave::Square, Wave::Saw, false, 0, 6, 3, 4);
    default: return make("placeholder 13 goodbye", 49, Major, 100, 6, Wave::Triangle, Wave::Sine, true, 0, 3, 4, 0);
  }
}

// Channels: 0 lead, 1 bass, 2 kick, 3 snare and hat, 4 arpeggiated chords, 5 pad.
constexpr int Channels = 6;
enum : uint8_t { Lead = 1, Bass, Kick, Snare, Hat, Chords, Pad };

uint8_t vol(int v) { return static_cast<uint8_t>(0x10 + v); }

XmModule make_tune(int number) {
  const Style st = style(number);
  Random r{0x9E3779B9u * static_cast<uint32_t>(number) + 12345u};
  XmModule m;
  m.name = st.name;
  m.channels = Channels;
  m.linear = st.linear;
  m.bpm = static_cast<uint16_t>(st.bpm);
  m.speed = static_cast<uint16_t>(st.speed);

  m.instruments.push_back(instrument("lead", cycle(st.lead, 44), {{0, 0}, {2, 64}, {10, 44}, {40, 36}}, 2, 900));
  m.instruments.back().vibratoType = 0;
  m.instruments.back().vibratoSweep = 24;
  m.instruments.back().vibratoDepth = 3;
  m.instruments.back().vibratoRate = 12;
  m.instruments.push_back(instrument("bass", cycle(st.bass, 52), {{0, 64}, {6, 48}, {30, 40}}, 1, 1400));
  m.instruments.push_back(instrument("kick", kick(r), {}, -1, 0));
  m.instruments.push_back(instrument("snare", noise_hit(r, 1800, 380, false), {}, -1, 0));
  m.instruments.push_back(instrument("hat", noise_hit(r, 500, 90, true), {}, -1, 0));
  XmInstrument chords = instrument("chords", cycle(Wave::Square, 22), {{0, 48}, {4, 32}, {8, 40}, {16, 24}}, -1, 600);
  chords.volume.loop = true;  // a slow tremble between points 1 and 3
  chords.volume.loopStart = 1;
  chords.volume.loopEnd = 3;
  m.instruments.push_back(chords);
  XmInstrument padInstrument = instrument("pad", pad(r), {{0, 0}, {24, 48}, {48, 40}}, 2, 300);
  padInstrument.panning.points = {{0, 16}, {64, 48}, {128, 16}};
  padInstrument.panning.on = padInstrument.panning.loop = true;
  padInstrument.panning.loopStart = 0;
  padInstrument.panning.loopEnd = 2;
  m.instruments.push_back(padInstrument);

  auto scale_note = [&](int degree, int octave) {
    int o = octave + (degree >= 0 ? degree / 7 : (degree - 6) / 7);
    int d = ((degree % 7) + 7) % 7;
    return st.root + st.mode[d] + 12 * o;
  };

  // Pattern 0: intro (bass, chords, hat); 1 and 2: full with two melodies; 3: break.
  for (int p = 0; p < 4; ++p) {
    XmPattern pat;
    pat.rows = 64;
    pat.cells.assign(64 * Channels, XmCell{});
    auto at = [&](int row, int ch) -> XmCell& { return pat.cells[row * Channels + ch]; };
    int degree = 2 + r.below(3);
    for (int row = 0; row < 64; ++row) {
      const int chord = st.progression[row / 16];
      // Drums.
      if (p != 0 && p != 3 && row % 8 == 0) at(row, 2) = {49, Kick, vol(64), 0, 0};
      if (p == 2 && row % 16 == 14) at(row, 2) = {49, Kick, vol(40), 0, 0};
      if (p != 0 && row % 16 == 8) at(row, 3) = {49, Snare, vol(60), 0, 0};
      else if (row % 4 == 2) at(row, 3) = {static_cast<uint8_t>(61 + r.below(3)), Hat, vol(20 + r.below(24)), 0, 0};
      if (p == 3 && row >= 56 && row % 2 == 0) at(row, 3) = {49, Snare, vol(24 + 5 * (row - 56)), 0, 0};
      // Bass: root on the beat, fifth or octave off it.
      if (row % 4 == 0 && p != 3) {
        int step = (row % 8 == 0) ? 0 : (r.below(2) ? 4 : 7);
        at(row, 1) = {static_cast<uint8_t>(scale_note(chord + step, -2)), Bass, 0, 0, 0};
      } else if (row % 4 == 3 && p != 3) {
        at(row, 1) = {XmKeyOff, 0, 0, 0, 0};
      }
      // Chords: one note per chord with the third and fifth as arpeggio.
      if (row % 16 == 0) {
        int base = scale_note(chord, -1);
        int third = scale_note(chord + 2, -1) - base, fifth = scale_note(chord + 4, -1) - base;
        at(row, 4) = {static_cast<uint8_t>(base), Chords, vol(40), 0, static_cast<uint8_t>(third << 4 | fifth)};
        at(row, 5) = {static_cast<uint8_t>(base), Pad, 0, 0, 0};
      } else if (row % 16 != 15) {
        int base = scale_note(chord, -1);
        int third = scale_note(chord + 2, -1) - base, fifth = scale_note(chord + 4, -1) - base;
        at(row, 4).parameter = static_cast<uint8_t>(third << 4 | fifth);  // effect 0: arpeggio goes on
      } else {
        at(row, 5) = {XmKeyOff, 0, 0, 0, 0};
      }
      // Melody: chord tones on the beat, steps between, rests now and then.
      if ((p == 1 || p == 2) && row % 2 == 0) {
        if (row % 8 == 0) {
          degree = chord + 2 * r.below(3);
        } else if (r.below(4) == 0) {
          if (row % 4 == 2) at(row, 0) = {XmKeyOff, 0, 0, 0, 0};
          continue;
        } else {
          degree += r.below(2) ? 1 : -1;
        }
        XmCell c{static_cast<uint8_t>(scale_note(degree + (p == 2 ? 2 : 0), 0)), Lead, 0, 0, 0};
        if (row % 16 == 12) c.effect = 4, c.parameter = 0x43;             // vibrato on long notes
        if (p == 2 && row % 16 == 6) c.effect = 3, c.parameter = 0x20;    // glide into this one
        at(row, 0) = c;
      }
      if (p == 3 && row % 16 == 0) {
        at(row, 0) = {static_cast<uint8_t>(scale_note(chord + 4, 0)), Lead, vol(48), 10, 0x02};  // fade
      }
    }
    m.patterns.push_back(std::move(pat));
  }
  m.orders = {0, 1, 2, 1, 3, 2};
  m.restart = 1;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-placeholder-xm OUTDIR\n");
    return 2;
  }
  for (int n = 1; n <= 13; ++n) {
    std::vector<uint8_t> file = write_xm(make_tune(n));
    char name[16];
    std::snprintf(name, sizeof name, "/%02d.xm", n);
    std::string path = std::string(argv[1]) + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
      std::fprintf(stderr, "make-placeholder-xm: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
