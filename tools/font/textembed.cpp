// md-textembed TEXT.txt OUT.cpp NAME
// Converts a UTF-8 text into code page 437 bytes and writes the C++ source of a
// NUL-terminated `const unsigned char NAME[]`. A character the code page (or the font,
// whose glyphs end at code 238) lacks fails the build with its line and column. A line
// break is kept (the scroller ignores it) with a space before it unless the text shown so
// far already ends in one, so a line break reads as one word gap, and an empty line (a
// paragraph break) as no more than that.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/font/cp437.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "md-textembed: %s\n", message.c_str());
  return 1;
}

constexpr int LastGlyphCode = 238;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: md-textembed TEXT.txt OUT.cpp NAME\n");
    return 2;
  }
  const std::string in_path = argv[1];
  const std::string out_path = argv[2];
  const std::string name = argv[3];
  std::vector<uint8_t> raw;
  std::string error;
  if (!read_input(in_path, raw, error, TextInput)) return fail(error);
  const std::string text(raw.begin(), raw.end());

  std::vector<Utf8Char> chars;
  size_t bad = 0;
  if (!decode_utf8(text, chars, bad)) {
    const TextPlace p = text_place(text, bad);
    return fail(in_path + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": not UTF-8");
  }
  std::vector<unsigned char> bytes;
  bool printable = false;
  // The place of each character, counted along in one pass (the text may be long).
  TextPlace p{1, 0};
  unsigned char last_shown = ' ';  // the last byte the scroller draws or spaces by
  for (const Utf8Char& u : chars) {
    ++p.column;
    const std::string where = in_path + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
    if (u.c == '\n') {
      if (printable && last_shown != ' ') bytes.push_back(' ');
      last_shown = ' ';
      bytes.push_back('\n');
      ++p.line;
      p.column = 0;
      continue;
    }
    if (u.c == '\r') continue;
    if (u.c < 32) return fail(where + "control character " + std::to_string(static_cast<unsigned>(u.c)));
    const int code = unicode_to_cp437(u.c);
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(u.c));
    if (code < 0) return fail(where + "character " + hex + " has no code page 437 code");
    if (code > LastGlyphCode) {
      return fail(where + "character " + hex + " (code " + std::to_string(code) + ") has no glyph in the font");
    }
    bytes.push_back(static_cast<unsigned char>(code));
    last_shown = static_cast<unsigned char>(code);
    printable = true;
  }
  if (!printable) return fail(in_path + ": the text needs at least one character to show");

  std::string out = "// Made by md-textembed from " + in_path + "; not edited by hand.\n\nextern const unsigned char " +
                    name + "[] = {";
  bytes.push_back(0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 24 == 0) out += "\n";
    out += std::to_string(bytes[i]) + ",";
  }
  out += "\n};\n";
  if (!write_whole_output(out_path, std::span(reinterpret_cast<const uint8_t*>(out.data()), out.size()), error))
    return fail(error);
  return 0;
}
