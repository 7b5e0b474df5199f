#include "render/strip_rules.h"

namespace {

bool column_empty(const StripLevels& s, int32_t x) {
  if (x >= s.width) return true;
  for (int32_t y = 0; y < s.height; ++y) {
    if (s.at(x, y) != 0) return false;
  }
  return true;
}

std::string columns(const StripGlyph& g) {
  return "columns " + std::to_string(g.start) + "-" + std::to_string(g.end - 1);
}

}  // namespace

std::vector<StripGlyph> scan_strip(const StripLevels& strip, size_t limit) {
  std::vector<StripGlyph> glyphs;
  int32_t c = 0;
  while (c < strip.width && glyphs.size() < limit) {
    while (c < strip.width && column_empty(strip, c)) ++c;
    const int32_t start = c;
    while (c < strip.width && !column_empty(strip, c)) ++c;
    glyphs.push_back({start, c});
  }
  return glyphs;
}

std::string glyph_name(int32_t code) {
  std::string name = "code " + std::to_string(code);
  if (code > 32 && code < 127) name += std::string(" '") + static_cast<char>(code) + "'";
  return name;
}

bool check_strip(const StripLevels& strip, int32_t last_code, std::string& error) {
  if (strip.height != StripRows) {
    error = "the strip is " + std::to_string(strip.height) + " rows high; it must be " + std::to_string(StripRows);
    return false;
  }
  if (strip.width < 1 || strip.width > 65535) {
    error = "the strip is " + std::to_string(strip.width) + " columns wide; it must be 1 to 65535";
    return false;
  }
  for (size_t i = 0; i < strip.levels.size(); ++i) {
    if (strip.levels[i] > 15) {
      error = "a pixel in row " + std::to_string(i / strip.width) + " (column " + std::to_string(i % strip.width) +
              ") has level " + std::to_string(strip.levels[i]) + "; levels run from 0 to 15";
      return false;
    }
  }
  const std::vector<StripGlyph> glyphs = scan_strip(strip);
  // The glyph holding column x, for naming where a rule breaks.
  auto glyph_at = [&](int32_t x) -> std::string {
    for (size_t g = 0; g < glyphs.size(); ++g) {
      if (x >= glyphs[g].start && x < glyphs[g].end) {
        return "glyph for " + glyph_name(StripFirstCode + static_cast<int32_t>(g)) + " (" + columns(glyphs[g]) + ")";
      }
    }
    return "column " + std::to_string(x);
  };
  for (int32_t y = 0; y < strip.height; ++y) {
    if (y >= StripFirstInkRow && y <= StripLastInkRow) continue;
    for (int32_t x = 0; x < strip.width; ++x) {
      if (strip.at(x, y) != 0) {
        error = glyph_at(x) + ": a pixel in row " + std::to_string(y) + " (column " + std::to_string(x) +
                "); glyph pixels must lie in rows 1 to 38";
        return false;
      }
    }
  }
  const bool trailing = !glyphs.empty() && glyphs.back().start == glyphs.back().end;
  const size_t drawn = glyphs.size() - (trailing ? 1 : 0);
  if (glyphs.size() > static_cast<size_t>(StripMaxGlyphs)) {
    error = "the strip holds " + std::to_string(glyphs.size()) + " glyphs" +
            (trailing ? " (the empty end counts as one)" : "") + "; at most 256 fit the font's tables";
    return false;
  }
  for (size_t g = 0; g < drawn; ++g) {
    const StripGlyph& glyph = glyphs[g];
    const int32_t code = StripFirstCode + static_cast<int32_t>(g);
    if (glyph.end - glyph.start > StripMaxGlyphWidth) {
      error = "glyph for " + glyph_name(code) + " (" + columns(glyph) + ") is " + std::to_string(glyph.end - glyph.start) +
              " pixels wide; at most 64 fit the scroller";
      return false;
    }
    if (g + 1 < drawn && glyphs[g + 1].start - glyph.end < StripGlyphGap) {
      error = "glyph for " + glyph_name(code) + " (" + columns(glyph) + ") is split by the empty column " +
              std::to_string(glyph.end) + "; a glyph must not contain an empty column (bridge it with a level-1 "
              "pixel), and glyphs are kept two empty columns apart";
      return false;
    }
  }
  const size_t wanted = static_cast<size_t>(last_code - StripFirstCode + 1);
  if (drawn != wanted) {
    error = "the strip holds " + std::to_string(drawn) + " glyphs, codes 32 to " +
            std::to_string(StripFirstCode + static_cast<int32_t>(drawn) - 1) + "; the show needs codes 32 to " +
            std::to_string(last_code) + " (" + std::to_string(wanted) + " glyphs): a glyph is missing, or one is "
            "split by two or more empty columns";
    return false;
  }
  return true;
}
