// Builds module images from plain descriptions of instruments, samples and patterns, for
// the tests and the tools. Patterns can be written as text rows in tracker notation:
//
//   "C-4 01 40 F06 | --- .. .. E62 | === "
//
// one field group per channel, separated by '|': note ("C-4", "C#4"; "===" key-off;
// "---" or "..." none), instrument (two hex digits), volume byte (two hex digits) and
// effect (digit or letter, then two hex digits; "E62" is the extended effect E6 with 2).
// Dots stand for an empty field; trailing fields may be left out.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "player/module.h"

enum class LoopKind : uint8_t { None, Forward, PingPong };

struct SampleSpec {
  std::vector<int16_t> data;  // one value per frame; -128..127 unless sixteenBit
  bool sixteenBit = false;
  LoopKind loop = LoopKind::None;
  uint32_t loopStart = 0;
  uint32_t loopLength = 0;
  uint8_t volume = 64;
  uint8_t panning = 128;
  int16_t pitchOffset = 0;  // 1/256 semitone
};

// Points are (segment length in ticks, value 0..64). No points: the instrument has no such
// envelope, and the image holds two points of length 1 at the neutral value.
struct EnvelopeSpec {
  std::vector<std::pair<uint16_t, uint16_t>> points;
  uint8_t sustain = EnvelopeNone;
  uint8_t loopStart = 0;
  uint8_t loopEnd = EnvelopeNone;
};

struct InstrumentSpec {
  std::vector<SampleSpec> samples;
  std::array<uint8_t, 96> keyMap{};  // sample number per note 1..96; all sample 0 by default
  uint16_t fadeout = 0;
  uint8_t vibratoWaveform = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  EnvelopeSpec volumeEnvelope;
  EnvelopeSpec panningEnvelope;
};

struct CellSpec {
  uint8_t channel = 0;
  uint8_t note = 0;
  uint8_t instrument = 0;
  uint8_t volume = 0;
  int16_t effect = -1;  // -1 = none
  uint8_t parameter = 0;
};

struct PatternSpec {
  std::vector<std::vector<CellSpec>> rows;
  bool absent = false;          // stored without data (offset 0)
  std::vector<uint8_t> raw;     // when not empty: the row bytes exactly as given
  uint32_t rawRowCount = 0;     // row count stored with raw bytes
};

struct ModuleSpec {
  uint32_t channelCount = 4;
  uint8_t speed = 6;
  uint8_t tempo = 125;
  bool linear = true;
  bool keepChannelPanning = false;
  bool deltaCoded = false;
  uint32_t restartPosition = 0;
  std::vector<uint8_t> orders = {0};
  std::vector<PatternSpec> patterns;
  std::vector<InstrumentSpec> instruments;
  std::array<uint8_t, MaxChannels> panning = [] {
    std::array<uint8_t, MaxChannels> p{};
    p.fill(128);
    return p;
  }();
  std::optional<int32_t> minimumPeriod, maximumPeriod;  // default: the range of the scale
};

// The image of `spec`; sample data is followed by zero padding so interpolation and
// ping-pong turns read inside the image.
std::vector<uint8_t> write_module_image(const ModuleSpec& spec);

// One text row; nullopt with a message in `error` when it does not parse.
std::optional<std::vector<CellSpec>> parse_row(std::string_view text, std::string* error = nullptr);

// A pattern from text rows; a row that does not parse ends the program with a message
// (for tests, whose tunes are written in the source).
PatternSpec pattern_from_rows(std::initializer_list<std::string_view> rows);

// A pattern of `count` empty rows.
PatternSpec empty_pattern(uint32_t count);
