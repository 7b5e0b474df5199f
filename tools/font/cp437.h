// Code page 437: the character set of the show's texts, and UTF-8 decoding for the tools
// that turn editable text into it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The Unicode character shown at code page 437 code `code` (0 to 255). Codes 32 to 126 are
// ASCII; 127 is the house sign; 0 to 31 give 0 (the tools treat them as control bytes).
char32_t cp437_to_unicode(int code);

// The code page 437 code of a Unicode character, or -1 when the code page has none.
int unicode_to_cp437(char32_t c);

// One decoded character of a UTF-8 text and the byte offset where it starts.
struct Utf8Char {
  char32_t c;
  size_t offset;
};

// Decodes UTF-8. On a malformed sequence returns false and sets `bad_offset`.
bool decode_utf8(const std::string& text, std::vector<Utf8Char>& out, size_t& bad_offset);

// Line and column (both from 1, columns counted in characters) of byte `offset` of `text`.
struct TextPlace {
  int line, column;
};
TextPlace text_place(const std::string& text, size_t offset);
