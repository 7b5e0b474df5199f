#include "tools/tunescore/score.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

namespace {

constexpr const char* NoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};
constexpr const char* VibratoTypes[4] = {"sine", "square", "rampdown", "rampup"};
constexpr char VolumeLetters[] = "-+dusvplrm";  // commands 6..15 of the volume column

// Every synthesiser parameter of the plain kinds with the values it may take (inclusive); the
// layered kinds state their own (synth_kind_range). The synthesiser trusts these, as its
// sizes and times follow from them. Times are seconds,
// `period` samples per cycle, `note` 1 (C-0) to 96 (B-7), levels and mixes fractions.
struct SynthRange {
  const char* name;
  double low, high;
};
constexpr SynthRange SynthRanges[] = {
    {"attack", 0, 10},          {"body", 0, 4},           {"brightness", 0, 1},   {"chorus", 0, 4},
    {"click", 0, 4},            {"color", 0, 1},          {"cutoff", 0.01, 512},  {"cutoffstart", 0, 512},
    {"cycles", 1, 4096},        {"decay", 0.001, 60},     {"detune", -1200, 1200}, {"drive", 0, 16},
    {"hz", 1000, 192000},       {"index", 0, 64},         {"index2", 0, 64},      {"itime", 0, 60},
    {"length", 0.001, 60},      {"loop", 0, 1},           {"note", 1, 96},        {"noise", 0, 1},
    {"peak", 0.05, 1},          {"period", 8, 1024},      {"pwm", 0, 0.5},        {"pwmcycles", 1, 64},
    {"ratio", 0, 64},           {"resonance", 0, 2},      {"seed", 0, 4294967295.0}, {"spread", 1, 16},
    {"sweep", 0, 10},           {"tine", 0, 64},          {"tineindex", 0, 64},   {"tone", 1, 20000},
    {"toneend", 1, 20000},      {"voices", 1, 7},         {"width", 0, 1},
};

std::string format_bound(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

const SynthRange* synth_range(const std::string& name) {
  for (const SynthRange& r : SynthRanges)
    if (name == r.name) return &r;
  return nullptr;
}

struct Token {
  std::string text;
  int column;  // 1-based
};

std::vector<Token> split(const std::string& line) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    const size_t start = i;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') ++i;
      if (i < line.size()) ++i;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    }
    out.push_back({line.substr(start, i - start), static_cast<int>(start) + 1});
  }
  return out;
}

struct Parser {
  const std::string& file;
  std::string& error;
  int line = 0;

  bool fail(int column, const std::string& cause) {
    error = file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + cause;
    return false;
  }

  bool integer(const Token& t, long low, long high, long& value, const char* what) {
    const std::string& s = t.text;
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size() || !std::all_of(s.begin() + static_cast<long>(i), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return fail(t.column, std::string(what) + ": \"" + s + "\" is not a whole number");
    value = std::strtol(s.c_str(), nullptr, 10);
    if (value < low || value > high)
      return fail(t.column, std::string(what) + " " + s + " outside " + std::to_string(low) + ".." + std::to_string(high));
    return true;
  }

  bool real(const std::string& s, int column, double& value, const std::string& what) {
    char* end = nullptr;
    value = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != 0 || !std::isfinite(value))
      return fail(column, what + ": \"" + s + "\" is not a number");
    return true;
  }

  // "key=value" with an integer value in a range.
  bool keyed(const Token& t, const std::string& key, long low, long high, long& value) {
    if (t.text.rfind(key + "=", 0) != 0) return fail(t.column, "expected " + key + "=N, found \"" + t.text + "\"");
    Token v{t.text.substr(key.size() + 1), t.column + static_cast<int>(key.size()) + 1};
    if (v.text.empty()) return fail(v.column, key + " needs a value");
    return integer(v, low, high, value, key.c_str());
  }
};

bool hex_digit(char c, int& v) {
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else return false;
  return true;
}

