#include "render/menu_bars.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "assets/disk.h"
#include "platform/blocks.h"
#include "render/font.h"
#include "render/framebuffer.h"

uint32_t* TuneBarImages[15] = {};
uint32_t* LinkBarImages[18] = {};

namespace {

// The label is drawn and shrunk in `scratch` (count pixels), and only the lit pixels of
// the result are written into the new block, which comes zero-filled: its black pages are
// never touched. At start-up each page touched first costs more than the drawing in it.
uint32_t* render_bar_image_in(const char* label, const char* frame, std::vector<uint32_t>& scratch) {
  const int32_t width = Framebuffer.width;
  const size_t count = static_cast<size_t>(width) * BarImageRows;
  auto* image = static_cast<uint32_t*>(alloc_block(count * 4));
  if (image == nullptr) return nullptr;
  scratch.assign(count, 0);
  // The frame's spaces draw nothing: only its two brackets land, around the centred label.
  draw_centred_text(label, scratch.data(), width);
  draw_centred_text(frame, scratch.data(), width);
  shrink_image(scratch.data(), width, BarImageRows, float_to_int(0.7 * width), BarShrunkRows);
  // Row by row, prepared, then the stretch from the first to the last lit pixel.
  for (size_t row = 0; row < count; row += static_cast<size_t>(width)) {
    uint32_t* in = scratch.data() + row;
    uint32_t lit = 0;
    for (int32_t x = 0; x < width; ++x) lit |= (in[x] &= PreparedMask);
    if (lit == 0) continue;
    int32_t first = 0, last = width;
    while (first < last && in[first] == 0) ++first;
    while (last > first && in[last - 1] == 0) --last;
    if (first < last) std::memcpy(image + row + first, in + first, static_cast<size_t>(last - first) * 4);
  }
  return image;
}

}  // namespace

uint32_t* render_bar_image(const char* label, const char* frame) {
  std::vector<uint32_t> scratch;
  return render_bar_image_in(label, frame, scratch);
}

void shrink_image(uint32_t* image, int32_t a, int32_t b, int32_t w, int32_t h) {
  const int32_t margin = (a - w) >> 1;
  // The black source rows, found before any is overwritten: a target row read from two of
  // them is black (most rows of a label's picture, above and below its letters).
  std::vector<uint8_t> black(static_cast<size_t>(b));
  for (int32_t r = 0; r < b; ++r) {
    const uint32_t* row = image + static_cast<size_t>(r) * a;
    uint32_t lit = 0;
    for (int32_t x = 0; x < a; ++x) lit |= row[x];
    black[static_cast<size_t>(r)] = lit == 0;
  }
  const int32_t step_u = static_cast<int32_t>((static_cast<int64_t>(a - 1) * 65536) / w);
  const int32_t step_v = static_cast<int32_t>((static_cast<int64_t>(b - 1) * 65536) / h);
  // Target row i reads source rows from i + 1 down, so the rows can be written in place.
  int32_t v = 65536;
  for (int32_t i = 0; i < h; ++i) {
    const int32_t r = v >> 16;
    const uint32_t v0 = 255 - ((static_cast<uint32_t>(v) >> 8) & 0xff);
    const uint32_t v1 = 255 - v0;
    v += step_v;
    const uint32_t* row0 = image + r * a;
    const uint32_t* row1 = row0 + a;
    uint32_t* out = image + i * a;
    if (r + 1 < b && black[static_cast<size_t>(r)] && black[static_cast<size_t>(r) + 1]) {
      std::memset(out, 0, static_cast<size_t>(a) * 4);
      continue;
    }
    int32_t x = 0;
    for (; x < margin; ++x) out[x] = 0;
    for (int32_t j = 0; j < w; ++j, ++x) {
      const uint32_t u = static_cast<uint32_t>(j) * static_cast<uint32_t>(step_u);
      const uint32_t c = u >> 16;
      const uint32_t h0 = 255 - ((u >> 8) & 0xff);
      const uint32_t h1 = 255 - h0;
      const uint32_t w00 = (v0 * h0) >> 8, w01 = (v0 * h1) >> 8, w10 = (v1 * h0) >> 8, w11 = (v1 * h1) >> 8;
      const uint32_t p00 = row0[c], p01 = row0[c + 1], p10 = row1[c], p11 = row1[c + 1];
      uint32_t result = 0;
      if ((p00 | p01 | p10 | p11) == 0) {  // most of a label's picture is empty
        out[x] = 0;
        continue;
      }
      for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t sum = ((p00 >> shift) & 0xff) * w00 + ((p01 >> shift) & 0xff) * w01 +
                             ((p10 >> shift) & 0xff) * w10 + ((p11 >> shift) & 0xff) * w11;
        result |= ((sum >> 8) & 0xff) << shift;
      }
      out[x] = result;
    }
    for (; x < a; ++x) out[x] = 0;
  }
}

void overlay_bar_image(const uint32_t* image, int32_t row, int32_t shift) {
  const int32_t width = Framebuffer.width;
  uint32_t* frame = Framebuffer.pixels + row * width;
  for (int32_t i = 0; i < BarOverlayRows * width; ++i) {
    const uint32_t p = image[i];
    if (p != 0) frame[i] = saturating_add((p << shift) & PreparedMask, frame[i] & PreparedMask);
  }
}

void render_menu_bar_images() {
  std::vector<uint32_t> scratch;  // one for all 31 images
  for (int32_t n = 1; n <= disk_tune_count() + 1; ++n)
    TuneBarImages[n] = render_bar_image_in(disk_tune_label(n), TuneBarFrame, scratch);
  for (int32_t m = 1; m <= disk_link_count(); ++m)
    LinkBarImages[m] = render_bar_image_in(disk_link_label(m), LinkBarFrame, scratch);
}

void free_menu_bar_images() {
  for (uint32_t*& image : TuneBarImages) {
    free_block(image);
    image = nullptr;
  }
  for (uint32_t*& image : LinkBarImages) {
    free_block(image);
    image = nullptr;
  }
}

std::string menu_label_problem(const char* label, int32_t limit, int32_t* width) {
  if (label[0] == '\0') return "is empty";
  for (int i = 0; label[i] != '\0'; ++i) {
    const auto code = static_cast<unsigned char>(label[i]);
    if (code < 32 || code > 127)
      return "has code " + std::to_string(code) + " at position " + std::to_string(i + 1) +
             ", outside 32..127 (menu texts skip it; '#' draws e with acute accent)";
  }
  const int32_t measured = measure_text(label);
  if (width) *width = measured;
  if (measured > limit)
    return "measures " + std::to_string(measured) + " pixels; at most " + std::to_string(limit) +
           " fit between the brackets";
  return {};
}

std::string link_address_problem(const char* address) {
  const std::string a = address;
  if (a.rfind("https://", 0) != 0 && a.rfind("http://", 0) != 0) return "is not a web address";
  for (char c : a) {
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127)
      return "holds a space or a non-ASCII code";
  }
  return {};
}

std::string printable(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 32 && c < 127) {
      out += ch;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}
