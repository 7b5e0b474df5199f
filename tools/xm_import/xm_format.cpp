// Reading and writing the XM file itself. All fields little-endian; every read is checked
// against the file's end first.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "tools/xm_import/xm_import.h"

// Sample data missing from a cut file is read as silence up to this many bytes.
constexpr uint64_t MaxSilentBytes = 16u << 20;

namespace {

constexpr char XmMagic[] = "Extended Module: ";  // 17 characters
constexpr size_t XmMagicLength = 17;
constexpr size_t FixedHeaderBytes = 60;     // up to and including the version
constexpr size_t OrderTableAt = 80;
constexpr size_t InstrumentFieldsBytes = 243;  // through the reserved word after fadeout
constexpr size_t SampleHeaderBytes = 40;
constexpr uint8_t AdpcmMarker = 0xAD;

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string text_field(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0; ++i) s += std::isprint(p[i]) ? static_cast<char>(p[i]) : '?';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string n(uint64_t v) { return std::to_string(v); }

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// Unpacks one pattern's cells. A cell starts with a byte: with bit 7 set its low five bits
// say which of note, instrument, volume, effect, parameter follow; otherwise it is the note
// and all four others follow.
bool unpack_pattern(const uint8_t* data, size_t size, XmPattern& pattern, uint16_t channels, int index,
                    std::string& error) {
  pattern.cells.assign(size_t{pattern.rows} * channels, XmCell{});
  if (size == 0) return true;  // stored empty
  size_t at = 0;
  for (uint32_t row = 0; row < pattern.rows; ++row) {
    for (uint32_t ch = 0; ch < channels; ++ch) {
      auto past_end = [&] {
        return fail(error, "pattern " + n(index) + ": row " + n(row) + " channel " + n(ch) +
                               ": cell data runs past the pattern's " + n(size) + " bytes");
      };
      if (at >= size) return past_end();
      uint8_t first = data[at++];
      uint8_t mask = (first & 0x80) ? first : 0x1F;
      uint8_t fields[5] = {};
      int start = 0;
      if (!(first & 0x80)) {
        fields[0] = first;
        start = 1;
      }
      for (int f = start; f < 5; ++f) {
        if (!(mask & (1 << f))) continue;
        if (at >= size) return past_end();
        fields[f] = data[at++];
      }
      XmCell& cell = pattern.cells[size_t{row} * channels + ch];
      cell = {fields[0], fields[1], fields[2], fields[3], fields[4]};
    }
  }
  return true;
}

}  // namespace

bool looks_like_xm(std::span<const uint8_t> file) {
  if (file.size() < XmMagicLength) return false;
  for (size_t i = 0; i < XmMagicLength; ++i)
    if (std::tolower(file[i]) != std::tolower(static_cast<unsigned char>(XmMagic[i]))) return false;
  return true;
}

