// Scores: the plain-text source of the built-in tunes, and their compilation into extended
// modules (.xm) that any tracker opens.
//
// A score is lines; '#' starts a comment. Header lines, in any order before the first
// instrument:
//   title "Name"            song name (up to 20 characters in the .xm)
//   channels N              1..32
//   speed N                 ticks per row at the start, 1..31
//   tempo N                 beats per minute at the start, 32..255
//   frequencies linear|amiga
//   restart NAME            the pattern entry of the order list the song returns to (first
//                           occurrence), or a position number
//   order NAME NAME ...     song positions by pattern name (may repeat over several lines)
// Instruments, numbered 1.. in the order they appear:
//   instrument NAME
//     synth KIND key=value ...          the sample (see sample_synth.h)
//     split NOTE KIND key=value ...     a further sample, played from NOTE (e.g. C-5) up to the
//                                       next split; the synth line's sample plays below the first
//     volume N   panning N              the sample's default volume 0..64 and panning 0..255
//     transpose N                       semitones added to the sample's relative note
//     envelope volume|panning TICK:VALUE ... [sustain=I] [loop=I-J]
//     fadeout N                         0..4095
//     autovibrato sine|square|rampdown|rampup sweep=N depth=N rate=N
//   end
// Patterns:
//   pattern NAME
//     one line per row: the cells of channels 0.. separated by '|' (missing trailing cells
//     are empty). A cell is note, instrument, volume column and effect, as a tracker shows
//     them: "C-4 01 40 A0F". Note: C-4, C#4 .. B-7, "===" key-off, "..." none. Instrument:
//     two decimal digits or "..". Volume column: ".." none; two hex digits 10..50 set the
//     volume; or a letter and a hex digit: - slide down, + slide up, d fine down, u fine up,
//     s vibrato speed, v vibrato, p panning, l slide left, r slide right, m portamento.
//     Effect: three characters, the effect letter (0-9, A-Z) and two hex digits, or "...".
//   end
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/tunescore/sample_synth.h"
#include "tools/xm_import/xm_import.h"

struct ScoreEnvelope {
  std::vector<std::pair<uint16_t, uint16_t>> points;  // (tick, value)
  int sustain = -1;                                  // point index or -1
  int loopStart = -1, loopEnd = -1;                  // point indices or -1
};

struct ScoreInstrument {
  std::string name;
  SynthSpec synth;
  std::vector<std::pair<int, SynthSpec>> splits;  // further samples by the first note (1..96) they play
  int volume = 64, panning = 128, transpose = 0;
  ScoreEnvelope volumeEnvelope, panningEnvelope;
  int fadeout = 0;
  int vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
};

struct ScorePattern {
  std::string name;
  std::vector<std::vector<XmCell>> rows;  // rows x channels
};

struct Score {
  std::string title;
  int channels = 8, speed = 6, tempo = 125;
  bool linear = true;
  std::vector<std::string> order;
  std::string restart;  // a pattern name, or a position number in digits; empty: 0
  std::vector<ScoreInstrument> instruments;
  std::vector<ScorePattern> patterns;
};

// Reads a score; on failure false with `error` as "file:line:column: cause".
bool parse_score(const std::string& text, const std::string& file, Score& score, std::string& error);

// The module of a score (samples synthesised); false with `error` when an instrument's
// synth cannot be made or the order names no pattern.
bool score_to_xm(const Score& score, XmModule& module, std::string& error);
