#include "tools/common/png_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
enum Colour : uint8_t { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };

uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

struct Header {
  uint32_t width = 0, height = 0;
  uint8_t depth = 0, colour = 0, interlace = 0;

  int channels() const {
    switch (colour) {
      case Rgb: return 3;
      case GreyAlpha: return 2;
      case Rgba: return 4;
      default: return 1;
    }
  }
  bool valid() const {
    switch (colour) {
      case Grey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
      case Palette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
      case Rgb:
      case GreyAlpha:
      case Rgba: return depth == 8 || depth == 16;
      default: return false;
    }
  }
  size_t pixel_bytes() const { return std::max<size_t>(1, size_t(channels()) * depth / 8); }
  uint64_t row_bytes(uint64_t w) const { return (w * uint64_t(channels()) * depth + 7) / 8; }
};

// The transparency a tRNS chunk gives: one colour (raw samples) or an alpha per palette entry.
struct Transparency {
  bool colour = false;
  uint16_t key[3] = {0, 0, 0};
  std::array<uint8_t, 256> alphas;
  Transparency() { alphas.fill(255); }
};

// One of the seven passes of an interlaced picture: its first pixel and its steps.
struct Pass {
  uint32_t x0, y0, dx, dy;
  uint64_t width(uint32_t w) const { return w > x0 ? (w - x0 + dx - 1) / dx : 0; }
  uint64_t height(uint32_t h) const { return h > y0 ? (h - y0 + dy - 1) / dy : 0; }
};
constexpr Pass Adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass Whole[1] = {{0, 0, 1, 1}};

uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the row filters of one pass in place: `rows` rows, each a filter byte and `stride`
// bytes. False on an unknown filter.
bool unfilter(uint8_t* at, uint64_t rows, size_t stride, size_t bpp) {
  const uint8_t* above = nullptr;
  for (uint64_t y = 0; y < rows; ++y, at += stride + 1) {
    const uint8_t filter = at[0];
    uint8_t* row = at + 1;
    if (filter > 4) return false;
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0, b = above ? above[i] : 0, c = above && i >= bpp ? above[i - bpp] : 0;
      const int add = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : filter == 4 ? paeth(a, b, c) : 0;
      row[i] = static_cast<uint8_t>(row[i] + add);
    }
    above = row;
  }
  return true;
}

// Sample `i` of a row of `depth`-bit samples.
uint16_t sample(const uint8_t* row, uint64_t i, int depth) {
  if (depth == 16) return be16(row + 2 * i);
  if (depth == 8) return row[i];
  const uint64_t bit = i * uint64_t(depth);
  return static_cast<uint16_t>((row[bit / 8] >> (8 - depth - bit % 8)) & ((1 << depth) - 1));
}

// A 16-bit sample of linear light as an 8-bit one for the screen (gamma 1/2.2), the way
// libpng's simple reader makes it: the sample cut to its top 11 bits, each of which gives the
// first 8-bit value whose light, with half a step of 16 bits more, reaches it.
uint8_t encoded_from_linear(uint16_t v) {
  static const std::array<uint8_t, 2048> table = [] {
    std::array<uint8_t, 2048> t{};
    size_t next = 0;
    for (uint32_t out = 0; out < 255; ++out) {
      const double light = std::floor(65535.0 * std::pow((out * 257 + 128) / 65535.0, 2.2) + 0.5);
      const size_t bound = std::min<size_t>(t.size(), (static_cast<size_t>(light) * 2047 + 32768) / 65535 + 1);
      for (; next < bound; ++next) t[next] = static_cast<uint8_t>(out);
    }
    for (; next < t.size(); ++next) t[next] = 255;
    return t;
  }();
  return table[v >> 5];
}

uint8_t to8(uint16_t v, int depth) {
  if (depth == 16) return encoded_from_linear(v);
  return static_cast<uint8_t>(v * 255 / ((1 << depth) - 1));
}

}  // namespace

