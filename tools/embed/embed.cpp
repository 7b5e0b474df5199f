// md-embed: the build step that turns the built-in data into C++ sources the program links.
// One mode per kind of data; each checks its input the way the show relies on it and fails
// the build naming the file and the place, writing nothing.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/font/scroll_text.h"
#include "tools/font/strip_png.h"
#include "tools/samplecodec/tune_pack.h"

namespace {

constexpr const char* Usage =
    "usage: md-embed MODE OUT.cpp ...\n"
    "\n"
    "  bytes OUT.cpp NAME=FILE ...    each file as `const unsigned char NAME[]` (four zero bytes\n"
    "                                 after the data) and `const unsigned long NAME_size`\n"
    "  font OUT.cpp STRIP.png LAST    the font strip, checked against the strip's rules for\n"
    "                                 codes 32 to LAST, as FontStrip\n"
    "  text OUT.cpp TEXT.txt NAME     a UTF-8 text as NUL-terminated code page 437 bytes\n"
    "  tunes OUT.cpp T01 ... T13      the thirteen packed tunes, tune 1 first, as StoredTunes\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing is written), 2 wrong usage.\n";

Cli TheCli{"md-embed", Usage};

// Bytes as the body of a C++ array, `per_line` values a line.
std::string array_body(const std::vector<uint8_t>& bytes, size_t per_line) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % per_line == 0) out += "\n";
    out += std::to_string(bytes[i]) + ",";
  }
  return out + "\n};\n";
}

bool embed_bytes(const std::vector<std::string>& args, std::string& out, std::string& error) {
  out = "// Made by md-embed from the files named below; not edited by hand.\n#include <cstddef>\n\n";
  for (const std::string& arg : args) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) cli_usage_error(TheCli, "'" + arg + "' is not NAME=FILE");
    const std::string name = arg.substr(0, eq), path = arg.substr(eq + 1);
    std::vector<uint8_t> data;
    if (!read_input(path, data, error, DataInput)) return false;
    data.insert(data.end(), 4, 0);
    out += "// " + path + "\nextern const unsigned long " + name + "_size = " + std::to_string(data.size() - 4) +
           ";\nalignas(16) extern const unsigned char " + name + "[] = {" + array_body(data, 24) + "\n";
  }
  return true;
}

bool embed_font(const std::string& in, const std::string& last, std::string& out, std::string& error) {
  long long last_code = 0;
  if (!cli_integer(last, 32, 286, last_code)) {
    error = "bad last code '" + last + "' (a whole number from 32 to 286)";
    return false;
  }
  StripLevels strip;
  if (!read_strip_png(in, strip, error)) return false;
  if (!check_strip(strip, static_cast<int32_t>(last_code), error)) {
    error = in + ": " + error;
    return false;
  }
  out = "// Made by md-embed from " + in + "; not edited by hand.\n#include \"assets/font_strip.h\"\n\n"
        "namespace {\nconst uint8_t Levels[] = {" + array_body(strip.levels, 40) +
        "}  // namespace\n\nextern const FontStripRecord FontStrip = {" + std::to_string(strip.width) + ", " +
        std::to_string(strip.height) + ", Levels};\n";
  return true;
}

// The text as the scroller's code page 437 bytes (tools/font/scroll_text.h), NUL-terminated;
// every character the font cannot draw is named.
bool embed_text(const std::string& in, const std::string& name, std::string& out, std::string& error) {
  std::vector<uint8_t> raw;
  if (!read_input(in, raw, error, TextInput)) return false;
  std::vector<uint8_t> bytes;
  std::vector<std::string> problems;
  if (!convert_scroll_text(std::string(raw.begin(), raw.end()), in, bytes, problems)) {
    for (size_t i = 0; i < problems.size(); ++i) error += (i > 0 ? "\n" : "") + problems[i];
    return false;
  }
  bytes.push_back(0);
  out = "// Made by md-embed from " + in + "; not edited by hand.\n\nextern const unsigned char " + name + "[] = {" +
        array_body(bytes, 24);
  return true;
}

bool embed_tunes(const std::vector<std::string>& paths, std::string& out, std::string& error) {
  if (paths.size() != TuneCount)
    cli_usage_error(TheCli, "tunes takes the " + std::to_string(TuneCount) + " packed tunes, not " +
                                std::to_string(paths.size()));
  std::vector<std::vector<uint8_t>> files(TuneCount);
  std::vector<PackedTuneView> views;
  for (int i = 0; i < TuneCount; ++i) {
    if (!read_input(paths[i], files[i], error, ModuleInput)) return false;
    const std::optional<PackedTuneView> view = read_packed_tune_file(files[i]);
    if (!view) {
      error = paths[i] + " (tune " + std::to_string(i + 1) + ") is not a whole packed tune";
      return false;
    }
    views.push_back(*view);
  }
  out = tune_data_source(lay_out_tune_data(std::span<const PackedTuneView, TuneCount>(views)));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1, {});
  if (a.positional.size() < 3) cli_usage_error(TheCli, "a mode, the output and its inputs are needed");
  const std::string& mode = a.positional[0];
  const std::string& output = a.positional[1];
  const std::vector<std::string> inputs(a.positional.begin() + 2, a.positional.end());
  std::string source, error;
  bool ok = false;
  if (mode == "bytes") {
    ok = embed_bytes(inputs, source, error);
  } else if (mode == "tunes") {
    ok = embed_tunes(inputs, source, error);
  } else if (mode == "font" || mode == "text") {
    if (inputs.size() != 2) cli_usage_error(TheCli, mode + " takes the output and two arguments");
    ok = mode == "font" ? embed_font(inputs[0], inputs[1], source, error)
                        : embed_text(inputs[0], inputs[1], source, error);
  } else {
    cli_usage_error(TheCli, "unknown mode \"" + mode + "\"");
  }
  if (!ok || !write_whole_output(output, std::span(reinterpret_cast<const uint8_t*>(source.data()), source.size()), error))
    return cli_fail(TheCli, error);
  return ExitOk;
}