bool read_xm(std::span<const uint8_t> file, XmModule& m, std::string& error) {
  m = XmModule{};
  const uint8_t* f = file.data();
  const size_t size = file.size();
  if (!looks_like_xm(file)) return fail(error, "not an extended module (no \"Extended Module: \" at the start)");
  if (size < OrderTableAt)
    return fail(error, "truncated header: the file has " + n(size) + " bytes, the module header needs " +
                           n(OrderTableAt));
  m.name = text_field(f + 17, 20);
  m.tracker = text_field(f + 38, 20);
  const uint16_t version = u16(f + 58);
  if (version != XmVersion) {
    char v[16];
    std::snprintf(v, sizeof v, "%x.%02x", version >> 8, version & 0xFF);
    return fail(error, std::string("format version ") + v + " is not supported (only 1.04)");
  }
  const uint32_t headerSize = u32(f + 60);
  if (headerSize < OrderTableAt - FixedHeaderBytes)
    return fail(error, "bad header: header size " + n(headerSize) + " is below the 20 bytes of its fields");
  if (uint64_t{FixedHeaderBytes} + headerSize > size)
    return fail(error, "truncated header: header size " + n(headerSize) + " runs past the end of the " + n(size) +
                           "-byte file");
  const uint16_t songLength = u16(f + 64);
  m.restart = u16(f + 66);
  m.channels = u16(f + 68);
  const uint16_t patternCount = u16(f + 70);
  const uint16_t instrumentCount = u16(f + 72);
  m.linear = (u16(f + 74) & 1) != 0;
  m.speed = u16(f + 76);
  m.bpm = u16(f + 78);
  if (m.channels == 0) return fail(error, "bad header: zero channels");
  if (m.channels > MaxChannels) return fail(error, "bad header: " + n(m.channels) + " channels (at most 32)");
  if (songLength == 0 || songLength > 256)
    return fail(error, "bad header: song length " + n(songLength) + " (1..256)");
  if (patternCount > 256) return fail(error, "bad header: " + n(patternCount) + " patterns (at most 256)");
  if (instrumentCount > 128) return fail(error, "bad header: " + n(instrumentCount) + " instruments (at most 128)");
  if (OrderTableAt + songLength > FixedHeaderBytes + headerSize)
    return fail(error, "truncated header: the order table of " + n(songLength) + " entries runs past the header");
  m.orders.assign(f + OrderTableAt, f + OrderTableAt + songLength);

  size_t at = FixedHeaderBytes + headerSize;
  m.patterns.resize(patternCount);
  for (int p = 0; p < patternCount; ++p) {
    std::string where = "pattern " + n(p);
    if (size - at < 9) return fail(error, where + ": header runs past the end of the file");
    const uint32_t length = u32(f + at);
    if (length < 9) return fail(error, where + ": header length " + n(length) + " (at least 9)");
    if (length > size - at) return fail(error, where + ": header runs past the end of the file");
    XmPattern& pattern = m.patterns[p];
    pattern.rows = u16(f + at + 5);
    const uint16_t dataSize = u16(f + at + 7);
    if (f[at + 4] != 0) return fail(error, where + ": unknown packing type " + n(f[at + 4]));
    if (pattern.rows == 0 || pattern.rows > 256)
      return fail(error, where + ": " + n(pattern.rows) + " rows (1..256)");
    at += length;
    if (dataSize > size - at)
      return fail(error, where + ": pattern data (" + n(dataSize) + " bytes) runs past the end of the file (" +
                             n(size - at) + " bytes left)");
    if (!unpack_pattern(f + at, dataSize, pattern, m.channels, p, error)) return false;
    at += dataSize;
  }

  m.instruments.resize(instrumentCount);
  for (int i = 0; i < instrumentCount; ++i) {
    std::string where = "instrument " + n(i + 1);
    // Instruments after a cut in the sample data are not in the file: they stay empty.
    if (m.missingSampleBytes > 0 && at == size) {
      m.missingInstruments = instrumentCount - i;
      break;
    }
    if (size - at < 29) return fail(error, where + ": header runs past the end of the file");
    const uint32_t length = u32(f + at);
    if (length > size - at) return fail(error, where + ": header runs past the end of the file");
    // Fields a short header leaves out read as zero.
    uint8_t h[InstrumentFieldsBytes] = {};
    std::memcpy(h, f + at, std::min<size_t>(std::max<uint32_t>(length, 29), InstrumentFieldsBytes));
    XmInstrument& ins = m.instruments[i];
    ins.name = text_field(h + 4, 22);
    const uint16_t sampleCount = u16(h + 27);
    if (sampleCount > 16) return fail(error, where + ": " + n(sampleCount) + " samples (at most 16)");
    if (sampleCount > 0 && length < 29)
      return fail(error, where + ": header length " + n(length) + " too short for its samples");
    at += std::max<uint32_t>(length, 29);
    if (sampleCount == 0) continue;
    std::memcpy(ins.keyMap.data(), h + 33, 96);
    auto envelope = [&](XmEnvelope& e, const uint8_t* points, uint8_t count, uint8_t sustain, uint8_t loopStart,
                        uint8_t loopEnd, uint8_t type) {
      count = std::min<uint8_t>(count, 12);
      for (int k = 0; k < count; ++k) e.points.emplace_back(u16(points + 4 * k), u16(points + 4 * k + 2));
      e.on = type & 1;
      e.sustain = type & 2;
      e.loop = type & 4;
      e.sustainPoint = sustain;
      e.loopStart = loopStart;
      e.loopEnd = loopEnd;
    };
    envelope(ins.volume, h + 129, h[225], h[227], h[228], h[229], h[233]);
    envelope(ins.panning, h + 177, h[226], h[230], h[231], h[232], h[234]);
    ins.vibratoType = h[235];
    ins.vibratoSweep = h[236];
    ins.vibratoDepth = h[237];
    ins.vibratoRate = h[238];
    ins.fadeout = u16(h + 239);

    ins.samples.resize(sampleCount);
    std::vector<uint32_t> byteLengths(sampleCount);
    for (int s = 0; s < sampleCount; ++s) {
      if (size - at < SampleHeaderBytes)
        return fail(error, where + " sample " + n(s) + ": header runs past the end of the file");
      const uint8_t* sh = f + at;
      XmSample& sample = ins.samples[s];
      byteLengths[s] = u32(sh);
      uint32_t loopStart = u32(sh + 4), loopLength = u32(sh + 8);
      sample.volume = sh[12];
      sample.finetune = static_cast<int8_t>(sh[13]);
      const uint8_t type = sh[14];
      sample.loopType = type & 3;
      sample.sixteenBit = (type & 0x10) != 0;
      sample.stereo = (type & 0x20) != 0;
      sample.panning = sh[15];
      sample.relativeNote = static_cast<int8_t>(sh[16]);
      sample.adpcm = sh[17] == AdpcmMarker;
      sample.name = text_field(sh + 18, 22);
      const uint32_t width = sample.sixteenBit ? 2 : 1;
      sample.loopStart = loopStart / width;
      sample.loopLength = loopLength / width;
      at += SampleHeaderBytes;
    }
    for (int s = 0; s < sampleCount; ++s) {
      XmSample& sample = ins.samples[s];
      uint64_t stored = byteLengths[s];
      if (sample.adpcm) stored = 16 + (stored + 1) / 2;  // table of 16 steps, two values per byte
      // A file cut short in its sample data is read as far as it goes, the rest as silence,
      // as players do; the importer reports the missing bytes.
      uint64_t present = stored;
      if (stored > size - at) {
        present = size - at;
        m.missingSampleBytes += stored - present;
        // A length far beyond any real cut (a damaged header claiming gigabytes) is not
        // made into silence: the sample ends where the file does.
        if (stored - present > MaxSilentBytes) {
          m.missingCutShort = true;
          byteLengths[s] = static_cast<uint32_t>(present);
        }
      }
      const uint8_t* d = f + at;
      at += present;
      if (sample.adpcm) {
        sample.data.assign(byteLengths[s], 0);
        continue;
      }
      // Delta coding restarts with every sample; a stereo sample keeps its first half.
      uint32_t frames = sample.sixteenBit ? byteLengths[s] / 2 : byteLengths[s];
      if (sample.stereo) frames /= 2;
      sample.data.assign(frames, 0);
      const uint64_t framesPresent = present / (sample.sixteenBit ? 2 : 1);
      if (framesPresent < frames) frames = static_cast<uint32_t>(framesPresent);
      if (sample.sixteenBit) {
        uint16_t sum = 0;
        for (uint32_t k = 0; k < frames; ++k) {
          sum = static_cast<uint16_t>(sum + u16(d + 2 * k));
          sample.data[k] = static_cast<int16_t>(sum);
        }
      } else {
        uint8_t sum = 0;
        for (uint32_t k = 0; k < frames; ++k) {
          sum = static_cast<uint8_t>(sum + d[k]);
          sample.data[k] = static_cast<int8_t>(sum);
        }
      }
    }
  }
  return true;
}

