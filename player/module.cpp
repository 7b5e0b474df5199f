#include "player/module.h"

#include <initializer_list>

void load_module_header(const uint8_t* image, ModuleHeader& header) {
  header.magic = load_u32(image);
  header.songLength = load_u32(image + HeaderSongLength);
  header.restartPosition = load_u32(image + HeaderRestartPosition);
  header.channelCount = load_u32(image + HeaderChannelCount);
  header.patternCount = load_u32(image + HeaderPatternCount);
  header.instrumentCount = load_u32(image + HeaderInstrumentCount);
  header.initialSpeed = image[HeaderInitialSpeed];
  header.initialTempo = image[HeaderInitialTempo];
  header.flags = load_u16(image + HeaderFlags);
  header.sampleDataOffset = load_u32(image + HeaderSampleDataOffset);
  header.sampleData8Size = load_u32(image + HeaderSampleData8Size);
  header.sampleData16Count = load_u32(image + HeaderSampleData16Count);
  header.minimumPeriod = static_cast<int32_t>(load_u32(image + HeaderMinimumPeriod));
  header.maximumPeriod = static_cast<int32_t>(load_u32(image + HeaderMaximumPeriod));
  std::memcpy(header.initialPanning, image + HeaderInitialPanning, MaxChannels);
  std::memcpy(header.orders, image + OrderTableOffset, MaxOrders);
  for (uint32_t k = 0; k < MaxInstruments; ++k)
    header.instruments[k] = image + load_u32(image + InstrumentTableOffset + 4 * k);
  for (uint32_t p = 0; p < MaxPatterns; ++p)
    header.patterns[p] = image + load_u32(image + PatternTableOffset + 4 * p);
  for (uint32_t s = 0; s < MaxSampleData; ++s)
    header.sampleData[s] = image + load_u32(image + SampleTableOffset + 4 * s);
}

void delta_decode_samples(uint8_t* image) {
  uint16_t flags = load_u16(image + HeaderFlags);
  if (!(flags & FlagDeltaCoded)) return;
  store_u16(image + HeaderFlags, static_cast<uint16_t>(flags & ~FlagDeltaCoded));
  // One running sum over all 8-bit data, then one over all 16-bit data; neither restarts
  // at sample boundaries.
  uint8_t* p = image + load_u32(image + HeaderSampleDataOffset);
  uint32_t bytes = load_u32(image + HeaderSampleData8Size);
  uint8_t sum8 = 0;
  for (uint32_t i = 0; i < bytes; ++i) p[i] = sum8 = static_cast<uint8_t>(sum8 + p[i]);
  p += bytes;
  uint32_t values = load_u32(image + HeaderSampleData16Count);
  uint16_t sum16 = 0;
  for (uint32_t i = 0; i < values; ++i, p += 2) {
    sum16 = static_cast<uint16_t>(sum16 + load_u16(p));
    store_u16(p, sum16);
  }
}

const char* image_check_text(ImageCheck check) {
  switch (check) {
    case ImageCheck::Ok: return "valid";
    case ImageCheck::Truncated: return "a region runs past the end of the image";
    case ImageCheck::BadMagic: return "not a module image (bad magic)";
    case ImageCheck::BadHeader: return "a header field is out of range";
    case ImageCheck::BadOrder: return "an order entry or the restart position is out of range";
    case ImageCheck::BadInstrument: return "an instrument record is out of range";
    case ImageCheck::BadEnvelope: return "an envelope is out of range";
    case ImageCheck::BadSample: return "a sample's bounds, type or data are out of range";
    case ImageCheck::BadPattern: return "a pattern is out of range";
    case ImageCheck::BadCell: return "a pattern cell is out of range";
  }
  return "unknown";
}

namespace {

// Byte range [begin, end) of the image; all arithmetic in 64 bits so no stored value can
// wrap a bound.
struct Span {
  uint64_t begin, end;
};

struct Checker {
  const uint8_t* image;
  uint64_t size;
  bool deltaCoded;
  Span decodeArea;

