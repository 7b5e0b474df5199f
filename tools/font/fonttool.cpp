// fonttool: shows a font strip the way the show will draw it: every glyph on a contact
// sheet with its code, or any text as a menu label, a finished menu bar or a scroller line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render/font.h"
#include "render/framebuffer.h"
#include "render/menu_bars.h"
#include "tools/common/png_io.h"
#include "tools/font/cp437.h"
#include "tools/font/strip_png.h"

namespace {

const char* const Usage =
    "usage:\n"
    "  fonttool sheet STRIP.png -o SHEET.png [--scale N]\n"
    "  fonttool text STRIP.png TEXT -o OUT.png [--width N] [--bar tune|link] [--scroller]\n"
    "\n"
    "sheet writes every glyph of a strip in a grid, each with its code, scaled up (default 2).\n"
    "\n"
    "text draws TEXT (UTF-8) as the show would: centred and half bright, as a menu label is\n"
    "drawn (default; '#' stands for e with acute accent, codes from 128 up are skipped), or as\n"
    "the finished menu bar image (--bar, at focused brightness), or laid out flat as the\n"
    "scroller lays out its text (--scroller, accents shown). --width is the row length\n"
    "(default 400).\n"
    "\n"
    "The strip is the editable PNG (assets/font/font_strip.png), checked against the same\n"
    "rules as the build checks it.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "fonttool: %s\n", message.c_str());
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

// ---- sheet and text -------------------------------------------------------------------

// Builds Font from a strip picture after checking its rules.
bool load_font(const std::string& path, StripLevels& strip, std::string& error) {
  if (!read_strip_png(path, strip, error)) return false;
  // Whatever codes the strip holds, from 32 on.
  const std::vector<StripGlyph> glyphs = scan_strip(strip);
  const bool trailing = !glyphs.empty() && glyphs.back().start == glyphs.back().end;
  const auto drawn = static_cast<int32_t>(glyphs.size()) - (trailing ? 1 : 0);
  if (!check_strip(strip, StripFirstCode + drawn - 1, error)) {
    error = path + ": " + error;
    return false;
  }
  build_font_from(FontStripRecord{static_cast<uint16_t>(strip.width), static_cast<uint16_t>(strip.height), strip.levels.data()});
  return true;
}

// Digits 0-9 in 3 x 5 cells, one row of bits per digit row (bit 2 is the left column).
constexpr uint8_t Digits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
                                   {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

void draw_number(RgbImage& image, int x, int y, int number, uint32_t colour) {
  const std::string text = std::to_string(number);
  for (char ch : text) {
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c)
        if ((Digits[ch - '0'][r] >> (2 - c)) & 1) image.pixels[static_cast<size_t>(y + r) * static_cast<size_t>(image.width) + static_cast<size_t>(x + c)] = colour;
    x += 4;
  }
}

int sheet(const std::string& in, const std::string& out, int scale) {
  StripLevels strip;
  std::string error;
  if (!load_font(in, strip, error)) return fail(error);
  int widest = 0;
  for (int g = 0; g < Font.glyph_count; ++g) widest = std::max(widest, Font.glyph_end[g] - Font.glyph_start[g]);
  const int cell_w = std::max(widest, 14) + 6, cell_h = 40 + 8;  // glyph rows 0 to 38, then the code
  const int columns = 16;
  const int rows = (Font.glyph_count + columns - 1) / columns;
  RgbImage image;
  image.width = columns * cell_w * scale;
  image.height = rows * cell_h * scale;
  image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0x202020);
  std::vector<uint32_t> cell(static_cast<size_t>(64) * Font.height);
  for (int g = 0; g < Font.glyph_count; ++g) {
    const int code = Font.first_char + g;
    std::fill(cell.begin(), cell.end(), 0);
    const int w = blit_glyph(cell.data(), 64, code, 0, false);
    const int cx = (g % columns) * cell_w, cy = (g / columns) * cell_h;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < cell_w - 2; ++x) {
        const uint32_t p = x < w ? cell[static_cast<size_t>(y) * 64 + static_cast<size_t>(x)] : 0;
        for (int sy = 0; sy < scale; ++sy)
          for (int sx = 0; sx < scale; ++sx)
            image.pixels[static_cast<size_t>((cy + y) * scale + sy) * static_cast<size_t>(image.width) +
                         static_cast<size_t>((cx + 1 + x) * scale + sx)] = p;
      }
    // The code, drawn at the scaled size under the glyph.
    RgbImage label;
    label.width = cell_w;
    label.height = 7;
    label.pixels.assign(static_cast<size_t>(cell_w) * 7, 0x202020);
    draw_number(label, 1, 1, code, w == 0 ? 0xff6060 : 0xe0e0a0);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < cell_w; ++x)
        for (int sy = 0; sy < scale; ++sy)
          for (int sx = 0; sx < scale; ++sx)
            image.pixels[static_cast<size_t>((cy + 40 + y) * scale + sy) * static_cast<size_t>(image.width) +
                         static_cast<size_t>((cx + x) * scale + sx)] = label.pixels[static_cast<size_t>(y) * static_cast<size_t>(cell_w) + static_cast<size_t>(x)];
  }
  if (!write_png(out, image, error)) return fail(error);
  std::printf("%s: %d glyphs (codes %d to %d), %d x %d\n", out.c_str(), Font.glyph_count, Font.first_char,
              Font.first_char + Font.glyph_count - 1, image.width, image.height);
  return 0;
}

