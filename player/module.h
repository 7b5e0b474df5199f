// The module image: one tune as a single block of little-endian data (fixed header, order
// table, offset tables for instruments, patterns and sample data, then the records and the
// sample area). Every stored offset counts in bytes from the image start.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// "QKB" and a zero byte, read as one little-endian word.
constexpr uint32_t ModuleMagic = 0x00424B51;

// Byte layout of the header block that the player copies.
constexpr uint32_t HeaderSongLength = 0x04;
constexpr uint32_t HeaderRestartPosition = 0x08;
constexpr uint32_t HeaderChannelCount = 0x0C;
constexpr uint32_t HeaderPatternCount = 0x10;
constexpr uint32_t HeaderInstrumentCount = 0x14;
constexpr uint32_t HeaderInitialSpeed = 0x18;
constexpr uint32_t HeaderInitialTempo = 0x19;
constexpr uint32_t HeaderFlags = 0x1A;
constexpr uint32_t HeaderSampleDataOffset = 0x1C;
constexpr uint32_t HeaderSampleData8Size = 0x20;
constexpr uint32_t HeaderSampleData16Count = 0x24;
constexpr uint32_t HeaderMinimumPeriod = 0x28;
constexpr uint32_t HeaderMaximumPeriod = 0x2C;
constexpr uint32_t HeaderInitialPanning = 0x30;
constexpr uint32_t OrderTableOffset = 0x50;
constexpr uint32_t InstrumentTableOffset = 0x150;
constexpr uint32_t PatternTableOffset = 0x350;
constexpr uint32_t SampleTableOffset = 0x750;
constexpr uint32_t ModuleHeaderSize = 0x2750;

constexpr uint32_t MaxChannels = 32;
constexpr uint32_t MaxInstruments = 128;
constexpr uint32_t MaxPatterns = 256;
constexpr uint32_t MaxSampleData = 2048;
constexpr uint32_t MaxOrders = 256;

// Header flags.
constexpr uint16_t FlagLinearPeriods = 1 << 0;
constexpr uint16_t FlagKeepChannelPanning = 1 << 1;
constexpr uint16_t FlagDeltaCoded = 1 << 2;

// Instrument record layout (0x100 bytes, then 16-byte sample records).
constexpr uint32_t InstrumentSampleCount = 0x00;
constexpr uint32_t InstrumentKeyMap = 0x04;
constexpr uint32_t InstrumentFadeout = 0x64;
constexpr uint32_t InstrumentVibratoWaveform = 0x66;
constexpr uint32_t InstrumentVibratoSweep = 0x67;
constexpr uint32_t InstrumentVibratoDepth = 0x68;
constexpr uint32_t InstrumentVibratoRate = 0x69;
constexpr uint32_t InstrumentVolumeEnvelope = 0x6A;
constexpr uint32_t InstrumentPanningEnvelope = 0x9E;
constexpr uint32_t InstrumentRecordSize = 0x100;
constexpr uint32_t SampleRecordSize = 16;
constexpr uint32_t EnvelopePointCount = 12;
// An envelope block: last point, sustain point, loop start, loop end, then 12 points of
// (u16 segment length in ticks, u16 value 0..64).
constexpr uint32_t EnvelopeBlockSize = 4 + EnvelopePointCount * 4;
constexpr uint8_t EnvelopeNone = 255;

// Sample type bits.
constexpr uint8_t Sample16Bit = 1 << 2;
constexpr uint8_t SampleForwardLoop = 1 << 3;
constexpr uint8_t SamplePingPongLoop = 1 << 4;
constexpr uint8_t SampleBackwards = 1 << 5;  // run-time direction flag of a voice

// Cell flag byte.
constexpr uint8_t CellChannelMask = 0x1F;
constexpr uint8_t CellHasNote = 1 << 5;
constexpr uint8_t CellHasVolume = 1 << 6;
constexpr uint8_t CellHasEffect = 1 << 7;

constexpr uint8_t NoteKeyOff = 97;
constexpr uint8_t EffectCount = 52;  // effects 52 and above carry no effect

inline uint16_t load_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t load_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void store_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct SampleRecord {
  uint32_t loopStart;
  uint32_t end;  // loop end for looped samples, else the length; in frames
  uint8_t type;
  uint8_t volume;
  uint8_t panning;
  int16_t pitchOffset;  // 1/256 semitone
  uint16_t dataIndex;
};

// Sample record `index` of the instrument record at `instrument`.
inline SampleRecord read_sample_record(const uint8_t* instrument, uint32_t index) {
  const uint8_t* p = instrument + InstrumentRecordSize + index * SampleRecordSize;
  return {load_u32(p), load_u32(p + 4), p[8], p[9], p[10], static_cast<int16_t>(load_u16(p + 11)),
          load_u16(p + 13)};
}

// The header block as the player holds it: the fixed fields decoded, the three offset
// tables relocated to addresses inside the image (an unused entry holds the image start).
struct ModuleHeader {
  uint32_t magic;
  uint32_t songLength;
  uint32_t restartPosition;
  uint32_t channelCount;
  uint32_t patternCount;
  uint32_t instrumentCount;
  uint8_t initialSpeed;
  uint8_t initialTempo;
  uint16_t flags;
  uint32_t sampleDataOffset;
  uint32_t sampleData8Size;    // bytes
  uint32_t sampleData16Count;  // 16-bit values after the 8-bit data
  int32_t minimumPeriod;
  int32_t maximumPeriod;
  uint8_t initialPanning[MaxChannels];
  uint8_t orders[MaxOrders];
  const uint8_t* instruments[MaxInstruments];  // instrument k + 1
  const uint8_t* patterns[MaxPatterns];
  const uint8_t* sampleData[MaxSampleData];
};

// Copies and relocates the header block of `image` (whose magic the caller checked).
void load_module_header(const uint8_t* image, ModuleHeader& header);

// Replaces delta-coded sample data by plain values in place if flags bit 2 is set in the
// image, and clears that bit so a second call leaves the data alone.
void delta_decode_samples(uint8_t* image);

enum class ImageCheck : uint8_t {
  Ok,
  Truncated,      // shorter than the header, or a region runs past the end
  BadMagic,
  BadHeader,      // a header field outside its range
  BadOrder,       // an order entry or the restart position outside the song
  BadInstrument,  // an instrument record out of place or with bad fields
  BadEnvelope,
  BadSample,      // a sample's bounds, type or data outside the image
  BadPattern,     // a pattern out of place, or with a bad row count
  BadCell,        // a cell naming a bad channel, note or effect parameter
};

const char* image_check_text(ImageCheck check);

// Checks that everything the player may read of `image` lies inside its `size` bytes and
// within the format's ranges, including the one value after every played sample region
// that interpolation reads. The player never reads outside an image that passes.
ImageCheck validate_module_image(const uint8_t* image, size_t size);