  bool inside(uint64_t begin, uint64_t length) const { return begin <= size && length <= size - begin; }
  // A delta-coded image has its sample area rewritten by the player; no record may live there.
  bool clear_of_decode_area(uint64_t begin, uint64_t length) const {
    if (!deltaCoded || length == 0) return true;
    return begin + length <= decodeArea.begin || begin >= decodeArea.end;
  }

  ImageCheck check_envelope(const uint8_t* e) const {
    uint8_t last = e[0], sustain = e[1], loopStart = e[2], loopEnd = e[3];
    if (last >= EnvelopePointCount) return ImageCheck::BadEnvelope;
    if (sustain != EnvelopeNone && sustain >= EnvelopePointCount) return ImageCheck::BadEnvelope;
    if (loopEnd != EnvelopeNone && loopEnd >= EnvelopePointCount) return ImageCheck::BadEnvelope;
    // A reachable loop end sends the envelope to its loop start, which must lie on it.
    if (loopEnd <= last && loopStart > loopEnd) return ImageCheck::BadEnvelope;
    for (uint32_t i = 0; i <= last; ++i) {
      const uint8_t* point = e + 4 + 4 * i;
      if (load_u16(point + 2) > 64) return ImageCheck::BadEnvelope;
      // The player divides by every segment length before the last point.
      if (i < last && load_u16(point) == 0) return ImageCheck::BadEnvelope;
    }
    return ImageCheck::Ok;
  }

  ImageCheck check_instrument(uint32_t offset) const {
    if (!inside(offset, InstrumentRecordSize)) return ImageCheck::Truncated;
    const uint8_t* record = image + offset;
    uint64_t count = load_u32(record + InstrumentSampleCount);
    uint64_t length = InstrumentRecordSize + count * SampleRecordSize;
    if (!inside(offset, length)) return ImageCheck::Truncated;
    if (!clear_of_decode_area(offset, length)) return ImageCheck::BadInstrument;
    if (record[InstrumentVibratoWaveform] > 3) return ImageCheck::BadInstrument;
    for (uint32_t envelope : {InstrumentVolumeEnvelope, InstrumentPanningEnvelope})
      if (ImageCheck c = check_envelope(record + envelope); c != ImageCheck::Ok) return c;
    for (uint32_t s = 0; s < count; ++s) {
      SampleRecord sample = read_sample_record(record, s);
      if (sample.type & ~(Sample16Bit | SampleForwardLoop | SamplePingPongLoop)) return ImageCheck::BadSample;
      if (sample.volume > 64 || sample.dataIndex >= MaxSampleData) return ImageCheck::BadSample;
      bool looped = sample.type & (SampleForwardLoop | SamplePingPongLoop);
      if (looped && sample.loopStart >= sample.end) return ImageCheck::BadSample;
      // Frames read: up to the end, one more for interpolation, and a ping-pong loop turns
      // on the end frame itself, reading one further.
      uint64_t values = uint64_t{sample.end} + 1 + ((sample.type & SamplePingPongLoop) ? 1 : 0);
      uint64_t width = (sample.type & Sample16Bit) ? 2 : 1;
      uint32_t data = load_u32(image + SampleTableOffset + 4 * sample.dataIndex);
      if (!inside(data, values * width)) return ImageCheck::Truncated;
    }
    return ImageCheck::Ok;
  }

