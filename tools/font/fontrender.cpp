// fontrender: makes the show's font strip from an outline font with FreeType (tool side
// only; the show never links FreeType).
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/font/cp437.h"
#include "tools/font/strip_png.h"

namespace {

const char* const Usage =
    "usage: fontrender FONT.ttf -o STRIP.png [--size PX] [--last-code N]\n"
    "\n"
    "Draws codes 32 to N (default 238) of code page 437 from the font, anti-aliased, into a\n"
    "52-row strip of coverage levels 0..15 (an 8-bit grey PNG, level x 17): ink in rows 1 to\n"
    "38, glyphs side by side two empty columns apart, at most 28 pixels wide (wider ones are\n"
    "narrowed), a level-1 bridge pixel across any empty column inside a glyph, and a small box\n"
    "for a character the font lacks. --size is the font's pixel size (default 28).\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "fontrender: %s\n", message.c_str());
  return 1;
}

bool parse_int(const std::string& text, int low, int high, int& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

// ---- render ---------------------------------------------------------------------------

constexpr int MaxWidth = 28;

struct GlyphImage {
  int width = 0;
  std::vector<uint8_t> levels;  // StripRows x width
  uint8_t& at(int x, int y) { return levels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// The glyph of `c` rendered at `baseline` (strip row of the baseline), cropped to its ink
// columns, levels 0..15; width 0 when the font has no ink for it. x_scale narrows it.
GlyphImage render_glyph(FT_Face face, char32_t c, int baseline, double x_scale, int& clipped) {
  GlyphImage g;
  const FT_UInt index = FT_Get_Char_Index(face, c);
  if (index == 0) return g;
  FT_Matrix m = {static_cast<FT_Fixed>(x_scale * 65536.0), 0, 0, 0x10000};
  FT_Set_Transform(face, &m, nullptr);
  if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return g;
  const FT_Bitmap& b = face->glyph->bitmap;
  if (b.pixel_mode != FT_PIXEL_MODE_GRAY || b.width == 0) return g;
  const int cols = static_cast<int>(b.width);
  std::vector<uint8_t> full(static_cast<size_t>(StripRows) * static_cast<size_t>(cols), 0);
  const int top = baseline - face->glyph->bitmap_top + 1;
  for (int y = 0; y < static_cast<int>(b.rows); ++y) {
    for (int x = 0; x < cols; ++x) {
      const uint8_t level = grey_to_level(b.buffer[y * b.pitch + x]);
      if (level == 0) continue;
      const int row = top + y;
      if (row < StripFirstInkRow || row > StripLastInkRow) {
        ++clipped;
        continue;
      }
      full[static_cast<size_t>(row) * static_cast<size_t>(cols) + static_cast<size_t>(x)] = level;
    }
  }
  auto column_ink = [&](int x) {
    for (int y = 0; y < StripRows; ++y)
      if (full[static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(x)] != 0) return true;
    return false;
  };
  int first = 0, last = cols - 1;
  while (first < cols && !column_ink(first)) ++first;
  while (last >= first && !column_ink(last)) --last;
  if (first > last) return g;
  g.width = last - first + 1;
  g.levels.assign(static_cast<size_t>(StripRows) * static_cast<size_t>(g.width), 0);
  for (int y = 0; y < StripRows; ++y)
    for (int x = 0; x < g.width; ++x) g.at(x, y) = full[static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(first + x)];
  return g;
}

// The stand-in for a character the font lacks: a small box on the baseline.
GlyphImage missing_box(int baseline) {
  GlyphImage g;
  g.width = 9;
  g.levels.assign(static_cast<size_t>(StripRows) * 9, 0);
  for (int y = baseline - 13; y <= baseline; ++y)
    for (int x = 0; x < 9; ++x)
      if (y == baseline - 13 || y == baseline || x < 2 || x > 6) g.at(x, y) = 15;
  return g;
}

// Joins the parts of a glyph split by empty columns with one level-1 pixel per empty
// column, in the middle row of the ink on its left.
void bridge(GlyphImage& g) {
  int last_top = -1, last_bottom = -1;
  for (int x = 0; x < g.width; ++x) {
    int top = -1, bottom = -1;
    for (int y = 0; y < StripRows; ++y) {
      if (g.at(x, y) != 0) {
        if (top < 0) top = y;
        bottom = y;
      }
    }
    if (top >= 0) {
      last_top = top;
      last_bottom = bottom;
    } else {
      g.at(x, (last_top + last_bottom) / 2) = 1;
    }
  }
}

int render(const std::string& font_path, const std::string& out, int size, int last_code) {
  FT_Library library;
  if (FT_Init_FreeType(&library) != 0) return fail("cannot start FreeType");
  FT_Face face;
  if (FT_New_Face(library, font_path.c_str(), 0, &face) != 0) return fail(font_path + ": not a font FreeType can read");
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) return fail("cannot set the pixel size");

  // The baseline: the highest ink of any glyph (accented capitals) lands in row 1.
  int highest = 0;
  for (int code = 33; code <= last_code; ++code) {
    const FT_UInt index = FT_Get_Char_Index(face, cp437_to_unicode(code));
    if (index != 0 && FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) == 0) {
      highest = std::max(highest, static_cast<int>(face->glyph->bitmap_top));
    }
  }
  const int baseline = highest;  // row of the baseline's last ink row (bitmap_top counts from it)

  StripLevels strip;
  strip.height = StripRows;
  std::vector<GlyphImage> glyphs;
  std::vector<int> missing, narrowed;
  int clipped_total = 0;
  for (int code = StripFirstCode; code <= last_code; ++code) {
    GlyphImage g;
    if (code == 32) {
      // Never drawn (spaces are advances); a faint mark the width of a menu space.
      g.width = 10;
      g.levels.assign(static_cast<size_t>(StripRows) * 10, 0);
      for (int x = 0; x < 10; ++x) g.at(x, baseline) = 1;
    } else {
      int clipped = 0;
      g = render_glyph(face, cp437_to_unicode(code), baseline, 1.0, clipped);
      for (double scale = 0.97; g.width > MaxWidth && scale > 0.3; scale -= 0.03) {
        clipped = 0;
        g = render_glyph(face, cp437_to_unicode(code), baseline, scale, clipped);
        if (g.width <= MaxWidth) narrowed.push_back(code);
      }
      clipped_total += clipped;
      if (g.width == 0) {
        g = missing_box(baseline);
        missing.push_back(code);
      }
      if (g.width < 2) {  // widen a one-column glyph with a faint column
        GlyphImage w;
        w.width = 2;
        w.levels.assign(static_cast<size_t>(StripRows) * 2, 0);
        for (int y = 0; y < StripRows; ++y) {
          w.at(0, y) = g.at(0, y);
          w.at(1, y) = g.at(0, y) != 0 ? 1 : 0;
        }
        g = w;
      }
      bridge(g);
    }
    glyphs.push_back(g);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  for (const GlyphImage& g : glyphs) strip.width += g.width + StripGlyphGap;
  strip.levels.assign(static_cast<size_t>(strip.width) * StripRows, 0);
  int x0 = 0;
  for (GlyphImage& g : glyphs) {
    for (int y = 0; y < StripRows; ++y)
      for (int x = 0; x < g.width; ++x) strip.levels[static_cast<size_t>(y) * static_cast<size_t>(strip.width) + static_cast<size_t>(x0 + x)] = g.at(x, y);
    x0 += g.width + StripGlyphGap;
  }
  std::string error;
  if (!check_strip(strip, last_code, error)) return fail("the rendered strip breaks a rule: " + error);
  if (!write_strip_png(out, strip, error)) return fail(error);
  std::printf("%s: %d x %d, codes 32 to %d, baseline row %d\n", out.c_str(), strip.width, strip.height, last_code,
              baseline);
  auto list = [](const char* what, const std::vector<int>& codes) {
    if (codes.empty()) return;
    std::printf("%s:", what);
    for (int c : codes) std::printf(" %d", c);
    std::printf("\n");
  };
  list("narrowed to 28 pixels", narrowed);
  list("not in the font (small box)", missing);
  if (clipped_total > 0) std::printf("%d ink pixels outside rows 1 to 38 left out\n", clipped_total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(Usage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  std::string font, out;
  int size = 28, last_code = 238;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "-o" && has_value) {
      out = args[++i];
    } else if (a == "--size") {
      if (!has_value || !parse_int(args[++i], 6, 64, size)) return fail("--size takes 6 to 64");
    } else if (a == "--last-code") {
      if (!has_value || !parse_int(args[++i], 33, 255, last_code)) return fail("--last-code takes 33 to 255");
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option or missing value '" + a + "' (try --help)");
    } else if (font.empty()) {
      font = a;
    } else {
      return fail("one font only (try --help)");
    }
  }
  if (font.empty() || out.empty()) return fail("need FONT.ttf and -o STRIP.png (try --help)");
  return render(font, out, size, last_code);
}
