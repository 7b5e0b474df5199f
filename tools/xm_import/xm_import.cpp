// From XM records to the module image. The image's cells use the XM numbering for notes,
// volume-column bytes and effects 0..35, so most of the work is checking ranges and
// reporting what the player has no counterpart for.
#include "tools/xm_import/xm_import.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

std::string n(int64_t v) { return std::to_string(v); }

// Warnings of one kind are gathered, so a module with a thousand dropped cells reports one
// line per kind: how often, in how many patterns, and the first place it occurs.
struct Report {
  struct Entry {
    int count = 0;
    std::string first;
    std::set<int> patterns;
  };
  std::map<std::string, Entry> entries;
  std::vector<std::string> order;

  void add(const std::string& what, const std::string& where = {}, int pattern = -1) {
    auto [it, inserted] = entries.try_emplace(what);
    if (inserted) {
      order.push_back(what);
      it->second.first = where;
    }
    ++it->second.count;
    if (pattern >= 0) it->second.patterns.insert(pattern);
  }
  void flush(std::vector<std::string>& out) const {
    for (const std::string& what : order) {
      const Entry& e = entries.at(what);
      std::string line = what;
      if (e.count > 1) {
        line += " (" + n(e.count) + " times";
        if (e.patterns.size() > 1) line += " in " + n(static_cast<int64_t>(e.patterns.size())) + " patterns";
        line += (e.first.empty() ? "" : ", first at " + e.first) + ")";
      } else if (!e.first.empty()) {
        line += " (at " + e.first + ")";
      }
      out.push_back(line);
    }
  }
};

char effect_letter(int effect) {
  return static_cast<char>(effect < 10 ? '0' + effect : 'A' + effect - 10);
}

// Effects 0..35 the player acts on (the rest of 0..35 it ignores).
bool effect_supported(int effect) {
  switch (effect) {
    case 18: case 19: case 22: case 23: case 24: case 26: case 30: case 31: case 34: case 35:
      return false;
    default:
      return effect < 36;
  }
}

const char* extended_name(int x) {
  static const char* const names[16] = {"E0 (filter)", "E1", "E2", "E3", "E4", "E5 (set finetune)", "E6", "E7",
                                        "E8", "E9", "EA", "EB", "EC", "ED", "EE", "EF"};
  return names[x];
}

void convert_cell(const XmCell& in, CellDef& out, int pattern, int row, int channel, uint16_t instruments,
                  Report& report) {
  // Place names are made only for cells that are reported.
  auto drop = [&](const std::string& what) {
    report.add(what, "pattern " + n(pattern) + " row " + n(row) + " channel " + n(channel), pattern);
  };
  if (in.note <= XmKeyOff) {
    out.note = in.note;
  } else {
    drop("note value " + n(in.note) + " is not a note; dropped");
  }
  out.instrument = in.instrument;
  if (in.instrument > instruments) drop("instrument " + n(in.instrument) + " does not exist; the player ignores it");
  // 0x10..0x50 set the volume; the values above, up to 0x5F, are no command in an XM.
  out.volume = in.volume >= 0x10 ? in.volume : 0;
  if (in.volume > 0x50 && in.volume < 0x60) {
    out.volume = 0;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", in.volume);
    drop(std::string("volume column ") + hex + " is no command; dropped");
  }
  if (in.effect == 0 && in.parameter == 0) return;  // no effect
  if (in.effect == 14) {
    const int x = in.parameter >> 4;
    if (x == 0 || x == 5) {
      drop(std::string("effect ") + extended_name(x) + " has no counterpart; dropped");
      return;
    }
    out.effect = static_cast<int16_t>(36 + x);
    out.parameter = in.parameter & 15;
    return;
  }
  if (in.effect >= 36 || !effect_supported(in.effect)) {
    std::string name = in.effect < 36 ? std::string(1, effect_letter(in.effect)) : "number " + n(in.effect);
    drop("effect " + name + " has no counterpart; dropped");
    return;
  }
  if (in.effect == 33 && (in.parameter >> 4) != 1 && (in.parameter >> 4) != 2) {
    drop("effect X with high digit other than 1 or 2 has no counterpart; dropped");
    return;
  }
  out.effect = in.effect;
  out.parameter = in.parameter;
}