  ImageCheck check_pattern(uint32_t offset, uint32_t channels) const {
    if (!inside(offset, 4)) return ImageCheck::Truncated;
    uint32_t rows = load_u32(image + offset);
    if (rows == 0 || rows > 256) return ImageCheck::BadPattern;
    uint64_t at = uint64_t{offset} + 4;
    for (uint32_t row = 0; row < rows; ++row) {
      int previous = -1;
      for (;;) {
        if (at >= size) return ImageCheck::Truncated;
        uint8_t flag = image[at++];
        if (flag == 0) break;
        int channel = flag & CellChannelMask;
        if (channel >= static_cast<int>(channels) || channel <= previous) return ImageCheck::BadCell;
        previous = channel;
        uint32_t length = ((flag & CellHasNote) ? 2 : 0) + ((flag & CellHasVolume) ? 1 : 0) +
                          ((flag & CellHasEffect) ? 2 : 0);
        if (!inside(at, length)) return ImageCheck::Truncated;
        const uint8_t* field = image + at;
        if (flag & CellHasNote) {
          if (field[0] > NoteKeyOff) return ImageCheck::BadCell;
          field += 2;
        }
        if (flag & CellHasVolume) field += 1;
        if (flag & CellHasEffect) {
          // Extended effects E0..EF carry only a low digit.
          if (field[0] >= 36 && field[0] < EffectCount && field[1] > 15) return ImageCheck::BadCell;
        }
        at += length;
      }
    }
    if (!clear_of_decode_area(offset, at - offset)) return ImageCheck::BadPattern;
    return ImageCheck::Ok;
  }
};

}  // namespace

ImageCheck validate_module_image(const uint8_t* image, size_t size) {
  if (size < 4) return ImageCheck::Truncated;
  if (load_u32(image) != ModuleMagic) return ImageCheck::BadMagic;
  if (size < ModuleHeaderSize) return ImageCheck::Truncated;

  uint32_t songLength = load_u32(image + HeaderSongLength);
  uint32_t channels = load_u32(image + HeaderChannelCount);
  uint32_t instruments = load_u32(image + HeaderInstrumentCount);
  uint16_t flags = load_u16(image + HeaderFlags);
  if (channels < 1 || channels > MaxChannels || instruments > MaxInstruments) return ImageCheck::BadHeader;
  if (image[HeaderInitialSpeed] < 1 || image[HeaderInitialSpeed] > 31 || image[HeaderInitialTempo] < 32)
    return ImageCheck::BadHeader;
  if (flags & ~(FlagLinearPeriods | FlagKeepChannelPanning | FlagDeltaCoded)) return ImageCheck::BadHeader;
  if (static_cast<int32_t>(load_u32(image + HeaderMinimumPeriod)) >
      static_cast<int32_t>(load_u32(image + HeaderMaximumPeriod)))
    return ImageCheck::BadHeader;
  if (songLength < 1 || songLength > MaxOrders || load_u32(image + HeaderRestartPosition) >= songLength)
    return ImageCheck::BadOrder;

  Checker checker{image, size, (flags & FlagDeltaCoded) != 0, {}};
  uint64_t area = load_u32(image + HeaderSampleDataOffset);
  uint64_t areaLength = uint64_t{load_u32(image + HeaderSampleData8Size)} +
                        2 * uint64_t{load_u32(image + HeaderSampleData16Count)};
  if (area < ModuleHeaderSize && areaLength > 0) return ImageCheck::BadHeader;
  if (!checker.inside(area, areaLength)) return ImageCheck::Truncated;
  checker.decodeArea = {area, area + areaLength};

  for (uint32_t k = 0; k < instruments; ++k) {
    ImageCheck c = checker.check_instrument(load_u32(image + InstrumentTableOffset + 4 * k));
    if (c != ImageCheck::Ok) return c;
  }
  // Every stored pattern is checked, not only those in the order table: a jump can reach
  // any order position.
  for (uint32_t p = 0; p < MaxPatterns; ++p) {
    uint32_t offset = load_u32(image + PatternTableOffset + 4 * p);
    if (offset == 0) continue;  // no data: the player plays an empty pattern
    if (ImageCheck c = checker.check_pattern(offset, channels); c != ImageCheck::Ok) return c;
  }
  return ImageCheck::Ok;
}
