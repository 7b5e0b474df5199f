// Any bytes as a PNG and as a font strip: the reader refuses them with a cause or gives the
// pixels its header declares (never more than the limits, checked before allocating); a
// strip read is then held to the strip's rules, and the show's glyph scan stays inside it.
#include <cstdlib>
#include <span>

#include "tools/common/png_io.h"
#include "tools/font/strip_png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
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
  for (uint8_t level : strip.levels)
    if (level > 15) std::abort();
  for (const StripGlyph& g : scan_strip(strip, StripMaxGlyphs))
    if (g.start < 0 || g.end < g.start || g.end > strip.width) std::abort();
  if (!check_strip(strip, 238, error) && error.empty()) std::abort();
  return 0;
}
