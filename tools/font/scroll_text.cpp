#include "tools/font/scroll_text.h"

#include <cstdio>

#include "tools/font/cp437.h"

bool convert_scroll_text(const std::string& text, const std::string& name, std::vector<uint8_t>& bytes,
                         std::vector<std::string>& problems) {
  const size_t problems_before = problems.size();
  std::vector<Utf8Char> chars;
  size_t bad = 0;
  if (!decode_utf8(text, chars, bad)) {
    const TextPlace p = text_place(text, bad);
    problems.push_back(name + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": not UTF-8");
    return false;
  }
  bool printable = false;
  // The place of each character, counted along in one pass (the text may be long).
  TextPlace p{1, 0};
  unsigned char last_shown = ' ';  // the last byte the scroller draws or spaces by
  for (const Utf8Char& u : chars) {
    ++p.column;
    const auto where = [&] { return name + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": "; };
    if (u.c == '\n') {
      if (printable && last_shown != ' ') bytes.push_back(' ');
      last_shown = ' ';
      bytes.push_back('\n');
      ++p.line;
      p.column = 0;
      continue;
    }
    if (u.c == '\r') continue;
    if (u.c < 32) {
      problems.push_back(where() + "control character " + std::to_string(static_cast<unsigned>(u.c)));
      continue;
    }
    const int code = unicode_to_cp437(u.c);
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(u.c));
    if (code < 0) {
      problems.push_back(where() + "character " + hex + " has no code page 437 code");
      continue;
    }
    if (code > LastGlyphCode) {
      problems.push_back(where() + "character " + hex + " (code " + std::to_string(code) + ") has no glyph in the font");
      continue;
    }
    bytes.push_back(static_cast<unsigned char>(code));
    last_shown = static_cast<unsigned char>(code);
    printable = true;
  }
  if (!printable && problems.size() == problems_before)
    problems.push_back(name + ": the text needs at least one character to show");
  return problems.size() == problems_before;
}
