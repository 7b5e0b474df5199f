// Any bytes as UTF-8 text on its way to code page 437: decoding stops at a malformed
// sequence it can place, every character it gives is a Unicode scalar at a rising offset,
// and every code page character found goes back to the same character.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/font/cp437.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The beginning of a long seed (the scroll text, a score) says as much as the whole of it.
  const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4096));
  std::vector<Utf8Char> chars;
  size_t bad = 0;
  const bool ok = decode_utf8(text, chars, bad);
  if (!ok) {
    if (bad >= text.size()) std::abort();
    const TextPlace p = text_place(text, bad);
    if (p.line < 1 || p.column < 1) std::abort();
  }
  size_t last = 0;
  for (size_t i = 0; i < chars.size(); ++i) {
    const Utf8Char& u = chars[i];
    if (u.c > 0x10FFFF || (u.c >= 0xD800 && u.c <= 0xDFFF)) std::abort();
    if (u.offset >= text.size() || (i > 0 && u.offset <= last)) std::abort();
    last = u.offset;
    const int code = unicode_to_cp437(u.c);
    if (code >= 32 && cp437_to_unicode(code) != u.c) std::abort();
    if (code > 255) std::abort();
  }
  return 0;
}
