// Any bytes as a PNG, as a font strip and as UTF-8 text: the PNG reader refuses them with a
// cause or gives the pixels its header declares, within its limits; a strip read is held to
// the strip's rules and its glyph scan stays inside it; text decoding stops inside the text at
// a malformed sequence, and gives Unicode scalars at rising offsets.
#include <algorithm>
#include <cstdlib>
#include <span>

#include "tools/common/png_io.h"
#include "tools/font/cp437.h"
#include "tools/font/strip_png.h"

namespace {

void check_text(const std::string& text) {
  std::vector<Utf8Char> chars;
  size_t bad = 0;
  if (!decode_utf8(text, chars, bad) && bad >= text.size()) std::abort();
  for (size_t i = 0; i < chars.size(); ++i) {
    const Utf8Char& u = chars[i];
    if (u.c > 0x10FFFF || (u.c >= 0xD800 && u.c <= 0xDFFF)) std::abort();
    if (u.offset >= text.size() || (i > 0 && u.offset <= chars[i - 1].offset)) std::abort();
    if (unicode_to_cp437(u.c) > 255) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  // The beginning of a long seed (the scroll text, a score) says as much as the whole of it.
  check_text(std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4096)));
  std::string error;
  RgbImage image;
  if (decode_png(bytes, "f.png", image, error, 4096, 4096)) {
    if (image.width <= 0 || image.height <= 0 || image.width > 4096 || image.height > 4096 ||
        image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
      std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  StripLevels strip;
  if (!decode_strip_png(bytes, "f.png", strip, error)) return 0;
  if (strip.height > StripRows || strip.levels.size() != static_cast<size_t>(strip.width) * static_cast<size_t>(strip.height))
    std::abort();
  for (const StripGlyph& g : scan_strip(strip, StripMaxGlyphs))
    if (g.start < 0 || g.end < g.start || g.end > strip.width) std::abort();
  if (!check_strip(strip, 238, error) && error.empty()) std::abort();
  return 0;
}