// XM stores points as absolute ticks; the image as the length of the segment to the next
// point.
EnvelopeDef convert_envelope(const XmEnvelope& in, const std::string& where, uint16_t neutral, Report& report) {
  EnvelopeDef out;
  if (!in.on || in.points.empty()) return out;  // neutral points, no envelope
  const size_t count = in.points.size();
  for (size_t k = 0; k < count; ++k) {
    uint16_t value = in.points[k].second;
    if (value > 64) {
      report.add(where + ": point " + n(k) + " value " + n(value) + " above 64; limited to 64");
      value = 64;
    }
    uint16_t length = 0;
    if (k + 1 < count) {
      const int gap = int{in.points[k + 1].first} - int{in.points[k].first};
      if (gap <= 0) {
        report.add(where + ": point " + n(k + 1) + " does not come after point " + n(k) +
                   "; segment lengthened to 1 tick");
        length = 1;
      } else {
        length = static_cast<uint16_t>(gap);
      }
    }
    out.points.emplace_back(length, value);
  }
  (void)neutral;
  if (in.sustain) {
    if (in.sustainPoint < count)
      out.sustain = in.sustainPoint;
    else
      report.add(where + ": sustain point " + n(in.sustainPoint) + " beyond the last point; no sustain");
  }
  if (in.loop) {
    if (in.loopEnd < count && in.loopStart <= in.loopEnd) {
      out.loopStart = in.loopStart;
      out.loopEnd = in.loopEnd;
    } else {
      report.add(where + ": loop " + n(in.loopStart) + ".." + n(in.loopEnd) + " outside the points; no loop");
    }
  }
  return out;
}

SampleDef convert_sample(const XmSample& in, const std::string& where, bool eightBitOnly, Report& report) {
  SampleDef out;
  if (in.adpcm) report.add(where + ": ADPCM-packed sample data is not supported; imported as silence");
  if (in.stereo) report.add(where + ": stereo sample; only its first channel is kept");
  const uint32_t frames = static_cast<uint32_t>(in.data.size());
  out.loop = LoopKind::None;
  uint8_t loopType = in.loopType;
  if (loopType == 3) {
    report.add(where + ": loop type 3 read as ping-pong");
    loopType = 2;
  }
  if (loopType != 0 && in.loopLength > 0) {
    if (in.loopStart >= frames) {
      report.add(where + ": loop start " + n(in.loopStart) + " at or beyond the sample's " + n(frames) +
                 " frames; not looped");
    } else {
      out.loop = loopType == 1 ? LoopKind::Forward : LoopKind::PingPong;
      out.loopStart = in.loopStart;
      out.loopLength = in.loopLength;
      if (uint64_t{in.loopStart} + in.loopLength > frames) {
        out.loopLength = frames - in.loopStart;
        report.add(where + ": loop end beyond the sample's " + n(frames) + " frames; loop shortened");
      }
    }
  }
  // Data past a loop's end is never played.
  const uint32_t kept = out.loop != LoopKind::None ? out.loopStart + out.loopLength : frames;
  out.data.assign(in.data.begin(), in.data.begin() + kept);
  out.sixteenBit = in.sixteenBit;
  if (in.sixteenBit && eightBitOnly) {
    for (int16_t& v : out.data) v = static_cast<int16_t>(std::min((v + 128) >> 8, 127));
    out.sixteenBit = false;
  }
  out.volume = in.volume;
  if (in.volume > 64) {
    report.add(where + ": volume " + n(in.volume) + " above 64; limited to 64");
    out.volume = 64;
  }
  out.panning = in.panning;
  // Relative note in semitones and finetune in 1/128 semitone, as 1/256 semitone.
  const int offset = in.relativeNote * 256 + in.finetune * 2;
  out.pitchOffset = static_cast<int16_t>(std::clamp(offset, -32768, 32767));
  if (offset != out.pitchOffset) report.add(where + ": relative note " + n(in.relativeNote) + " out of range; limited");
  return out;
}

}  // namespace