std::string png_size_refusal(const std::string& name, uint64_t width, uint64_t height, int32_t max_width,
                             int32_t max_height) {
  const bool too_wide = max_width > 0 && width > uint64_t(max_width);
  const bool too_tall = max_height > 0 && height > uint64_t(max_height);
  if (!too_wide && !too_tall && width * height <= PngMaxPixels) return {};
  std::string error = name + ": the picture is " + std::to_string(width) + " x " + std::to_string(height) + "; ";
  if ((too_wide || too_tall) && max_width == max_height)
    return error + "at most " + std::to_string(max_width) + " on either side is accepted";
  if (too_wide || too_tall)
    return error + "at most " + (max_width > 0 ? std::to_string(max_width) : std::string("any")) + " wide and " +
           (max_height > 0 ? std::to_string(max_height) : std::string("any")) + " high is accepted";
  return error + "at most " + std::to_string(PngMaxPixels) + " pixels are accepted";
}

bool inflate_png(std::span<const uint8_t> bytes, const std::string& name, RgbImage& image, std::string& error,
                 int32_t max_width, int32_t max_height) {
  auto refuse = [&](const std::string& why) {
    error = name + ": " + why;
    return false;
  };
  if (bytes.size() < 8 || std::memcmp(bytes.data(), Signature, 8) != 0) return refuse("not a PNG file");
  Header h;
  Transparency trns;
  std::vector<uint8_t> palette;  // RGB triples
  std::vector<uint8_t> packed;   // the IDAT chunks' data, one zlib stream
  bool header = false, ended = false;
  size_t at = 8;
  // A file that ends after its image data without an end chunk is read, as libpng reads it.
  while (!ended && !(at == bytes.size() && !packed.empty())) {
    if (bytes.size() - at < 12) return refuse("the file is cut short");
    const uint32_t length = be32(&bytes[at]);
    if (length > bytes.size() - at - 12) return refuse("the file is cut short");
    const uint8_t* type = &bytes[at + 4];
    const uint8_t* data = type + 4;
    const std::string kind(reinterpret_cast<const char*>(type), 4);
    const bool critical = !(type[0] & 0x20);
    at += 12 + size_t{length};
    if (crc32(crc32(0, type, 4), data, length) != be32(data + length)) {
      if (critical) return refuse("the " + kind + " chunk is damaged (its CRC does not match)");
      continue;
    }
    if (!header && kind != "IHDR") return refuse("the file does not start with a header (IHDR)");
    if (kind == "IHDR") {
      if (header || length != 13) return refuse("a damaged header (IHDR)");
      header = true;
      h = {be32(data), be32(data + 4), data[8], data[9], data[12]};
      if (h.width == 0 || h.height == 0 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF)
        return refuse("the header gives a size of " + std::to_string(h.width) + " x " + std::to_string(h.height));
      if (!h.valid()) return refuse("an unknown kind of PNG (colour type " + std::to_string(h.colour) + ", " +
                                    std::to_string(h.depth) + " bits)");
      if (data[10] != 0 || data[11] != 0 || h.interlace > 1) return refuse("an unknown compression, filter or interlace method");
      if (std::string why = png_size_refusal(name, h.width, h.height, max_width, max_height); !why.empty()) {
        error = why;
        return false;
      }
    } else if (kind == "PLTE") {
      if (length == 0 || length % 3 != 0 || length / 3 > (1u << h.depth) || !packed.empty())
        return refuse("a damaged palette (PLTE)");
      palette.assign(data, data + length);
    } else if (kind == "tRNS") {
      if (h.colour == Palette) {
        if (length > palette.size() / 3) return refuse("more palette alphas (tRNS) than colours");
        std::copy(data, data + length, trns.alphas.begin());
      } else if ((h.colour == Grey && length == 2) || (h.colour == Rgb && length == 6)) {
        trns.colour = true;
        for (uint32_t i = 0; i < length / 2; ++i) trns.key[i] = be16(data + 2 * i);
      }
    } else if (kind == "IDAT") {
      packed.insert(packed.end(), data, data + length);
    } else if (kind == "IEND") {
      ended = true;
    } else if (critical) {
      return refuse("an unknown critical chunk " + kind);
    }
  }
  if (h.colour == Palette && palette.empty()) return refuse("a palette picture without a palette (PLTE)");
  if (packed.empty()) return refuse("no image data (IDAT)");

  // The inflated size, from the header: every pass's rows with their filter bytes.
  std::span<const Pass> passes = h.interlace ? std::span<const Pass>(Adam7) : std::span<const Pass>(Whole);
  uint64_t expected = 0;
  for (const Pass& p : passes)
    if (p.width(h.width) > 0) expected += p.height(h.height) * (1 + h.row_bytes(p.width(h.width)));
  // Deflate packs at most 1032 bytes into one: a header claiming more rows than its data can
  // hold is refused before their memory is taken.
  if (expected / 1032 > packed.size() + 64) return refuse("too little image data");
  std::vector<uint8_t> raw(static_cast<size_t>(expected));
  // At most 2^28 pixels of 8 bytes with their rows' filter bytes: the sizes fit zlib's 32 bits.
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return refuse("cannot start inflating");
  z.next_in = packed.data();
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = raw.data();
  z.avail_out = static_cast<uInt>(raw.size());
  const int result = inflate(&z, Z_FINISH);
  const std::string why = z.msg ? z.msg : "";
  inflateEnd(&z);
  if (result == Z_DATA_ERROR || result == Z_NEED_DICT) return refuse("damaged image data (" + why + ")");
  if (z.avail_out > 0) return refuse("too little image data");
  image.width = static_cast<int32_t>(h.width);
  image.height = static_cast<int32_t>(h.height);
  image.pixels.assign(uint64_t{h.width} * h.height, 0);
  const int channels = h.channels();
  uint8_t* pass_data = raw.data();
  for (const Pass& p : passes) {
    const uint64_t w = p.width(h.width), rows = p.height(h.height);
    if (w == 0 || rows == 0) continue;
    const size_t stride = static_cast<size_t>(h.row_bytes(w));
    if (!unfilter(pass_data, rows, stride, h.pixel_bytes())) return refuse("an unknown row filter");
    for (uint64_t y = 0; y < rows; ++y) {
      const uint8_t* row = pass_data + y * (stride + 1) + 1;
      for (uint64_t x = 0; x < w; ++x) {
        uint16_t s[4] = {0, 0, 0, 0};
        for (int c = 0; c < channels; ++c) s[c] = sample(row, x * uint64_t(channels) + uint64_t(c), h.depth);
        uint8_t rgba[4];
        if (h.colour == Palette) {
          if (size_t{s[0]} * 3 >= palette.size()) return refuse("a pixel names a colour the palette does not have");
          std::memcpy(rgba, &palette[size_t{s[0]} * 3], 3);
          rgba[3] = trns.alphas[s[0]];
        } else {
          const bool grey = h.colour == Grey || h.colour == GreyAlpha;
          const int alpha = h.colour == GreyAlpha ? 1 : h.colour == Rgba ? 3 : -1;
          for (int c = 0; c < 3; ++c) rgba[c] = to8(s[grey ? 0 : c], h.depth);
          // Alpha is a straight fraction, never light: scaled, not given the sRGB curve.
          rgba[3] = alpha < 0 ? 255 : h.depth == 16 ? static_cast<uint8_t>((s[alpha] * 255u + 32767u) / 65535u) : s[alpha];
          if (trns.colour && s[0] == trns.key[0] && (grey || (s[1] == trns.key[1] && s[2] == trns.key[2]))) rgba[3] = 0;
        }
        auto over_black = [&](uint8_t c) { return static_cast<uint32_t>((c * rgba[3] + 127) / 255); };
        image.pixels[(p.y0 + y * p.dy) * h.width + p.x0 + x * p.dx] =
            over_black(rgba[0]) << 16 | over_black(rgba[1]) << 8 | over_black(rgba[2]);
      }
    }
    pass_data += rows * (stride + 1);
  }
  return true;
}