// One cell from its text; `column` is where the cell starts in the line.
bool parse_cell(Parser& p, const std::string& text, int column, XmCell& cell) {
  std::vector<Token> fields = split(text);
  for (Token& f : fields) f.column += column - 1;
  cell = XmCell{};
  if (fields.empty()) return true;
  if (fields.size() != 4)
    return p.fail(fields[0].column, "a cell has four fields (note, instrument, volume, effect), found " +
                                        std::to_string(fields.size()));
  // Note.
  const Token& n = fields[0];
  if (n.text == "===") {
    cell.note = XmKeyOff;
  } else if (n.text != "...") {
    int index = -1;
    if (n.text.size() == 3)
      for (int k = 0; k < 12; ++k)
        if (n.text.compare(0, 2, NoteNames[k]) == 0) index = k;
    if (index < 0 || !std::isdigit(static_cast<unsigned char>(n.text[2])))
      return p.fail(n.column, "\"" + n.text + "\" is not a note (C-4, F#2, === or ...)");
    const int note = (n.text[2] - '0') * 12 + index + 1;
    if (note > 96) return p.fail(n.column, "note " + n.text + " above B-7");
    cell.note = static_cast<uint8_t>(note);
  }
  // Instrument.
  const Token& i = fields[1];
  if (i.text != "..") {
    if (i.text.size() != 2 || !std::isdigit(static_cast<unsigned char>(i.text[0])) ||
        !std::isdigit(static_cast<unsigned char>(i.text[1])) || i.text == "00")
      return p.fail(i.column, "\"" + i.text + "\" is not an instrument (01..99 or ..)");
    cell.instrument = static_cast<uint8_t>(std::stoi(i.text));
  }
  // Volume column.
  const Token& v = fields[2];
  if (v.text != "..") {
    int hi = 0, lo = 0;
    if (v.text.size() != 2 || !hex_digit(v.text[1], lo))
      return p.fail(v.column, "\"" + v.text + "\" is not a volume column entry");
    if (hex_digit(v.text[0], hi) && hi >= 1 && hi <= 5) {
      const int value = hi * 16 + lo;
      if (value > 0x50) return p.fail(v.column, "volume " + v.text + " above 50 (hex)");
      cell.volume = static_cast<uint8_t>(value);
    } else {
      const char* at = std::strchr(VolumeLetters, v.text[0]);
      if (at == nullptr || v.text[0] == 0)
        return p.fail(v.column, "\"" + v.text + "\" is not a volume column entry");
      cell.volume = static_cast<uint8_t>((6 + (at - VolumeLetters)) * 16 + lo);
    }
  }
  // Effect.
  const Token& e = fields[3];
  if (e.text != "...") {
    int hi = 0, lo = 0;
    const char c = e.text.empty() ? 0 : e.text[0];
    int number = -1;
    if (c >= '0' && c <= '9') number = c - '0';
    else if (c >= 'A' && c <= 'Z') number = c - 'A' + 10;
    if (e.text.size() != 3 || number < 0 || !hex_digit(e.text[1], hi) || !hex_digit(e.text[2], lo))
      return p.fail(e.column, "\"" + e.text + "\" is not an effect (letter and two hex digits, or ...)");
    cell.effect = static_cast<uint8_t>(number);
    cell.parameter = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

bool parse_envelope(Parser& p, const std::vector<Token>& t, ScoreEnvelope& env) {
  env = ScoreEnvelope{};
  for (size_t k = 2; k < t.size(); ++k) {
    const std::string& s = t[k].text;
    long a = 0, b = 0;
    if (s.rfind("sustain=", 0) == 0) {
      if (!p.keyed(t[k], "sustain", 0, 11, a)) return false;
      env.sustain = static_cast<int>(a);
    } else if (s.rfind("loop=", 0) == 0) {
      const size_t dash = s.find('-', 5);
      if (dash == std::string::npos) return p.fail(t[k].column, "loop=I-J needs two point numbers");
      Token first{s.substr(5, dash - 5), t[k].column + 5}, second{s.substr(dash + 1), t[k].column + static_cast<int>(dash) + 1};
      if (!p.integer(first, 0, 11, a, "loop start") || !p.integer(second, 0, 11, b, "loop end")) return false;
      if (b < a) return p.fail(t[k].column, "loop end before loop start");
      env.loopStart = static_cast<int>(a);
      env.loopEnd = static_cast<int>(b);
    } else {
      const size_t colon = s.find(':');
      if (colon == std::string::npos) return p.fail(t[k].column, "envelope point \"" + s + "\" is not TICK:VALUE");
      Token tick{s.substr(0, colon), t[k].column}, value{s.substr(colon + 1), t[k].column + static_cast<int>(colon) + 1};
      if (tick.text.empty() || value.text.empty()) return p.fail(t[k].column, "envelope point \"" + s + "\" is not TICK:VALUE");
      if (!p.integer(tick, 0, 65535, a, "envelope tick") || !p.integer(value, 0, 64, b, "envelope value")) return false;
      if (!env.points.empty() && a <= env.points.back().first)
        return p.fail(t[k].column, "envelope ticks must rise");
      if (env.points.size() == 12) return p.fail(t[k].column, "an envelope has at most 12 points");
      env.points.emplace_back(static_cast<uint16_t>(a), static_cast<uint16_t>(b));
    }
  }
  if (env.points.empty()) return p.fail(t[0].column, "an envelope needs at least one point");
  const int last = static_cast<int>(env.points.size()) - 1;
  if (env.sustain > last || env.loopEnd > last) return p.fail(t[0].column, "envelope names a point it does not have");
  return true;
}

bool parse_instrument_line(Parser& p, const std::vector<Token>& t, ScoreInstrument& ins) {
  const std::string& key = t[0].text;
  long v = 0;
  if (key == "synth") {
    if (t.size() < 2) return p.fail(t[0].column, "synth needs a kind");
    ins.synth.kind = t[1].text;
    ins.synthLine = p.line;
    ins.synthColumn = t[0].column;
    const std::vector<std::string> names = synth_parameter_names(ins.synth.kind);
    if (names.empty()) return p.fail(t[1].column, "unknown synth kind \"" + t[1].text + "\"");
    ins.synth.params.clear();
    for (size_t k = 2; k < t.size(); ++k) {
      const size_t eq = t[k].text.find('=');
      if (eq == std::string::npos) return p.fail(t[k].column, "synth parameter \"" + t[k].text + "\" is not key=value");
      const std::string name = t[k].text.substr(0, eq);
      if (std::find(names.begin(), names.end(), name) == names.end())
        return p.fail(t[k].column, "synth kind \"" + ins.synth.kind + "\" has no parameter \"" + name + "\"");
      double value = 0;
      const int at = t[k].column + static_cast<int>(eq) + 1;
      if (!p.real(t[k].text.substr(eq + 1), at, value, name)) return false;
      // The kind's own range where it states one, else the general one of that name.
      SynthRange range{name.c_str(), 0, 0};
      if (!synth_kind_range(ins.synth.kind, name, range.low, range.high)) {
        const SynthRange* general = synth_range(name);
        if (general == nullptr) return p.fail(t[k].column, "synth parameter \"" + name + "\" has no stated range");
        range = *general;
      }
      if (value < range.low || value > range.high)
        return p.fail(at, name + " " + t[k].text.substr(eq + 1) + " outside " + format_bound(range.low) + ".." +
                              format_bound(range.high));
      ins.synth.params.emplace_back(name, value);
    }
    return true;
  }
  if (key == "split") {
    // A further sample from a note upwards: the rest of the line reads as a synth line.
    XmCell cell;
    if (t.size() < 3) return p.fail(t[0].column, "split needs a note and a synth kind");
    if (!parse_cell(p, t[1].text + " .. .. ...", t[1].column, cell)) return false;
    if (cell.note == 0 || cell.note == XmKeyOff) return p.fail(t[1].column, "split needs a note (C-4, F#2)");
    if (!ins.splits.empty() && cell.note <= ins.splits.back().first)
      return p.fail(t[1].column, "splits must rise from note to note");
    std::vector<Token> synth(t.begin() + 1, t.end());
    synth[0].text = "synth";
    ScoreInstrument part;
    if (!parse_instrument_line(p, synth, part)) return false;
    ins.splits.emplace_back(cell.note, part.synth);
    return true;
  }
  if (key == "volume" || key == "panning" || key == "transpose" || key == "fadeout") {
    // One or more NAME VALUE pairs on a line: "volume 48 panning 96".
    if (t.size() % 2 != 0) return p.fail(t.back().column, t.back().text + " needs a value");
    for (size_t k = 0; k < t.size(); k += 2) {
      const std::string& name = t[k].text;
      if (name == "volume") {
        if (!p.integer(t[k + 1], 0, 64, v, "volume")) return false;
        ins.volume = static_cast<int>(v);
      } else if (name == "panning") {
        if (!p.integer(t[k + 1], 0, 255, v, "panning")) return false;
        ins.panning = static_cast<int>(v);
      } else if (name == "transpose") {
        if (!p.integer(t[k + 1], -48, 48, v, "transpose")) return false;
        ins.transpose = static_cast<int>(v);
      } else if (name == "fadeout") {
        if (!p.integer(t[k + 1], 0, 4095, v, "fadeout")) return false;
        ins.fadeout = static_cast<int>(v);
      } else {
        return p.fail(t[k].column, "unknown instrument setting \"" + name + "\"");
      }
    }
    return true;
  }
  if (key == "envelope") {
    if (t.size() < 2 || (t[1].text != "volume" && t[1].text != "panning"))
      return p.fail(t.size() < 2 ? t[0].column : t[1].column, "envelope volume or envelope panning");
    return parse_envelope(p, t, t[1].text == "volume" ? ins.volumeEnvelope : ins.panningEnvelope);
  }
  if (key == "autovibrato") {
    if (t.size() != 5) return p.fail(t[0].column, "autovibrato WAVE sweep=N depth=N rate=N");
    int type = -1;
    for (int k = 0; k < 4; ++k)
      if (t[1].text == VibratoTypes[k]) type = k;
    if (type < 0) return p.fail(t[1].column, "unknown vibrato waveform \"" + t[1].text + "\"");
    long sweep = 0, depth = 0, rate = 0;
    if (!p.keyed(t[2], "sweep", 0, 127, sweep) || !p.keyed(t[3], "depth", 0, 15, depth) ||
        !p.keyed(t[4], "rate", 0, 63, rate))
      return false;
    ins.vibratoType = type;
    ins.vibratoSweep = static_cast<int>(sweep);
    ins.vibratoDepth = static_cast<int>(depth);
    ins.vibratoRate = static_cast<int>(rate);
    return true;
  }
  return p.fail(t[0].column, "unknown instrument setting \"" + key + "\"");
}

}  // namespace

bool parse_score(const std::string& text, const std::string& file, Score& score, std::string& error) {
  score = Score{};
  error.clear();
  Parser p{file, error};
  std::istringstream in(text);
  std::string line;
  enum class Where { Header, Instrument, Pattern } where = Where::Header;
  bool seenBody = false;
  int sectionLine = 0;
  int restartLine = 0, restartColumn = 0;
  std::map<std::string, int> names;
  while (std::getline(in, line)) {
    ++p.line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<Token> t = split(line);
    if (t.empty()) continue;
    const std::string& key = t[0].text;
    if (where == Where::Instrument) {
      if (key == "end") {
        if (score.instruments.back().synth.kind.empty())
          return p.fail(t[0].column, "instrument \"" + score.instruments.back().name + "\" has no synth line");
        where = Where::Header;
        continue;
      }
      if (!parse_instrument_line(p, t, score.instruments.back())) return false;
      continue;
    }
    if (where == Where::Pattern) {
      if (key == "end" && t.size() == 1) {
        if (score.patterns.back().rows.empty()) return p.fail(t[0].column, "a pattern needs at least one row");
        where = Where::Header;
        continue;
      }
      ScorePattern& pat = score.patterns.back();
      if (pat.rows.size() == 256) return p.fail(1, "a pattern has at most 256 rows");
      std::vector<XmCell> row(static_cast<size_t>(score.channels));
      size_t from = 0;
      int channel = 0;
      while (from <= line.size()) {
        size_t bar = line.find('|', from);
        if (bar == std::string::npos) bar = line.size();
        const std::string cellText = line.substr(from, bar - from);
        if (channel >= score.channels) {
          if (!split(cellText).empty())
            return p.fail(static_cast<int>(from) + 1, "more cells than the " + std::to_string(score.channels) + " channels");
        } else if (!parse_cell(p, cellText, static_cast<int>(from) + 1, row[static_cast<size_t>(channel)])) {
          return false;
        }
        ++channel;
        from = bar + 1;
        if (bar == line.size()) break;
      }
      pat.rows.push_back(std::move(row));
      continue;
    }
    // Header and section starts.
    long v = 0;
    auto one_value = [&]() -> bool {
      if (t.size() != 2) return p.fail(t[0].column, key + " takes one value");
      return true;
    };
    if (key == "instrument" || key == "pattern") {
      if (t.size() != 2) return p.fail(t[0].column, key + " takes one name");
      const std::string qualified = key + ":" + t[1].text;
      if (names.count(qualified)) return p.fail(t[1].column, key + " \"" + t[1].text + "\" defined twice");
      names[qualified] = p.line;
      seenBody = true;
      sectionLine = p.line;
      if (key == "instrument") {
        if (score.instruments.size() == 99) return p.fail(t[0].column, "at most 99 instruments");
        score.instruments.push_back(ScoreInstrument{});
        score.instruments.back().name = t[1].text;
        where = Where::Instrument;
      } else {
        if (score.patterns.size() == 256) return p.fail(t[0].column, "at most 256 patterns");
        score.patterns.push_back(ScorePattern{});
        score.patterns.back().name = t[1].text;
        where = Where::Pattern;
      }
      continue;
    }
    if (key == "order") {
      for (size_t k = 1; k < t.size(); ++k) score.order.push_back(t[k].text);
      if (score.order.size() > 256) return p.fail(t.back().column, "at most 256 song positions");
      continue;
    }
    if (seenBody && key != "restart")
      return p.fail(t[0].column, "\"" + key + "\" belongs in the header, before the first instrument or pattern");
    if (key == "title") {
      if (t.size() != 2 || t[1].text.size() < 2 || t[1].text.front() != '"' || t[1].text.back() != '"')
        return p.fail(t.size() < 2 ? t[0].column : t[1].column, "title takes one quoted name");
      score.title = t[1].text.substr(1, t[1].text.size() - 2);
    } else if (key == "channels") {
      if (!one_value() || !p.integer(t[1], 1, 32, v, "channels")) return false;
      score.channels = static_cast<int>(v);
    } else if (key == "speed") {
      if (!one_value() || !p.integer(t[1], 1, 31, v, "speed")) return false;
      score.speed = static_cast<int>(v);
    } else if (key == "tempo") {
      if (!one_value() || !p.integer(t[1], 32, 255, v, "tempo")) return false;
      score.tempo = static_cast<int>(v);
    } else if (key == "frequencies") {
      if (!one_value()) return false;
      if (t[1].text != "linear" && t[1].text != "amiga") return p.fail(t[1].column, "frequencies linear or amiga");
      score.linear = t[1].text == "linear";
    } else if (key == "restart") {
      if (!one_value()) return false;
      if (std::isdigit(static_cast<unsigned char>(t[1].text[0])) && !p.integer(t[1], 0, 255, v, "restart position"))
        return false;
      score.restart = t[1].text;
      restartLine = p.line;
      restartColumn = t[1].column;
    } else {
      return p.fail(t[0].column, "unknown line \"" + key + "\"");
    }
  }
  if (where != Where::Header) {
    p.line = sectionLine;
    return p.fail(1, "this section has no \"end\"");
  }
  ++p.line;
  if (score.order.empty()) return p.fail(1, "the score has no order line");
  for (const std::string& name : score.order)
    if (!names.count("pattern:" + name)) return p.fail(1, "the order names pattern \"" + name + "\", which is not defined");
  if (!score.restart.empty()) {
    const int endLine = p.line;
    p.line = restartLine;
    if (!std::isdigit(static_cast<unsigned char>(score.restart[0]))) {
      if (std::find(score.order.begin(), score.order.end(), score.restart) == score.order.end())
        return p.fail(restartColumn, "restart pattern \"" + score.restart + "\" is not in the order");
    } else if (std::stoul(score.restart) >= score.order.size()) {
      return p.fail(restartColumn, "restart position " + score.restart + " beyond the " +
                                       std::to_string(score.order.size()) + " song positions");
    }
    p.line = endLine;
  }
  for (const ScorePattern& pat : score.patterns)
    for (const auto& row : pat.rows)
      for (const XmCell& c : row)
        if (c.instrument > score.instruments.size())
          return p.fail(1, "pattern \"" + pat.name + "\" uses instrument " + std::to_string(c.instrument) +
                               " of " + std::to_string(score.instruments.size()));
  return true;
}

bool score_to_xm(const Score& s, XmModule& m, std::string& error) {
  m = XmModule{};
  m.name = s.title.substr(0, 20);
  m.channels = static_cast<uint16_t>(s.channels);
  m.linear = s.linear;
  m.speed = static_cast<uint16_t>(s.speed);
  m.bpm = static_cast<uint16_t>(s.tempo);
  std::map<std::string, int> index;
  for (size_t i = 0; i < s.patterns.size(); ++i) index[s.patterns[i].name] = static_cast<int>(i);
  m.orders.clear();
  for (const std::string& name : s.order) {
    auto it = index.find(name);
    if (it == index.end()) return error = "the order names pattern \"" + name + "\", which is not defined", false;
    m.orders.push_back(static_cast<uint8_t>(it->second));
  }
  m.restart = 0;
  if (!s.restart.empty()) {
    if (std::isdigit(static_cast<unsigned char>(s.restart[0]))) {
      // Read with its range, so a position past 16 bits cannot wrap into the order.
      const unsigned long position = std::strtoul(s.restart.c_str(), nullptr, 10);
      if (position >= m.orders.size()) return error = "restart position beyond the order", false;
      m.restart = static_cast<uint16_t>(position);
    } else {
      auto it = std::find(s.order.begin(), s.order.end(), s.restart);
      if (it == s.order.end()) return error = "restart pattern \"" + s.restart + "\" is not in the order", false;
      m.restart = static_cast<uint16_t>(it - s.order.begin());
    }
    if (m.restart >= m.orders.size()) return error = "restart position beyond the order", false;
  }
  for (const ScorePattern& pat : s.patterns) {
    XmPattern xp;
    xp.rows = static_cast<uint16_t>(pat.rows.size());
    for (const auto& row : pat.rows) xp.cells.insert(xp.cells.end(), row.begin(), row.end());
    m.patterns.push_back(std::move(xp));
  }
  for (const ScoreInstrument& ins : s.instruments) {
    XmInstrument xi;
    xi.name = ins.name.substr(0, 22);
    XmSample sample;
    if (!synthesise(ins.synth, sample, error)) {
      const std::string where =
          ins.synthLine > 0 ? std::to_string(ins.synthLine) + ":" + std::to_string(ins.synthColumn) + ": " : "";
      return error = where + "instrument " + ins.name + ": " + error, false;
    }
    sample.volume = static_cast<uint8_t>(ins.volume);
    sample.panning = static_cast<uint8_t>(ins.panning);
    sample.relativeNote = static_cast<int8_t>(std::clamp(sample.relativeNote + ins.transpose, -96, 95));
    xi.samples.push_back(std::move(sample));
    for (const auto& [from, recipe] : ins.splits) {
      if (!synthesise(recipe, sample, error)) return error = "instrument " + ins.name + ": " + error, false;
      sample.volume = static_cast<uint8_t>(ins.volume);
      sample.panning = static_cast<uint8_t>(ins.panning);
      sample.relativeNote = static_cast<int8_t>(std::clamp(sample.relativeNote + ins.transpose, -96, 95));
      std::fill(xi.keyMap.begin() + (from - 1), xi.keyMap.end(), static_cast<uint8_t>(xi.samples.size()));
      xi.samples.push_back(std::move(sample));
    }
    auto envelope = [](const ScoreEnvelope& e, XmEnvelope& x) {
      if (e.points.empty()) return;
      x.points = e.points;
      x.on = true;
      if (e.sustain >= 0) x.sustain = true, x.sustainPoint = static_cast<uint8_t>(e.sustain);
      if (e.loopStart >= 0)
        x.loop = true, x.loopStart = static_cast<uint8_t>(e.loopStart), x.loopEnd = static_cast<uint8_t>(e.loopEnd);
    };
    envelope(ins.volumeEnvelope, xi.volume);
    envelope(ins.panningEnvelope, xi.panning);
    xi.fadeout = static_cast<uint16_t>(ins.fadeout);
    xi.vibratoType = static_cast<uint8_t>(ins.vibratoType);
    xi.vibratoSweep = static_cast<uint8_t>(ins.vibratoSweep);
    xi.vibratoDepth = static_cast<uint8_t>(ins.vibratoDepth);
    xi.vibratoRate = static_cast<uint8_t>(ins.vibratoRate);
    m.instruments.push_back(std::move(xi));
  }
  return true;
}
