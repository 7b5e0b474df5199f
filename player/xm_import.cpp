#include "player/xm_import.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view XmSignature = "Extended Module: ";
constexpr size_t MaxWarnings = 200;

// Bounds-checked little-endian reads over the file; a failed read leaves `bad` set.
struct Reader {
  const uint8_t* data;
  size_t size;
  bool bad = false;

  bool has(size_t at, size_t length) const { return at <= size && length <= size - at; }
  uint8_t u8(size_t at) {
    if (!has(at, 1)) return bad = true, 0;
    return data[at];
  }
  uint16_t u16(size_t at) {
    if (!has(at, 2)) return bad = true, 0;
    return load_u16(data + at);
  }
  uint32_t u32(size_t at) {
    if (!has(at, 4)) return bad = true, 0;
    return load_u32(data + at);
  }
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char text[256];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

char effect_name(int effect) {
  return static_cast<char>(effect < 10 ? '0' + effect : 'A' + effect - 10);
}

struct Importer {
  Reader in;
  XmImport& out;
  size_t suppressed = 0;

  void warn(std::string text) {
    if (out.warnings.size() < MaxWarnings)
      out.warnings.push_back(std::move(text));
    else
      ++suppressed;
  }
  bool fail(std::string text) {
    out.error = std::move(text);
    return false;
  }

  // Effect and parameter of a cell; false drops the effect.
  bool map_effect(uint8_t effect, uint8_t& parameter, int16_t& mapped, uint32_t pattern, uint32_t row,
                  uint32_t channel) {
    if (effect == 0 && parameter == 0) return false;
    if (effect == 14) {
      mapped = static_cast<int16_t>(Effect_Extended + (parameter >> 4));
      parameter &= 15;
      return true;
    }
    // Effects of the format that this player has no meaning for.
    static constexpr bool Known[36] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                       0, 0, 1, 1, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0};
    if (effect >= 36 || !Known[effect]) {
      if (effect < 36)
        warn(format("pattern %u row %u channel %u: effect %c%02X is not supported; dropped", pattern, row, channel,
                    effect_name(effect), parameter));
      else
        warn(format("pattern %u row %u channel %u: effect number %u is not defined; dropped", pattern, row, channel,
                    effect));
      return false;
    }
    mapped = effect;
    return true;
  }

  static constexpr int Effect_Extended = 36;

  bool read_patterns(size_t& at, uint32_t patterns, uint32_t channels) {
    out.def.patterns.resize(patterns);
    for (uint32_t p = 0; p < patterns; ++p) {
      uint32_t headerLength = in.u32(at);
      uint8_t packing = in.u8(at + 4);
      uint16_t rows = in.u16(at + 5);
      uint16_t packedSize = in.u16(at + 7);
      if (in.bad) return fail(format("pattern %u: header past the end of the file", p));
      if (headerLength < 9) return fail(format("pattern %u: header length %u is too short", p, headerLength));
      if (packing != 0) return fail(format("pattern %u: unknown packing type %u", p, packing));
      if (rows == 0 || rows > 256) return fail(format("pattern %u: %u rows (1 to 256 allowed)", p, rows));
      size_t data = at + headerLength;
      if (!in.has(data, packedSize)) return fail(format("pattern %u: pattern data past the end of the file", p));
      PatternDef& pattern = out.def.patterns[p];
      pattern.rows.resize(rows);
      size_t cursor = data, end = data + packedSize;
      if (packedSize != 0) {
        for (uint32_t row = 0; row < rows; ++row) {
          for (uint32_t channel = 0; channel < channels; ++channel) {
            uint8_t fields[5] = {};
            if (cursor >= end) return fail(format("pattern %u row %u: pattern data ends inside the row", p, row));
            uint8_t first = in.data[cursor++];
            uint8_t mask = (first & 0x80) ? first : 0x1F;
            if (!(first & 0x80)) fields[0] = first;
            for (int f = (first & 0x80) ? 0 : 1; f < 5; ++f) {
              if (!(mask & (1 << f))) continue;
              if (cursor >= end) return fail(format("pattern %u row %u: pattern data ends inside a cell", p, row));
              fields[f] = in.data[cursor++];
            }
            add_cell(pattern, p, row, channel, fields);
          }
        }
        if (cursor != end) warn(format("pattern %u: %zu bytes of data after the last row ignored", p, end - cursor));
      }
      at = end;
    }
    return true;
  }