namespace {

void put8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
void put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put_text(std::vector<uint8_t>& out, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}

std::vector<uint8_t> pack_pattern(const XmPattern& p, uint16_t channels) {
  std::vector<uint8_t> out;
  for (size_t c = 0; c < size_t{p.rows} * channels; ++c) {
    const XmCell cell = c < p.cells.size() ? p.cells[c] : XmCell{};
    const uint8_t fields[5] = {cell.note, cell.instrument, cell.volume, cell.effect, cell.parameter};
    uint8_t mask = 0;
    for (int f = 0; f < 5; ++f)
      if (fields[f] != 0) mask |= static_cast<uint8_t>(1 << f);
    if (mask == 0x1F) {  // all present: the unpacked form is shorter
      out.insert(out.end(), fields, fields + 5);
      continue;
    }
    out.push_back(static_cast<uint8_t>(0x80 | mask));
    for (int f = 0; f < 5; ++f)
      if (mask & (1 << f)) out.push_back(fields[f]);
  }
  // A pattern of empty cells only is stored without data.
  if (std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0x80; })) out.clear();
  return out;
}

void put_envelope_points(std::vector<uint8_t>& out, const XmEnvelope& e) {
  for (size_t k = 0; k < 12; ++k) {
    put16(out, k < e.points.size() ? e.points[k].first : 0);
    put16(out, k < e.points.size() ? e.points[k].second : 0);
  }
}

}  // namespace