ModuleDef xm_to_module_def(const XmModule& m, const XmImportOptions& options, std::vector<std::string>& warnings) {
  Report report;
  ModuleDef def;
  def.channelCount = m.channels;
  def.linear = m.linear;
  def.orders = m.orders;
  def.speed = static_cast<uint8_t>(std::clamp<int>(m.speed, 1, 31));
  if (m.speed != def.speed) report.add("header: initial speed " + n(m.speed) + " outside 1..31; set to " + n(def.speed));
  def.tempo = static_cast<uint8_t>(std::clamp<int>(m.bpm, 32, 255));
  if (m.bpm != def.tempo) report.add("header: initial tempo " + n(m.bpm) + " outside 32..255; set to " + n(def.tempo));
  def.restartPosition = m.restart;
  if (m.restart >= m.orders.size()) {
    report.add("header: restart position " + n(m.restart) + " beyond the song; set to 0");
    def.restartPosition = 0;
  }
  for (size_t i = 0; i < m.orders.size(); ++i)
    if (m.orders[i] >= m.patterns.size())
      report.add("order " + n(static_cast<int64_t>(i)) + ": pattern " + n(m.orders[i]) +
                 " does not exist; plays as an empty pattern");

  for (size_t p = 0; p < m.patterns.size(); ++p) {
    const XmPattern& in = m.patterns[p];
    PatternDef out;
    out.rows.resize(in.rows);
    for (uint32_t row = 0; row < in.rows; ++row) {
      for (uint32_t ch = 0; ch < m.channels; ++ch) {
        const XmCell& cell = in.cells[size_t{row} * m.channels + ch];
        CellDef c;
        c.channel = static_cast<uint8_t>(ch);
        convert_cell(cell, c, static_cast<int>(p), static_cast<int>(row), static_cast<int>(ch),
                     static_cast<uint16_t>(m.instruments.size()), report);
        if (c.note || c.instrument || c.volume || c.effect >= 0) out.rows[row].push_back(c);
      }
    }
    def.patterns.push_back(std::move(out));
  }

  for (size_t i = 0; i < m.instruments.size(); ++i) {
    const XmInstrument& in = m.instruments[i];
    const std::string where = "instrument " + n(static_cast<int64_t>(i + 1));
    InstrumentDef out;
    for (size_t s = 0; s < in.samples.size(); ++s)
      out.samples.push_back(
          convert_sample(in.samples[s], where + " sample " + n(static_cast<int64_t>(s)), options.eightBitOnly, report));
    out.keyMap = in.keyMap;
    for (uint8_t& k : out.keyMap) {
      if (k >= in.samples.size() && !in.samples.empty()) {
        report.add(where + ": key map names sample " + n(k) + " of " + n(static_cast<int64_t>(in.samples.size())) +
                   "; those notes are silent");
      }
    }
    out.volumeEnvelope = convert_envelope(in.volume, where + " volume envelope", 64, report);
    out.panningEnvelope = convert_envelope(in.panning, where + " panning envelope", 32, report);
    // Without a volume envelope a key-off silences the note at once, as the fadeout of a
    // full level in one tick.
    out.fadeout = out.volumeEnvelope.points.empty() ? 65535 : in.fadeout;
    // XM waveforms: sine, square, ramp down, ramp up; the player's tables: sine, rising
    // ramp, square, falling ramp.
    static constexpr uint8_t Waveform[4] = {0, 2, 3, 1};
    if (in.vibratoType > 3) report.add(where + ": auto-vibrato waveform " + n(in.vibratoType) + " unknown; sine used");
    out.vibratoWaveform = Waveform[in.vibratoType & 3];
    if (in.vibratoType > 3) out.vibratoWaveform = 0;
    // The player works the auto-vibrato out in 32 bits: every sweep and depth a byte holds
    // plays as written.
    out.vibratoSweep = in.vibratoSweep;
    out.vibratoDepth = in.vibratoDepth;
    out.vibratoRate = in.vibratoRate;
    def.instruments.push_back(std::move(out));
  }
  report.flush(warnings);
  return def;
}

std::vector<uint8_t> write_imported_image(const ModuleDef& def) {
  std::vector<uint8_t> image = write_module_image(def);
  // Two zero samples open the area; every sample moves up by two bytes.
  const uint32_t area = load_u32(image.data() + HeaderSampleDataOffset);
  image.insert(image.begin() + area, 2, 0);
  for (uint32_t s = 0; s < MaxSampleData; ++s) {
    uint8_t* entry = image.data() + SampleTableOffset + 4 * s;
    if (load_u32(entry) != 0) store_u32(entry, load_u32(entry) + 2);
  }
  store_u32(image.data() + HeaderSampleData8Size, load_u32(image.data() + HeaderSampleData8Size) + 2);
  return image;
}

XmImport import_xm(std::span<const uint8_t> file, const XmImportOptions& options) {
  XmImport result;
  XmModule module;
  if (!read_xm(file, module, result.error)) return result;
  if (module.missingSampleBytes > 0) {
    std::string cut = "the file is cut short: " + n(static_cast<int64_t>(module.missingSampleBytes)) +
                      " bytes of sample data are missing" +
                      (module.missingCutShort ? "; the sample ends where the file ends" : " and play as silence");
    if (module.missingInstruments > 0) cut += "; the last " + n(module.missingInstruments) + " instruments are empty";
    result.warnings.push_back(cut);
  }
  result.def = xm_to_module_def(module, options, result.warnings);
  for (const XmInstrument& ins : module.instruments)
    for (const XmSample& s : ins.samples) ++(s.sixteenBit ? result.samples16 : result.samples8);
  result.image = write_imported_image(result.def);
  if (result.image.size() > UINT32_MAX) {
    result.error = "the image would exceed 4 GiB";
    result.image.clear();
    return result;
  }
  if (ImageCheck check = validate_module_image(result.image.data(), result.image.size()); check != ImageCheck::Ok) {
    result.error = std::string("the image fails validation: ") + image_check_text(check);
    result.image.clear();
    return result;
  }
  result.ok = true;
  return result;
}
