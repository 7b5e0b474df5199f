// Packing a tune for the program: a complete module image with plain 8-bit sample data is
// split into its stored part and a compressed sample stream, assembled again exactly as the
// show does it, and written to the files the build embeds.
//
// The pieces, for an image whose sample area starts at S and holds B bytes of 8-bit data:
// the stored part is bytes 0..L-1 with L = S + 2 (the area begins with two zero samples,
// which stay in the stored part), and the stream codes the samples from L up to the end of
// the area followed by two zero samples, so that the decoded count is at least B.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codecs/tunes.h"
#include "tools/samplecodec/sample_encoder.h"

enum class TunePackError {
  None,
  NotAnImage,        // shorter than the header block, or no "QKB" magic
  DeltaCoded,        // flags bit 2 set
  SixteenBitData,    // a 16-bit data size other than 0
  BadSampleArea,     // the area lies outside the image, or data follows it
  AreaStartNotZero,  // the area does not begin with two zero samples
  TooLarge,          // the assembled image would not fit a tune's buffer
};

struct PackedTune {
  std::vector<uint8_t> stored;  // the stored part, L bytes
  EncodedSamples samples;       // the compressed sample stream
  std::vector<uint8_t> image;   // what assemble_tune builds from the two: TuneImageBytes bytes
  uint64_t used = 0;            // L + decoded, the bytes of the buffer assembly writes
};

struct TunePackResult {
  TunePackError error = TunePackError::None;
  std::string message;  // the cause in words (for TooLarge with the excess in bytes)
  PackedTune tune;
};

TunePackResult pack_tune(std::span<const uint8_t> image, const SampleEncoderSettings& settings = {});

// Encoder settings for a quality level 1..9 (5 the default): each level up halves what a
// stream bit is worth in squared error, so the encoder spends more bits on the same error.
SampleEncoderSettings settings_for_quality(int quality);

// What packing costs in fidelity. Each sample's frames (up to its loop end or length) in the
// unpacked image against the same frames after the codec, and one pass of the whole tune
// played by the player from both images.
struct SampleFidelity {
  uint32_t instrument = 0;  // 1-based
  uint32_t sample = 0;      // 0-based within the instrument
  uint32_t frames = 0;
  double snrDb = 0;         // 10 log10(signal / error energy); +inf when unchanged
};
struct PackFidelity {
  std::vector<SampleFidelity> samples;
  double allSamplesSnrDb = 0;  // over the whole sample area
  double tuneSnrDb = 0;        // rendered pass, packed against unpacked
  double passSeconds = 0;
  bool passEnded = false;
};
// `image` is the unpacked module image that pack_tune was given.
PackFidelity measure_pack_fidelity(std::span<const uint8_t> image, const PackedTune& tune);

// Lines that report a PackFidelity, one per sample and one for the whole tune.
std::string describe_pack_fidelity(const PackFidelity& fidelity);

// One line with the sizes of a packed tune: stored length, blocks, groups, stream bytes,
// decoded samples, used bytes.
std::string describe_packed_tune(const PackedTune& tune);

// The file of one packed tune: u32 L, u32 stream bytes (little-endian), the stored part,
// the stream.
std::vector<uint8_t> packed_tune_file(const PackedTune& tune);

struct PackedTuneView {
  std::span<const uint8_t> stored;
  std::span<const uint8_t> stream;
};
// The two pieces of a packed tune file, or nothing when the file is cut short, its stored
// part lacks the magic, or its stream is not whole.
std::optional<PackedTuneView> read_packed_tune_file(std::span<const uint8_t> file);

// The program's tune data as one byte block: the thirteen stored parts, each followed by
// zero padding to a 4-byte boundary and its length (u32 little-endian), then the thirteen
// streams one after another, each starting on a 4-byte boundary.
struct TuneDataLayout {
  std::vector<uint8_t> bytes;
  std::array<uint32_t, TuneCount> storedOffset{};
  std::array<uint32_t, TuneCount> storedLength{};
  std::array<uint32_t, TuneCount> streamOffset{};
};
TuneDataLayout lay_out_tune_data(std::span<const PackedTuneView, TuneCount> tunes);

// A C++ source that holds the block and defines StoredTunes on it.
std::string tune_data_source(const TuneDataLayout& layout);
