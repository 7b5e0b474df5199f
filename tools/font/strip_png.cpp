#include "tools/font/strip_png.h"

#include "tools/common/png_io.h"

namespace {

// The widest strip the font's tables can hold: every glyph at its widest with its gap.
constexpr int32_t StripMaxWidth = StripMaxGlyphs * (StripMaxGlyphWidth + StripGlyphGap);

void levels_of(const RgbImage& image, StripLevels& strip) {
  strip.width = image.width;
  strip.height = image.height;
  strip.levels.resize(image.pixels.size());
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const uint32_t p = image.pixels[i];
    const uint32_t grey = (((p >> 16) & 0xff) * 77 + ((p >> 8) & 0xff) * 150 + (p & 0xff) * 29 + 128) >> 8;
    strip.levels[i] = grey_to_level(grey);
  }
}

}  // namespace

bool read_strip_png(const std::string& path, StripLevels& strip, std::string& error) {
  RgbImage image;
  if (!read_png(path, image, error, StripMaxWidth, StripRows)) return false;
  levels_of(image, strip);
  return true;
}

bool decode_strip_png(std::span<const uint8_t> bytes, const std::string& name, StripLevels& strip,
                      std::string& error) {
  RgbImage image;
  if (!decode_png(bytes, name, image, error, StripMaxWidth, StripRows)) return false;
  levels_of(image, strip);
  return true;
}
