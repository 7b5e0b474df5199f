#include "player/writer.h"

#include <cstdio>
#include <cstdlib>

namespace {

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void write_envelope(uint8_t* at, const EnvelopeSpec& e, uint16_t neutral) {
  std::vector<std::pair<uint16_t, uint16_t>> points = e.points;
  uint8_t last = 0;
  if (points.empty()) {
    points = {{1, neutral}, {1, neutral}};
  } else {
    last = static_cast<uint8_t>(points.size() - 1);
    points.back().first = 0;
  }
  at[0] = last;
  at[1] = e.sustain;
  at[2] = e.loopStart;
  at[3] = e.loopEnd;
  for (size_t i = 0; i < points.size() && i < EnvelopePointCount; ++i) {
    store_u16(at + 4 + 4 * i, points[i].first);
    store_u16(at + 6 + 4 * i, points[i].second);
  }
}

std::vector<uint8_t> write_instrument(const InstrumentSpec& spec, uint16_t& nextDataIndex) {
  std::vector<uint8_t> out(InstrumentRecordSize + SampleRecordSize * spec.samples.size());
  store_u32(out.data() + InstrumentSampleCount, static_cast<uint32_t>(spec.samples.size()));
  for (int n = 0; n < 96; ++n) out[InstrumentKeyMap + n] = spec.keyMap[n];
  store_u16(out.data() + InstrumentFadeout, spec.fadeout);
  out[InstrumentVibratoWaveform] = spec.vibratoWaveform;
  out[InstrumentVibratoSweep] = spec.vibratoSweep;
  out[InstrumentVibratoDepth] = spec.vibratoDepth;
  out[InstrumentVibratoRate] = spec.vibratoRate;
  write_envelope(out.data() + InstrumentVolumeEnvelope, spec.volumeEnvelope, 64);
  write_envelope(out.data() + InstrumentPanningEnvelope, spec.panningEnvelope, 32);
  for (size_t s = 0; s < spec.samples.size(); ++s) {
    const SampleSpec& sample = spec.samples[s];
    uint8_t* r = out.data() + InstrumentRecordSize + SampleRecordSize * s;
    bool looped = sample.loop != LoopKind::None;
    store_u32(r, looped ? sample.loopStart : 0);
    store_u32(r + 4, looped ? sample.loopStart + sample.loopLength : static_cast<uint32_t>(sample.data.size()));
    r[8] = static_cast<uint8_t>((sample.sixteenBit ? Sample16Bit : 0) |
                                (sample.loop == LoopKind::Forward ? SampleForwardLoop : 0) |
                                (sample.loop == LoopKind::PingPong ? SamplePingPongLoop : 0));
    r[9] = sample.volume;
    r[10] = sample.panning;
    store_u16(r + 11, static_cast<uint16_t>(sample.pitchOffset));
    store_u16(r + 13, nextDataIndex++);
  }
  return out;
}

void write_pattern(std::vector<uint8_t>& out, const PatternSpec& p) {
  if (!p.raw.empty()) {
    put_u32(out, p.rawRowCount);
    out.insert(out.end(), p.raw.begin(), p.raw.end());
    return;
  }
  put_u32(out, static_cast<uint32_t>(p.rows.size()));
  for (const auto& row : p.rows) {
    for (const CellSpec& c : row) {
      uint8_t flag = c.channel & CellChannelMask;
      if (c.note != 0 || c.instrument != 0) flag |= CellHasNote;
      if (c.volume != 0) flag |= CellHasVolume;
      if (c.effect >= 0) flag |= CellHasEffect;
      if (!(flag & (CellHasNote | CellHasVolume | CellHasEffect))) continue;
      out.push_back(flag);
      if (flag & CellHasNote) {
        out.push_back(c.note);
        out.push_back(c.instrument);
      }
      if (flag & CellHasVolume) out.push_back(c.volume);
      if (flag & CellHasEffect) {
        out.push_back(static_cast<uint8_t>(c.effect));
        out.push_back(c.parameter);
      }
    }
    out.push_back(0);
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool empty_field(std::string_view t) {
  return t.find_first_not_of(".-") == std::string_view::npos;
}

bool parse_hex_byte(std::string_view t, uint8_t& out) {
  if (t.size() != 2 || hex_digit(t[0]) < 0 || hex_digit(t[1]) < 0) return false;
  out = static_cast<uint8_t>(hex_digit(t[0]) * 16 + hex_digit(t[1]));
  return true;
}

bool parse_note(std::string_view t, uint8_t& note) {
  if (t == "===" || t == "off" || t == "OFF") {
    note = NoteKeyOff;
    return true;
  }
  static constexpr std::string_view Names = "C-C#D-D#E-F-F#G-G#A-A#B-";
  if (t.size() != 3 || t[2] < '0' || t[2] > '7') return false;
  for (int s = 0; s < 12; ++s) {
    if (Names.substr(2 * s, 2) == t.substr(0, 2)) {
      note = static_cast<uint8_t>((t[2] - '0') * 12 + s + 1);
      return true;
    }
  }
  return false;
}

bool parse_effect(std::string_view t, CellSpec& cell) {
  if (t.size() != 3) return false;
  char e = t[0];
  int number;
  if (e >= '0' && e <= '9')
    number = e - '0';
  else if (e >= 'A' && e <= 'Z')
    number = e - 'A' + 10;
  else
    return false;
  uint8_t parameter;
  if (!parse_hex_byte(t.substr(1), parameter)) return false;
  if (number == 14) {  // Exy is stored as effect 36 + x with parameter y
    number = 36 + (parameter >> 4);
    parameter &= 15;
  }
  cell.effect = static_cast<int16_t>(number);
  cell.parameter = parameter;
  return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::optional<std::vector<CellSpec>> parse_row(std::string_view text, std::string* error) {
  std::vector<CellSpec> cells;
  std::vector<std::string_view> channels = split(text, '|');
  for (size_t ch = 0; ch < channels.size(); ++ch) {
    std::vector<std::string_view> fields = words(channels[ch]);
    CellSpec cell;
    cell.channel = static_cast<uint8_t>(ch);
    auto fail = [&](const char* what, std::string_view field) {
      if (error)
        *error = "channel " + std::to_string(ch) + ": bad " + what + " \"" + std::string(field) + "\" in \"" +
                 std::string(text) + "\"";
      return std::nullopt;
    };
    if (fields.size() > 4) return fail("field count", channels[ch]);
    if (fields.size() > 0 && !empty_field(fields[0]) && !parse_note(fields[0], cell.note))
      return fail("note", fields[0]);
    if (fields.size() > 1 && !empty_field(fields[1]) && !parse_hex_byte(fields[1], cell.instrument))
      return fail("instrument", fields[1]);
    if (fields.size() > 2 && !empty_field(fields[2]) && !parse_hex_byte(fields[2], cell.volume))
      return fail("volume", fields[2]);
    if (fields.size() > 3 && !empty_field(fields[3]) && !parse_effect(fields[3], cell))
      return fail("effect", fields[3]);
    if (cell.note || cell.instrument || cell.volume || cell.effect >= 0) cells.push_back(cell);
  }
  return cells;
}

PatternSpec pattern_from_rows(std::initializer_list<std::string_view> rows) {
  PatternSpec pattern;
  for (std::string_view row : rows) {
    std::string error;
    std::optional<std::vector<CellSpec>> cells = parse_row(row, &error);
    if (!cells) {
      std::fprintf(stderr, "pattern_from_rows: %s\n", error.c_str());
      std::abort();
    }
    pattern.rows.push_back(*cells);
  }
  return pattern;
}

PatternSpec empty_pattern(uint32_t count) {
  PatternSpec pattern;
  pattern.rows.resize(count);
  return pattern;
}

std::vector<uint8_t> write_module_image(const ModuleSpec& spec) {
  std::vector<uint8_t> image(ModuleHeaderSize, 0);
  uint8_t* h = image.data();
  store_u32(h, ModuleMagic);
  store_u32(h + HeaderSongLength, static_cast<uint32_t>(spec.orders.size()));
  store_u32(h + HeaderRestartPosition, spec.restartPosition);
  store_u32(h + HeaderChannelCount, spec.channelCount);
  store_u32(h + HeaderPatternCount, static_cast<uint32_t>(spec.patterns.size()));
  store_u32(h + HeaderInstrumentCount, static_cast<uint32_t>(spec.instruments.size()));
  h[HeaderInitialSpeed] = spec.speed;
  h[HeaderInitialTempo] = spec.tempo;
  uint16_t flags = static_cast<uint16_t>((spec.linear ? FlagLinearPeriods : 0) |
                                         (spec.keepChannelPanning ? FlagKeepChannelPanning : 0) |
                                         (spec.deltaCoded ? FlagDeltaCoded : 0));
  store_u16(h + HeaderFlags, flags);
  store_u32(h + HeaderMinimumPeriod, static_cast<uint32_t>(spec.minimumPeriod.value_or(spec.linear ? -18432 : 107)));
  store_u32(h + HeaderMaximumPeriod, static_cast<uint32_t>(spec.maximumPeriod.value_or(spec.linear ? 24576 : 438272)));
  for (uint32_t c = 0; c < MaxChannels; ++c) h[HeaderInitialPanning + c] = spec.panning[c];
  for (size_t i = 0; i < spec.orders.size() && i < MaxOrders; ++i) h[OrderTableOffset + i] = spec.orders[i];

  // Sample data indices in storage order: all 8-bit samples first, then all 16-bit ones.
  struct Placed {
    const SampleSpec* sample;
    uint16_t index;
  };
  std::vector<Placed> narrow, wide;
  uint16_t dataIndex = 0;
  for (size_t k = 0; k < spec.instruments.size() && k < MaxInstruments; ++k) {
    uint16_t first = dataIndex;
    std::vector<uint8_t> record = write_instrument(spec.instruments[k], dataIndex);
    for (size_t s = 0; s < spec.instruments[k].samples.size(); ++s) {
      const SampleSpec& sample = spec.instruments[k].samples[s];
      (sample.sixteenBit ? wide : narrow).push_back({&sample, static_cast<uint16_t>(first + s)});
    }
    store_u32(image.data() + InstrumentTableOffset + 4 * k, static_cast<uint32_t>(image.size()));
    image.insert(image.end(), record.begin(), record.end());
  }
  for (size_t p = 0; p < spec.patterns.size() && p < MaxPatterns; ++p) {
    if (spec.patterns[p].absent) continue;
    store_u32(image.data() + PatternTableOffset + 4 * p, static_cast<uint32_t>(image.size()));
    write_pattern(image, spec.patterns[p]);
  }

  uint32_t area = static_cast<uint32_t>(image.size());
  store_u32(image.data() + HeaderSampleDataOffset, area);
  uint8_t last8 = 0;
  uint32_t bytes8 = 0;
  for (const Placed& placed : narrow) {
    store_u32(image.data() + SampleTableOffset + 4 * placed.index, static_cast<uint32_t>(image.size()));
    for (int16_t v : placed.sample->data) {
      uint8_t value = static_cast<uint8_t>(v);
      image.push_back(spec.deltaCoded ? static_cast<uint8_t>(value - last8) : value);
      last8 = value;
      ++bytes8;
    }
  }
  uint16_t last16 = 0;
  uint32_t values16 = 0;
  for (const Placed& placed : wide) {
    store_u32(image.data() + SampleTableOffset + 4 * placed.index, static_cast<uint32_t>(image.size()));
    for (int16_t v : placed.sample->data) {
      uint16_t value = static_cast<uint16_t>(v);
      uint16_t stored = spec.deltaCoded ? static_cast<uint16_t>(value - last16) : value;
      image.push_back(static_cast<uint8_t>(stored));
      image.push_back(static_cast<uint8_t>(stored >> 8));
      last16 = value;
      ++values16;
    }
  }
  store_u32(image.data() + HeaderSampleData8Size, bytes8);
  store_u32(image.data() + HeaderSampleData16Count, values16);
  image.insert(image.end(), 4, 0);  // read past the last played value
  return image;
}