int text(const std::string& in, const std::string& utf8, const std::string& out, int width, const std::string& bar,
         bool scroller) {
  StripLevels strip;
  std::string error;
  if (!load_font(in, strip, error)) return fail(error);
  std::vector<Utf8Char> chars;
  size_t bad = 0;
  if (!decode_utf8(utf8, chars, bad)) return fail("the text is not UTF-8");
  std::string bytes;
  for (const Utf8Char& u : chars) {
    const int code = unicode_to_cp437(u.c);
    if (code < 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(u.c));
      return fail(std::string("character ") + hex + " has no code page 437 code");
    }
    bytes += static_cast<char>(code);
  }
  RgbImage image;
  image.width = width;
  std::vector<uint32_t> pixels;
  int32_t measure = measure_text(bytes.c_str());
  if (scroller) {
    // Flat, as the scroller lays text into its strip: spaces 17, glyphs 2 apart, unhalved.
    int32_t total = 0;
    for (unsigned char c : bytes) total += c == ' ' ? 17 : glyph_width(c) + 2;
    image.width = std::max(width, total + 8);
    pixels.assign(static_cast<size_t>(image.width) * 52, 0);
    int32_t x = 4;
    for (unsigned char c : bytes) x += c == ' ' ? 17 : blit_glyph(pixels.data(), image.width, c, x, false) + 2;
    image.height = 37;  // the rows the scroller shows
    measure = total;
  } else {
    if (measure > width) return fail("the text measures " + std::to_string(measure) + " pixels, more than the row's " +
                                     std::to_string(width));
    for (unsigned char c : bytes)
      if (c >= 128) std::fprintf(stderr, "fonttool: note: code %d is skipped in menu texts ('#' draws e acute)\n", c);
    if (bar.empty()) {
      pixels.assign(static_cast<size_t>(width) * 51, 0);
      draw_centred_text(bytes.c_str(), pixels.data(), width);
      image.height = 51;
    } else {
      if (bar != "tune" && bar != "link") return fail("--bar takes tune or link");
      set_frame_size(width, BarImageRows);
      pixels.assign(static_cast<size_t>(width) * BarImageRows, 0);
      Framebuffer.pixels = pixels.data();
      uint32_t* image_pixels = render_bar_image(bytes.c_str(), bar == "tune" ? TuneBarFrame : LinkBarFrame);
      overlay_bar_image(image_pixels, 0, 1);
      Framebuffer.pixels = nullptr;
      image.height = BarOverlayRows;
      pixels.resize(static_cast<size_t>(width) * BarOverlayRows);
    }
  }
  pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
  image.pixels = pixels;
  if (!write_png(out, image, error)) return fail(error);
  std::printf("%s: %d x %d, the text measures %d pixels\n", out.c_str(), image.width, image.height, measure);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(Usage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  std::vector<std::string> positional;
  std::string out, bar;
  int scale = 2, width = 400;
  bool scroller = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "-o") {
      if (!has_value) return fail("-o needs a file");
      out = args[++i];
    } else if (a == "--scale") {
      if (!has_value || !parse_int(args[++i], 1, 8, scale)) return fail("--scale takes 1 to 8");
    } else if (a == "--width") {
      if (!has_value || !parse_int(args[++i], 16, 4096, width)) return fail("--width takes 16 to 4096");
    } else if (a == "--bar") {
      if (!has_value) return fail("--bar takes tune or link");
      bar = args[++i];
    } else if (a == "--scroller") {
      scroller = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return fail("unknown option '" + a + "' (try --help)");
    } else {
      positional.push_back(a);
    }
  }
  if (out.empty()) return fail("missing -o OUT (try --help)");
  if (command == "sheet" && positional.size() == 1) return sheet(positional[0], out, scale);
  if (command == "text" && positional.size() == 2) return text(positional[0], positional[1], out, width, bar, scroller);
  return fail("bad command line (try --help)");
}
