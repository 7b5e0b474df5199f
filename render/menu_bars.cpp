#include "render/menu_bars.h"

#include "assets/menu_texts.h"
#include "platform/blocks.h"
#include "render/font.h"
#include "render/framebuffer.h"

uint32_t* TuneBarImages[15] = {};
uint32_t* LinkBarImages[18] = {};

uint32_t* render_bar_image(const char* label, const char* frame) {
  const int32_t width = Framebuffer.width;
  const int32_t count = width * BarImageRows;
  auto* image = static_cast<uint32_t*>(alloc_block(static_cast<size_t>(count) * 4));
  for (int32_t i = 0; i < count; ++i) image[i] = 0;
  // The frame's spaces draw nothing: only its two brackets land, around the centred label.
  draw_centred_text(label, image, width);
  draw_centred_text(frame, image, width);
  shrink_image(image, width, BarImageRows, float_to_int(0.7 * width), BarShrunkRows);
  for (int32_t i = 0; i < count; ++i) image[i] &= PreparedMask;
  return image;
}

void shrink_image(uint32_t* image, int32_t a, int32_t b, int32_t w, int32_t h) {
  const int32_t margin = (a - w) >> 1;
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
  for (int32_t n = 1; n <= 14; ++n) TuneBarImages[n] = render_bar_image(TuneLabels[n], TuneBarFrame);
  for (int32_t m = 1; m <= 17; ++m) LinkBarImages[m] = render_bar_image(LinkLabels[m], LinkBarFrame);
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