  void add_cell(PatternDef& pattern, uint32_t p, uint32_t row, uint32_t channel, const uint8_t* f) {
    CellDef cell;
    cell.channel = static_cast<uint8_t>(channel);
    cell.note = f[0];
    if (cell.note > NoteKeyOff) {
      warn(format("pattern %u row %u channel %u: note %u is out of range; dropped", p, row, channel, cell.note));
      cell.note = 0;
    }
    cell.instrument = f[1];
    if (cell.instrument > MaxInstruments) {
      warn(format("pattern %u row %u channel %u: instrument %u is out of range; dropped", p, row, channel,
                  cell.instrument));
      cell.instrument = 0;
    }
    cell.volume = f[2];
    uint8_t parameter = f[4];
    int16_t effect = -1;
    if (map_effect(f[3], parameter, effect, p, row, channel)) {
      cell.effect = effect;
      cell.parameter = parameter;
    }
    if (cell.note || cell.instrument || cell.volume || cell.effect >= 0) pattern.rows[row].push_back(cell);
  }

  EnvelopeDef read_envelope(size_t points, uint8_t count, uint8_t sustain, uint8_t loopStart, uint8_t loopEnd,
                             uint8_t type, uint32_t instrument, const char* name) {
    EnvelopeDef e;
    if (!(type & 1) || count == 0) return e;
    if (count > EnvelopePointCount) {
      warn(format("instrument %u: %s envelope has %u points; the first 12 kept", instrument, name, count));
      count = EnvelopePointCount;
    }
    uint16_t previousX = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint16_t x = in.u16(points + 4 * i), y = in.u16(points + 4 * i + 2);
      if (y > 64) {
        warn(format("instrument %u: %s envelope point %u value %u above 64; held at 64", instrument, name, i, y));
        y = 64;
      }
      if (i > 0) {
        int length = x - previousX;
        if (length <= 0) {
          warn(format("instrument %u: %s envelope point %u does not move forward; one tick used", instrument, name, i));
          length = 1;
        }
        e.points.back().first = static_cast<uint16_t>(length);
        x = static_cast<uint16_t>(previousX + length);
      }
      e.points.push_back({0, y});
      previousX = x;
    }
    uint8_t last = static_cast<uint8_t>(count - 1);
    if ((type & 2) && sustain <= last) e.sustain = sustain;
    else if (type & 2) warn(format("instrument %u: %s envelope sustain point past the end; no sustain", instrument, name));
    if (type & 4) {
      if (loopStart <= loopEnd && loopEnd <= last) {
        e.loopStart = loopStart;
        e.loopEnd = loopEnd;
      } else {
        warn(format("instrument %u: %s envelope loop %u..%u is not within its points; no loop", instrument, name,
                    loopStart, loopEnd));
      }
    }
    return e;
  }

  bool read_instruments(size_t& at, uint32_t instruments) {
    out.def.instruments.resize(instruments);
    for (uint32_t k = 0; k < instruments; ++k) {
      uint32_t number = k + 1;
      uint32_t headerSize = in.u32(at);
      if (in.bad) return fail(format("instrument %u: header past the end of the file", number));
      if (headerSize < 29) return fail(format("instrument %u: header size %u is too short", number, headerSize));
      if (!in.has(at, headerSize)) return fail(format("instrument %u: header past the end of the file", number));
      uint16_t samples = in.u16(at + 27);
      InstrumentDef& instrument = out.def.instruments[k];
      size_t base = at;
      at += headerSize;
      if (samples == 0) continue;
      if (headerSize < 241)
        return fail(format("instrument %u: header size %u too short for its %u samples", number, headerSize, samples));
      if (samples > 255) return fail(format("instrument %u: %u samples", number, samples));
      uint32_t sampleHeaderSize = in.u32(base + 29);
      if (sampleHeaderSize < 40)
        return fail(format("instrument %u: sample header size %u is too short", number, sampleHeaderSize));
      for (int n = 0; n < 96; ++n) instrument.keyMap[n] = in.u8(base + 33 + n);
      instrument.volumeEnvelope = read_envelope(base + 129, in.u8(base + 225), in.u8(base + 227), in.u8(base + 228),
                                                in.u8(base + 229), in.u8(base + 233), number, "volume");
      instrument.panningEnvelope = read_envelope(base + 177, in.u8(base + 226), in.u8(base + 230), in.u8(base + 231),
                                                 in.u8(base + 232), in.u8(base + 234), number, "panning");
      // The format's auto-vibrato types are sine, square, ramp down, ramp up.
      static constexpr uint8_t Waveforms[4] = {0, 2, 3, 1};
      uint8_t type = in.u8(base + 235);
      if (type > 3) warn(format("instrument %u: auto-vibrato type %u unknown; sine used", number, type));
      instrument.vibratoWaveform = Waveforms[type & 3];
      instrument.vibratoSweep = in.u8(base + 236);
      instrument.vibratoDepth = in.u8(base + 237);
      instrument.vibratoRate = in.u8(base + 238);
      instrument.fadeout = in.u16(base + 239);

      struct Header {
        uint32_t length, loopStart, loopLength;
        uint8_t volume, type, panning, packing;
        int8_t finetune, relativeNote;
      };
      std::vector<Header> headers(samples);
      for (uint32_t s = 0; s < samples; ++s) {
        if (!in.has(at, sampleHeaderSize))
          return fail(format("instrument %u sample %u: header past the end of the file", number, s));
        Header& h = headers[s];
        h.length = in.u32(at);
        h.loopStart = in.u32(at + 4);
        h.loopLength = in.u32(at + 8);
        h.volume = in.u8(at + 12);
        h.finetune = static_cast<int8_t>(in.u8(at + 13));
        h.type = in.u8(at + 14);
        h.panning = in.u8(at + 15);
        h.relativeNote = static_cast<int8_t>(in.u8(at + 16));
        h.packing = in.u8(at + 17);
        at += sampleHeaderSize;
      }
      for (uint32_t s = 0; s < samples; ++s) {
        const Header& h = headers[s];
        if (h.packing == 0xAD)
          return fail(format("instrument %u sample %u: ADPCM-packed sample data is not supported", number, s));
        if (h.type & 0x20)
          return fail(format("instrument %u sample %u: stereo sample data is not supported", number, s));
        bool wide = h.type & 0x10;
        if (!in.has(at, h.length))
          return fail(format("instrument %u sample %u: %u bytes of sample data past the end of the file", number, s,
                             h.length));
        SampleDef sample;
        sample.sixteenBit = wide;
        uint32_t frames = wide ? h.length / 2 : h.length;
        if (frames > (1u << 24))
          return fail(format("instrument %u sample %u: %u frames is too long", number, s, frames));
        sample.data.resize(frames);
        // Delta-coded per sample.
        if (wide) {
          uint16_t sum = 0;
          for (uint32_t i = 0; i < frames; ++i) {
            sum = static_cast<uint16_t>(sum + load_u16(in.data + at + 2 * i));
            sample.data[i] = static_cast<int16_t>(sum);
          }
        } else {
          uint8_t sum = 0;
          for (uint32_t i = 0; i < frames; ++i) {
            sum = static_cast<uint8_t>(sum + in.data[at + i]);
            sample.data[i] = static_cast<int8_t>(sum);
          }
        }
        at += h.length;
        uint32_t loopStart = wide ? h.loopStart / 2 : h.loopStart;
        uint32_t loopLength = wide ? h.loopLength / 2 : h.loopLength;
        uint8_t loop = h.type & 3;
        if (loop == 3) {
          warn(format("instrument %u sample %u: loop type 3 unknown; forward loop used", number, s));
          loop = 1;
        }
        if (loop != 0) {
          if (loopStart >= frames) {
            warn(format("instrument %u sample %u: loop starts past the sample; no loop", number, s));
            loop = 0;
          } else if (loopLength > frames - loopStart) {
            warn(format("instrument %u sample %u: loop runs past the sample; shortened", number, s));
            loopLength = frames - loopStart;
          }
          if (loopLength == 0) loop = 0;
        }
        sample.loop = loop == 0 ? LoopKind::None : loop == 1 ? LoopKind::Forward : LoopKind::PingPong;
        sample.loopStart = loop ? loopStart : 0;
        sample.loopLength = loop ? loopLength : 0;
        if (h.volume > 64) warn(format("instrument %u sample %u: volume %u above 64; held at 64", number, s, h.volume));
        sample.volume = std::min<uint8_t>(h.volume, 64);
        sample.panning = h.panning;
        // 1/256 semitone: whole semitones and 1/128-semitone finetune.
        sample.pitchOffset = static_cast<int16_t>(h.relativeNote * 256 + h.finetune * 2);
        instrument.samples.push_back(std::move(sample));
      }
    }
    return true;
  }

  bool run() {
    if (!is_xm(in.data, in.size)) return fail("not an extended module (no \"Extended Module: \" signature)");
    if (!in.has(0, 80)) return fail("header past the end of the file");
    uint16_t version = in.u16(58);
    if (version != 0x0104) return fail(format("format version %X.%02X is not supported (only 1.04)", version >> 8, version & 0xFF));
    uint32_t headerSize = in.u32(60);
    uint32_t songLength = in.u16(64), restart = in.u16(66), channels = in.u16(68), patterns = in.u16(70),
             instruments = in.u16(72), flags = in.u16(74), speed = in.u16(76), tempo = in.u16(78);
    if (headerSize < 20 + 256 || !in.has(60, headerSize)) return fail("header past the end of the file");
    if (channels == 0) return fail("zero channels");
    if (channels > MaxChannels) return fail(format("%u channels (at most 32)", channels));
    if (songLength == 0) return fail("song length 0");
    if (songLength > MaxOrders) return fail(format("song length %u (at most 256)", songLength));
    if (patterns > MaxPatterns) return fail(format("%u patterns (at most 256)", patterns));
    if (instruments > MaxInstruments) return fail(format("%u instruments (at most 128)", instruments));

    ModuleDef& m = out.def;
    m.channelCount = channels;
    m.linear = flags & 1;
    if (speed == 0 || speed > 31) {
      warn(format("initial speed %u out of range 1..31; 6 used", speed));
      speed = 6;
    }
    if (tempo < 32 || tempo > 255) {
      warn(format("initial tempo %u out of range 32..255; 125 used", tempo));
      tempo = 125;
    }
    m.speed = static_cast<uint8_t>(speed);
    m.tempo = static_cast<uint8_t>(tempo);
    if (restart >= songLength) {
      warn(format("restart position %u past the song; 0 used", restart));
      restart = 0;
    }
    m.restartPosition = restart;
    m.orders.assign(in.data + 80, in.data + 80 + songLength);
    for (uint32_t i = 0; i < songLength; ++i)
      if (m.orders[i] >= patterns) warn(format("order %u names pattern %u, which the file lacks; it plays empty", i, m.orders[i]));

    size_t at = 60 + static_cast<size_t>(headerSize);
    if (!read_patterns(at, patterns, channels)) return false;
    // Orders may name patterns past the stored ones: those stay without data.
    for (uint8_t order : m.orders)
      if (order >= m.patterns.size()) m.patterns.resize(order + 1, PatternDef{{}, true});
    if (!read_instruments(at, instruments)) return false;
    if (at < in.size) warn(format("%zu bytes after the last sample ignored", in.size - at));
    if (suppressed) out.warnings.push_back(format("... and %zu more warnings", suppressed));

    out.image = write_module_image(m);
    ImageCheck check = validate_module_image(out.image.data(), out.image.size());
    if (check != ImageCheck::Ok) {
      out.image.clear();
      return fail(std::string("the converted image is not valid: ") + image_check_text(check));
    }
    return true;
  }
};

}  // namespace

bool is_xm(const uint8_t* data, size_t size) {
  return size >= XmSignature.size() && std::memcmp(data, XmSignature.data(), XmSignature.size()) == 0;
}

XmImport import_xm(const uint8_t* data, size_t size) {
  XmImport result;
  Importer importer{{data, size}, result};
  result.ok = importer.run();
  if (!result.ok) result.image.clear();
  return result;
}
