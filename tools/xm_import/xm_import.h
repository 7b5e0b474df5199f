// Extended modules (.xm, format version 1.04) in and out, and the import of one into a
// module image.
//
// The XM file is read into plain records (XmModule) with its sample data undone from delta
// coding; write_xm is the inverse, used by the tests and by the score compiler (tools/tunescore).
// import_xm maps the records onto the module image: notes, volume column and effects keep
// their numbers (extended effects Exy become 36 + x), envelope points become segment
// lengths, finetune and relative note become the pitch offset. What the image cannot carry
// is dropped and reported by name.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "player/writer.h"

constexpr uint16_t XmVersion = 0x0104;
constexpr uint8_t XmKeyOff = 97;

struct XmSample {
  std::string name;
  std::vector<int16_t> data;  // one value per frame; -128..127 unless sixteenBit
  bool sixteenBit = false;
  uint8_t loopType = 0;       // 0 none, 1 forward, 2 ping-pong (3 as stored, read as ping-pong)
  uint32_t loopStart = 0;     // frames
  uint32_t loopLength = 0;    // frames
  uint8_t volume = 64;
  int8_t finetune = 0;        // 1/128 semitone
  uint8_t panning = 128;
  int8_t relativeNote = 0;    // semitones
  bool adpcm = false;         // 4-bit ADPCM as stored by some trackers; read as silence
  bool stereo = false;        // two channels stored one after the other; the first is kept
};

struct XmEnvelope {
  std::vector<std::pair<uint16_t, uint16_t>> points;  // (tick, value 0..64), ticks ascending
  bool on = false, sustain = false, loop = false;
  uint8_t sustainPoint = 0, loopStart = 0, loopEnd = 0;
};

struct XmInstrument {
  std::string name;
  std::vector<XmSample> samples;
  std::array<uint8_t, 96> keyMap{};  // sample number per note 1..96
  XmEnvelope volume, panning;
  uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  uint16_t fadeout = 0;
};

struct XmCell {
  uint8_t note = 0;  // 1..96, 97 key-off
  uint8_t instrument = 0;
  uint8_t volume = 0;
  uint8_t effect = 0;  // 0..35: 0-9, A-Z
  uint8_t parameter = 0;
};

struct XmPattern {
  uint16_t rows = 64;
  std::vector<XmCell> cells;  // rows x channels, row-major
};

struct XmModule {
  std::string name;
  std::string tracker = "musicdisk";
  uint16_t channels = 4;
  bool linear = true;
  uint16_t speed = 6;
  uint16_t bpm = 125;
  uint16_t restart = 0;
  std::vector<uint8_t> orders = {0};
  std::vector<XmPattern> patterns;
  std::vector<XmInstrument> instruments;
  // A file cut short in its sample data: the bytes that were missing (read as silence, up
  // to 16 MiB) and the instruments after the cut (left empty).
  uint64_t missingSampleBytes = 0;
  int missingInstruments = 0;
  bool missingCutShort = false;  // more was missing than is read as silence: samples end at the cut
};

// Reads a whole file. On failure returns false with `error` naming the place and cause
// (never reads outside `file`).
bool read_xm(std::span<const uint8_t> file, XmModule& module, std::string& error);

// The file of `module`: patterns packed, samples delta-coded.
std::vector<uint8_t> write_xm(const XmModule& module);

struct XmImport {
  bool ok = false;
  std::string error;                  // set when !ok
  std::vector<std::string> warnings;  // what the image cannot carry, by place and name
  ModuleDef def;                    // the module as the image writer takes it
  std::vector<uint8_t> image;         // passes validate_module_image
  int samples8 = 0, samples16 = 0;    // sample counts by width in the file
};

struct XmImportOptions {
  // Store every sample as 8-bit data (16-bit values rounded to their high byte), as the
  // built-in tunes require.
  bool eightBitOnly = false;
};

// Converts read records into the image description; warnings say what was dropped.
ModuleDef xm_to_module_def(const XmModule& module, const XmImportOptions& options,
                             std::vector<std::string>& warnings);

// The image of a def, its sample area starting with two zero samples as the stored tunes'
// areas do (so every imported image can be packed as it stands).
std::vector<uint8_t> write_imported_image(const ModuleDef& def);

XmImport import_xm(std::span<const uint8_t> file, const XmImportOptions& options = {});

// True when the bytes start like an extended module.
bool looks_like_xm(std::span<const uint8_t> file);