std::vector<uint8_t> write_xm(const XmModule& m) {
  std::vector<uint8_t> out(XmMagic, XmMagic + XmMagicLength);
  put_text(out, m.name, 20);
  put8(out, 0x1A);
  put_text(out, m.tracker, 20);
  put16(out, XmVersion);
  put32(out, 276);
  put16(out, static_cast<uint16_t>(m.orders.size()));
  put16(out, m.restart);
  put16(out, m.channels);
  put16(out, static_cast<uint16_t>(m.patterns.size()));
  put16(out, static_cast<uint16_t>(m.instruments.size()));
  put16(out, m.linear ? 1 : 0);
  put16(out, m.speed);
  put16(out, m.bpm);
  for (size_t i = 0; i < 256; ++i) put8(out, i < m.orders.size() ? m.orders[i] : 0);

  for (const XmPattern& p : m.patterns) {
    std::vector<uint8_t> data = pack_pattern(p, m.channels);
    put32(out, 9);
    put8(out, 0);
    put16(out, p.rows);
    put16(out, static_cast<uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }

  for (const XmInstrument& ins : m.instruments) {
    const size_t start = out.size();
    put32(out, ins.samples.empty() ? 29 : 263);
    put_text(out, ins.name, 22);
    put8(out, 0);
    put16(out, static_cast<uint16_t>(ins.samples.size()));
    if (ins.samples.empty()) continue;
    put32(out, SampleHeaderBytes);
    out.insert(out.end(), ins.keyMap.begin(), ins.keyMap.end());
    put_envelope_points(out, ins.volume);
    put_envelope_points(out, ins.panning);
    put8(out, static_cast<uint8_t>(ins.volume.points.size()));
    put8(out, static_cast<uint8_t>(ins.panning.points.size()));
    for (const XmEnvelope* e : {&ins.volume, &ins.panning}) {
      put8(out, e->sustainPoint);
      put8(out, e->loopStart);
      put8(out, e->loopEnd);
    }
    for (const XmEnvelope* e : {&ins.volume, &ins.panning})
      put8(out, static_cast<uint8_t>((e->on ? 1 : 0) | (e->sustain ? 2 : 0) | (e->loop ? 4 : 0)));
    put8(out, ins.vibratoType);
    put8(out, ins.vibratoSweep);
    put8(out, ins.vibratoDepth);
    put8(out, ins.vibratoRate);
    put16(out, ins.fadeout);
    out.resize(start + 263, 0);  // reserved to the stated header length
    for (const XmSample& s : ins.samples) {
      const uint32_t width = s.sixteenBit ? 2 : 1;
      put32(out, static_cast<uint32_t>(s.data.size()) * width);
      put32(out, s.loopStart * width);
      put32(out, s.loopLength * width);
      put8(out, s.volume);
      put8(out, static_cast<uint8_t>(s.finetune));
      put8(out, static_cast<uint8_t>((s.loopType & 3) | (s.sixteenBit ? 0x10 : 0)));
      put8(out, s.panning);
      put8(out, static_cast<uint8_t>(s.relativeNote));
      put8(out, 0);
      put_text(out, s.name, 22);
    }
    for (const XmSample& s : ins.samples) {
      int16_t last = 0;
      for (int16_t v : s.data) {
        const uint16_t delta = static_cast<uint16_t>(v - last);
        last = v;
        if (s.sixteenBit)
          put16(out, delta);
        else
          put8(out, static_cast<uint8_t>(delta));
      }
    }
  }
  return out;
}
