// compose-tunes OUTDIR: writes the scores of the thirteen built-in tunes (01.score ..
// 13.score). Each tune is arranged here from its style: sections with their chord
// progressions, grooves written as step strings, bass figures, voiced pads, arpeggios, and
// melodies grown from a one-bar motif over the chords. The scores it writes are the
// committed source of assets/tunes/*.xm; this program only wrote them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/tunescore/score.h"

namespace {

// ---- Notes and chords -------------------------------------------------------------------

// Pitch class of a note letter with an optional # or b.
int pitch_class(const std::string& s, size_t& i) {
  static const int Base[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
  int pc = Base[std::toupper(static_cast<unsigned char>(s[i])) - 'A'];
  ++i;
  if (i < s.size() && s[i] == '#') ++pc, ++i;
  else if (i < s.size() && s[i] == 'b') --pc, ++i;
  return (pc + 12) % 12;
}

// "c4", "f#3", "bb2": the XM note number (C-4 = 49).
int N(const std::string& s) {
  size_t i = 0;
  const int pc = pitch_class(s, i);
  return (s[i] - '0') * 12 + pc + 1;
}

struct Chord {
  int root = 0;              // pitch class
  std::vector<int> tones;    // semitones above the root, ascending, root first
  int bass = -1;             // slash bass pitch class or -1
};

Chord chord(const std::string& sym) {
  Chord c;
  size_t i = 0;
  c.root = pitch_class(sym, i);
  std::string q = sym.substr(i);
  const size_t slash = q.find('/');
  if (slash != std::string::npos) {
    size_t j = 0;
    c.bass = pitch_class(q.substr(slash + 1), j);
    q = q.substr(0, slash);
  }
  static const std::map<std::string, std::vector<int>> Qualities = {
      {"", {0, 4, 7}},         {"m", {0, 3, 7}},         {"7", {0, 4, 7, 10}},      {"m7", {0, 3, 7, 10}},
      {"maj7", {0, 4, 7, 11}}, {"sus4", {0, 5, 7}},      {"sus2", {0, 2, 7}},       {"dim", {0, 3, 6}},
      {"add9", {0, 4, 7, 14}}, {"m9", {0, 3, 7, 10, 14}}, {"9", {0, 4, 7, 10, 14}},  {"6", {0, 4, 7, 9}},
      {"m6", {0, 3, 7, 9}},    {"m7b5", {0, 3, 6, 10}},  {"maj9", {0, 4, 7, 11, 14}}, {"5", {0, 7}}};
  c.tones = Qualities.at(q);
  return c;
}

// The lowest note of pitch class pc at or above `from`.
int at_or_above(int pc, int from) {
  int n = from;
  while ((n - 1) % 12 != pc) ++n;
  return n;
}

struct Random {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
};

// ---- Patterns ---------------------------------------------------------------------------

// Channels of every tune.
enum Ch { Kick, Snare, Hat, Bass, PadA, PadB, PadC, Arp, Lead, Echo, Channels };

struct Pat {
  ScorePattern p;
  explicit Pat(std::string name, int rows) {
    p.name = std::move(name);
    p.rows.assign(static_cast<size_t>(rows), std::vector<XmCell>(Channels));
  }
  int rows() const { return static_cast<int>(p.rows.size()); }
  XmCell& at(int r, int c) { return p.rows[static_cast<size_t>(r)][static_cast<size_t>(c)]; }
  void note(int r, int c, int n, int ins, int vol = -1) {
    if (r < 0 || r >= rows()) return;
    XmCell& x = at(r, c);
    x.note = static_cast<uint8_t>(n);
    x.instrument = static_cast<uint8_t>(ins);
    if (vol >= 0) x.volume = static_cast<uint8_t>(0x10 + std::clamp(vol, 0, 64));
  }
  void off(int r, int c) {
    if (r >= 0 && r < rows() && at(r, c).note == 0) at(r, c).note = XmKeyOff;
  }
  void fx(int r, int c, int effect, int parameter) {
    if (r < 0 || r >= rows()) return;
    at(r, c).effect = static_cast<uint8_t>(effect);
    at(r, c).parameter = static_cast<uint8_t>(parameter);
  }
  void vol(int r, int c, int v) {
    if (r >= 0 && r < rows()) at(r, c).volume = static_cast<uint8_t>(v);
  }
  bool free_fx(int r, int c) { return r >= 0 && r < rows() && at(r, c).effect == 0 && at(r, c).parameter == 0; }
};

// Effect numbers as stored (0..9, then A=10 .. Z=35).
enum Fx { Arpeggio = 0, PortaUp = 1, PortaDown = 2, TonePorta = 3, Vibrato = 4, Tremolo = 7, SetPan = 8,
          VolSlide = 10, Jump = 11, SetVol = 12, Break = 13, Extended = 14, Speed = 15, Global = 16,
          GlobalSlide = 17, PanSlide = 25, MultiRetrig = 27 };
constexpr int E(int x, int y) { return x * 16 + y; }  // Exy parameter under effect 14

// ---- Instruments ------------------------------------------------------------------------

ScoreInstrument instrument(std::string name, std::string kind, std::vector<std::pair<std::string, double>> params,
                           int volume, int panning) {
  ScoreInstrument i;
  std::replace(name.begin(), name.end(), ' ', '-');  // names are one word in a score
  i.name = std::move(name);
  i.synth = {std::move(kind), std::move(params)};
  i.volume = volume;
  i.panning = panning;
  return i;
}

ScoreInstrument& envelope(ScoreInstrument& i, std::vector<std::pair<uint16_t, uint16_t>> points, int sustain,
                          int fadeout, int loopStart = -1, int loopEnd = -1) {
  i.volumeEnvelope.points = std::move(points);
  i.volumeEnvelope.sustain = sustain;
  i.volumeEnvelope.loopStart = loopStart;
  i.volumeEnvelope.loopEnd = loopEnd;
  i.fadeout = fadeout;
  return i;
}

// ---- Arrangement ------------------------------------------------------------------------

struct Section {
  std::string name;
  std::vector<std::string> chords;  // one per bar; "Am:G" splits a bar in two halves
  std::string kick, snare, hat;     // one bar of steps each ("" = silent); see play_drums
  std::string bass;                 // one bar of steps; see play_bass
  bool pad = true, arp = false, lead = false, echo = false;
  int leadOctave = 5, seed = 1;
  int fill = 0;                     // 1: snare roll in the last bar, 2: tom fill
  std::function<void(Pat&, int bar)> extra;  // per-bar touches of the tune
};

struct Tune {
  Score score;
  int barRows = 16, stepRows = 2;      // a bar, and the melody's step
  int keyRoot = 0;                     // pitch class of the key
  std::vector<int> scale = {0, 2, 4, 5, 7, 9, 11};
  // Instrument numbers (1-based) of the parts.
  int kick = 0, snare = 0, hat = 0, openHat = 0, bass = 0, pad = 0, arp = 0, lead = 0, echo = 0, tom = 0;
  int kickVol = 56, snareVol = 48, hatVol = 26, bassVol = 50, padVol = 26, arpVol = 30, leadVol = 38;
  std::string arpShape = "0121";       // chord-tone indices per step; '+' = octave above root
  int arpStep = 1, arpOctave = 5;
  bool arpAsEffect = false;            // chord as arpeggio effect on one note, for the chip sound
  bool leadGlide = false, leadVibrato = true;
  int echoDelay = 3, echoPan = 0xC8;
  std::vector<std::string> order;
  std::string restart;
  std::vector<Section> sections;
  std::vector<int> padVoicing;         // the last voicing, for smooth voice leading
  int prevLead = 0;
};

Chord chord_at(const Section& s, int bar, int half) {
  const std::string& c = s.chords[static_cast<size_t>(bar) % s.chords.size()];
  const size_t colon = c.find(':');
  if (colon == std::string::npos) return chord(c);
  return chord(half == 0 ? c.substr(0, colon) : c.substr(colon + 1));
}

// Drum steps: one character per row (or per group of rows when the string is shorter than
// the bar): 'x' accent, 'o' normal, '.' ghost, 'r' a roll (retrigger), 'd' a late hit (note
// delay), 'c' a cut hit (note cut), 'O' open hat, '-' nothing.
void play_drums(Tune& t, Pat& p, int row0, int ch, int ins, int vol, const std::string& steps) {
  if (steps.empty()) return;
  const int per = std::max(1, t.barRows / static_cast<int>(steps.size()));
  for (size_t i = 0; i < steps.size(); ++i) {
    const int r = row0 + static_cast<int>(i) * per;
    const char c = steps[i];
    const int note = 61;
    switch (c) {
      case 'x': p.note(r, ch, note, ins, vol); break;
      case 'o': p.note(r, ch, note, ins, vol * 3 / 4); break;
      case '.': p.note(r, ch, note, ins, vol * 2 / 5); break;
      case 'r': p.note(r, ch, note, ins, vol * 3 / 5); p.fx(r, ch, Extended, E(9, 3)); break;
      case 'd': p.note(r, ch, note, ins, vol * 3 / 4); p.fx(r, ch, Extended, E(0xD, 2)); break;
      case 'c': p.note(r, ch, note, ins, vol); p.fx(r, ch, Extended, E(0xC, 2)); break;
      case 'O': p.note(r, ch, note, t.openHat ? t.openHat : ins, vol); break;
      default: break;
    }
  }
}

// Bass steps per row group: 'R' root, '5' fifth, 'O' root an octave up, '3' third, '7' the
// seventh (or octave), 'w' a walking note, 'a' a chromatic approach to the next chord's root,
// 's' the root reached by a slide (tone portamento), '-' key-off, '.' hold.
void play_bass(Tune& t, Pat& p, const Section& s, int bar, int row0, const std::string& steps) {
  if (steps.empty()) return;
  const int per = std::max(1, t.barRows / static_cast<int>(steps.size()));
  for (size_t i = 0; i < steps.size(); ++i) {
    const int r = row0 + static_cast<int>(i) * per;
    const int half = (static_cast<int>(i) * 2 >= static_cast<int>(steps.size())) ? 1 : 0;
    const Chord c = chord_at(s, bar, half);
    const int rootPc = c.bass >= 0 ? c.bass : c.root;
    const int root = at_or_above(rootPc, N("e2"));
    const int third = root + c.tones[std::min<size_t>(1, c.tones.size() - 1)];
    const int fifth = root + (c.tones.size() > 2 ? c.tones[2] : 7);
    const int seventh = root + (c.tones.size() > 3 ? c.tones[3] % 12 : 12);
    const Chord next = chord_at(s, bar + 1, 0);
    const int nextRoot = at_or_above(next.bass >= 0 ? next.bass : next.root, N("e2"));
    int n = 0;
    switch (steps[i]) {
      case 'R': n = root; break;
      case '5': n = fifth; break;
      case 'O': n = root + 12; break;
      case '3': n = third; break;
      case '7': n = seventh; break;
      case 'w': {  // walking: chord tones by beat, alternating up the chord
        const int beat = static_cast<int>(i) % 4;
        n = beat == 0 ? root : beat == 1 ? third : beat == 2 ? fifth : nextRoot + ((bar + static_cast<int>(i)) % 2 ? 1 : -1);
        break;
      }
      case 'a': n = nextRoot + (nextRoot > root ? -1 : 1); break;
      case 's': n = root; p.note(r, Bass, n, t.bass); p.fx(r, Bass, TonePorta, 0x30); p.at(r, Bass).instrument = 0; continue;
      case '-': p.off(r, Bass); continue;
      default: continue;
    }
    p.note(r, Bass, n, t.bass);
  }
}

// Voice leading: the chord's tones placed near the previous voicing, within C-4 .. G-5.
std::vector<int> voice(Tune& t, const Chord& c, int voices) {
  std::vector<int> best;
  double bestCost = 1e9;
  const int low = N("g3"), high = N("f5");
  for (int inversion = 0; inversion < static_cast<int>(c.tones.size()); ++inversion) {
    std::vector<int> v;
    int n = at_or_above((c.root + c.tones[static_cast<size_t>(inversion)]) % 12, low);
    for (int k = 0; k < voices; ++k) {
      const int tone = (c.root + c.tones[static_cast<size_t>(inversion + k) % c.tones.size()]) % 12;
      n = k == 0 ? n : at_or_above(tone, v.back() + 1);
      v.push_back(n);
    }
    if (v.back() > high + 4) continue;
    double cost = 0;
    for (size_t k = 0; k < v.size(); ++k)
      cost += t.padVoicing.size() > k ? std::abs(v[k] - t.padVoicing[k]) : std::abs(v[k] - N("c4") - 4 * int(k));
    if (cost < bestCost) bestCost = cost, best = v;
  }
  if (best.empty()) best = {N("c4"), N("e4"), N("g4")};
  t.padVoicing = best;
  return best;
}

int scale_snap(const Tune& t, int n) {
  while (std::find(t.scale.begin(), t.scale.end(), ((n - 1 - t.keyRoot) % 12 + 12) % 12) == t.scale.end()) ++n;
  return n;
}

int scale_step(const Tune& t, int n, int steps) {
  while (steps != 0) {
    const int dir = steps > 0 ? 1 : -1;
    n += dir;
    while (std::find(t.scale.begin(), t.scale.end(), ((n - 1 - t.keyRoot) % 12 + 12) % 12) == t.scale.end()) n += dir;
    steps -= dir;
  }
  return n;
}

// The chord tone nearest to `n`.
int nearest_chord_tone(const Chord& c, int n) {
  int best = n, bestDistance = 99;
  for (int tone : c.tones)
    for (int octave = -1; octave <= 1; ++octave) {
      const int pc = (c.root + tone) % 12;
      const int m = at_or_above(pc, n - 6) + 12 * octave;
      if (std::abs(m - n) < bestDistance) bestDistance = std::abs(m - n), best = m;
    }
  return best;
}

// A melody over the section: a one-bar rhythm and contour (the motif) answered and varied
// bar by bar; the fourth bar of each phrase lands on a long chord tone.
void play_melody(Tune& t, Pat& p, const Section& s, int firstBar, int bars) {
  Random rng{static_cast<uint32_t>(s.seed) * 7919u + 17u};
  const int steps = t.barRows / t.stepRows;
  std::vector<int> rhythm(static_cast<size_t>(steps), 0);  // 1 onset, 0 hold, -1 rest
  for (int i = 0; i < steps; ++i) rhythm[static_cast<size_t>(i)] = rng.chance(i % 2 == 0 ? 70 : 35) ? 1 : 0;
  rhythm[0] = 1;
  if (steps > 4) rhythm[static_cast<size_t>(steps - 1)] = -1;
  // The contour in scale steps: an arch (up through the first half of the bar, down through
  // the second) of steps of one or two, now and then against the grain; never a repeat.
  std::vector<int> contour(static_cast<size_t>(steps));
  for (int i = 0; i < steps; ++i) {
    const int direction = (i < steps / 2 ? 1 : -1) * (rng.chance(30) ? -1 : 1);
    contour[static_cast<size_t>(i)] = direction * (1 + rng.below(2));
  }
  int n = t.prevLead ? t.prevLead : N("c5") + 12 * (s.leadOctave - 5) + t.keyRoot;
  for (int b = 0; b < bars; ++b) {
    const int bar = firstBar + b;
    const int row0 = b * t.barRows;
    const int phraseBar = bar % 4;
    for (int i = 0; i < steps; ++i) {
      const int r = row0 + i * t.stepRows;
      const Chord c = chord_at(s, bar, i * 2 >= steps ? 1 : 0);
      int onset = rhythm[static_cast<size_t>(i)];
      if (phraseBar == 1 && i == steps - 2) onset = 0;       // the answer breathes
      if (phraseBar == 3) onset = (i == 0 || (i == steps / 2 && steps > 6)) ? 1 : (i == steps - 1 ? -1 : 0);
      if (onset == -1) {
        p.off(r, Lead);
        continue;
      }
      if (onset == 0) continue;
      const int strong = (i % (steps / 2 > 0 ? steps / 2 : 1)) == 0;
      int step = contour[static_cast<size_t>(i)] * (phraseBar == 1 ? -1 : 1);
      if (phraseBar == 2 && i == 0) step += 2;
      n = scale_step(t, n, step);
      if (strong || phraseBar == 3) n = nearest_chord_tone(c, n);
      const int centre = N("c5") + 12 * (s.leadOctave - 5);
      while (n > centre + 9) n -= 12;
      while (n < centre - 7) n += 12;
      n = scale_snap(t, n);
      p.note(r, Lead, n, t.lead, phraseBar == 3 ? t.leadVol - 4 : (strong ? t.leadVol : t.leadVol - 8));
      if (t.leadGlide && !strong && rng.chance(30) && i > 0) {
        p.at(r, Lead).instrument = 0;
        p.fx(r, Lead, TonePorta, 0x28);
      } else if (t.leadVibrato && phraseBar == 3 && i == 0) {
        p.fx(r + t.stepRows, Lead, Vibrato, 0x54);
      }
      if (s.echo && t.echo) {
        const int er = r + t.echoDelay;
        if (er < p.rows()) {
          p.note(er, Echo, n, t.echo, t.leadVol / 3);
          p.fx(er, Echo, SetPan, t.echoPan);
        }
      }
    }
  }
  t.prevLead = n;
}

void play_arp(Tune& t, Pat& p, const Section& s, int firstBar, int bars) {
  for (int b = 0; b < bars; ++b) {
    const int bar = firstBar + b;
    const int row0 = b * t.barRows;
    if (t.arpAsEffect) {
      for (int half = 0; half < 2; ++half) {
        const Chord c = chord_at(s, bar, half);
        const int base = at_or_above(c.root, N("c4") + 12 * (t.arpOctave - 4));
        const int x = c.tones[1], y = c.tones.size() > 2 ? c.tones[2] : 12;
        const int r = row0 + half * t.barRows / 2;
        p.note(r, Arp, base, t.arp, t.arpVol);
        for (int k = 0; k < t.barRows / 2; ++k) p.fx(r + k, Arp, Arpeggio, x << 4 | (y & 15));
      }
      continue;
    }
    for (int i = 0; i * t.arpStep < t.barRows; ++i) {
      const int r = row0 + i * t.arpStep;
      const Chord c = chord_at(s, bar, i * t.arpStep * 2 >= t.barRows ? 1 : 0);
      const char k = t.arpShape[static_cast<size_t>(i) % t.arpShape.size()];
      if (k == '-') continue;
      const int base = at_or_above(c.root, N("c4") + 12 * (t.arpOctave - 4));
      const int n = k == '+' ? base + 12 : base + c.tones[static_cast<size_t>(k - '0') % c.tones.size()];
      p.note(r, Arp, n, t.arp, (i % 4 == 0) ? t.arpVol : t.arpVol - 8);
    }
  }
}

void play_pads(Tune& t, Pat& p, const Section& s, int firstBar, int bars) {
  for (int b = 0; b < bars; ++b) {
    const int bar = firstBar + b;
    const std::string& sym = s.chords[static_cast<size_t>(bar) % s.chords.size()];
    const bool split = sym.find(':') != std::string::npos;
    for (int half = 0; half < (split ? 2 : 1); ++half) {
      const int r = b * t.barRows + half * t.barRows / 2;
      const std::vector<int> v = voice(t, chord_at(s, bar, half), 3);
      // Held chords are not struck again.
      bool same = r > 0;
      for (int k = 0; k < 3 && same; ++k) {
        int prev = 0;
        for (int q = r - 1; q >= 0 && prev == 0; --q) prev = p.at(q, PadA + k).note;
        same = prev == v[static_cast<size_t>(k)];
      }
      if (same) continue;
      for (int k = 0; k < 3; ++k) p.note(r, PadA + k, v[static_cast<size_t>(k)], t.pad, t.padVol);
    }
  }
}

// One section as 4-bar patterns named NAME1, NAME2, ...
std::vector<std::string> arrange_section(Tune& t, const Section& s) {
  std::vector<std::string> names;
  const int bars = static_cast<int>(s.chords.size());
  for (int first = 0; first < bars; first += 4) {
    const int count = std::min(4, bars - first);
    Pat p(s.name + std::to_string(first / 4 + 1), count * t.barRows);
    for (int b = 0; b < count; ++b) {
      const int row0 = b * t.barRows;
      const bool lastBar = first + b == bars - 1;
      play_drums(t, p, row0, Kick, t.kick, t.kickVol, s.kick);
      if (lastBar && s.fill == 1) {
        // A snare roll that quickens: plain hits, then retriggers of 3, then 2 ticks.
        for (int r = 0; r < t.barRows; r += 2) {
          p.note(row0 + r, Snare, 61, t.snare, t.snareVol / 2 + r * 2);
          if (r >= t.barRows / 2) p.fx(row0 + r, Snare, Extended, E(9, r >= t.barRows * 3 / 4 ? 2 : 3));
        }
      } else if (lastBar && s.fill == 2 && t.tom) {
        play_drums(t, p, row0, Snare, t.snare, t.snareVol, s.snare.substr(0, s.snare.size() / 2));
        for (int k = 0; k < 4; ++k) p.note(row0 + t.barRows / 2 + k * t.barRows / 8, Snare, N("e5") - 3 * k, t.tom, t.snareVol);
      } else {
        play_drums(t, p, row0, Snare, t.snare, t.snareVol, s.snare);
      }
      play_drums(t, p, row0, Hat, t.hat, t.hatVol, s.hat);
      play_bass(t, p, s, first + b, row0, s.bass);
    }
    if (s.pad && t.pad) play_pads(t, p, s, first, count);
    if (s.arp && t.arp) play_arp(t, p, s, first, count);
    if (s.lead && t.lead) play_melody(t, p, s, first, count);
    if (s.extra)
      for (int b = 0; b < count; ++b) s.extra(p, first + b);
    t.score.patterns.push_back(p.p);
    names.push_back(p.p.name);
  }
  return names;
}

void finish(Tune& t) {
  std::map<std::string, std::vector<std::string>> patterns;
  for (const Section& s : t.sections) patterns[s.name] = arrange_section(t, s);
  for (const std::string& name : t.order) {
    const auto& list = patterns.at(name);
    if (t.restart == name && t.score.restart.empty()) t.score.restart = std::to_string(t.score.order.size());
    t.score.order.insert(t.score.order.end(), list.begin(), list.end());
  }
  t.score.channels = Channels;
}

// Global volume on the first row of the song and of the restart position, so every pass
// starts at the tune's level.
// (Tempo and speed too, where the tune changes them on the way.)
void set_level(Tune& t, double gainDb, bool resetTiming = false);

// An effect on a row, in the first free effect column (the echo, arpeggio and drum channels
// are tried first); for song-wide commands such as speed, tempo and global volume.
void put_fx(Pat& p, int r, int effect, int parameter) {
  for (int c : {int(Echo), int(Arp), int(Hat), int(Kick), int(Snare), int(PadC), int(PadB), int(PadA), int(Bass), int(Lead)})
    if (p.free_fx(r, c)) {
      p.fx(r, c, effect, parameter);
      return;
    }
}

void put_fx(ScorePattern& sp, int r, int effect, int parameter) {
  Pat p("", 1);
  p.p = sp;
  put_fx(p, r, effect, parameter);
  sp = p.p;
}

ScorePattern& pattern(Tune& t, const std::string& name) {
  for (ScorePattern& p : t.score.patterns)
    if (p.name == name) return p;
  std::fprintf(stderr, "compose-tunes: no pattern %s\n", name.c_str());
  std::exit(1);
}

// ---- The thirteen tunes -----------------------------------------------------------------

void set_level(Tune& t, double gainDb, bool resetTiming) {
  // Below unity the global volume turns the tune down; above it every note's volume is
  // raised (limited at 64), notes without a volume taking their sample's default.
  const double gain = std::pow(10.0, gainDb / 20);
  int global = 64;
  if (gain <= 1) {
    global = std::clamp(static_cast<int>(std::lround(64 * gain)), 1, 64);
  } else {
    for (ScorePattern& p : t.score.patterns)
      for (auto& row : p.rows)
        for (XmCell& c : row) {
          int v = -1;
          if (c.volume >= 0x10 && c.volume <= 0x50) v = c.volume - 0x10;
          else if (c.note && c.note != XmKeyOff && c.instrument && c.volume == 0)
            v = t.score.instruments[c.instrument - 1].volume;
          if (v >= 0) c.volume = static_cast<uint8_t>(0x10 + std::min(64L, std::lround(v * gain)));
        }
  }
  auto first_row = [&](const std::string& name) {
    ScorePattern& p = pattern(t, name);
    put_fx(p, 0, Global, global);
    if (resetTiming) {
      put_fx(p, 0, Speed, t.score.speed);
      put_fx(p, 0, Speed, t.score.tempo);
    }
  };
  first_row(t.score.order.front());
  if (!t.score.restart.empty() && t.score.order[static_cast<size_t>(std::stoi(t.score.restart))] != t.score.order.front())
    first_row(t.score.order[static_cast<size_t>(std::stoi(t.score.restart))]);
}

#include "tools/tunescore/compose_tunes.inc"

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: compose-tunes OUTDIR\n");
    return 2;
  }
  const std::vector<Score> tunes = all_tunes();
  for (size_t n = 0; n < tunes.size(); ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/%02zu.score", n + 1);
    const std::string path = std::string(argv[1]) + name;
    const std::string text = "# " + tunes[n].title + " (written by compose-tunes; compile with tunescore)\n" +
                             format_score(tunes[n]);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
      std::fprintf(stderr, "compose-tunes: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
