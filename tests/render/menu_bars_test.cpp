#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "frame_fixture.h"
#include "render/font.h"
#include "render/menu_bars.h"

namespace {

// The shrink written plainly: each target pixel worked out on its own from an untouched
// copy of the source, in 64-bit arithmetic, one channel at a time.
std::vector<uint32_t> reference_shrink(const std::vector<uint32_t>& source, int a, int b, int w, int h) {
  std::vector<uint32_t> out = source;
  const int64_t margin = (a - w) / 2;
  const int64_t step_u = (int64_t{a - 1} * 65536) / w;
  const int64_t step_v = (int64_t{b - 1} * 65536) / h;
  for (int i = 0; i < h; ++i) {
    const int64_t v = 65536 + i * step_v;
    const int64_t r = v / 65536;
    const int64_t weight_v[2] = {255 - (v / 256) % 256, (v / 256) % 256};
    for (int x = 0; x < a; ++x) {
      const int64_t j = x - margin;
      uint32_t pixel = 0;
      if (j >= 0 && j < w) {
        const int64_t u = j * step_u;
        const int64_t c = u / 65536;
        const int64_t weight_u[2] = {255 - (u / 256) % 256, (u / 256) % 256};
        for (int channel = 0; channel < 3; ++channel) {
          int64_t sum = 0;
          for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
              const uint32_t p = source[static_cast<size_t>((r + dy) * a + c + dx)];
              sum += ((p >> (8 * channel)) & 0xff) * ((weight_v[dy] * weight_u[dx]) / 256);
            }
          pixel |= static_cast<uint32_t>((sum / 256) & 0xff) << (8 * channel);
        }
      }
      out[static_cast<size_t>(i) * static_cast<size_t>(a) + static_cast<size_t>(x)] = pixel;
    }
  }
  return out;
}

}  // namespace

TEST(ShrinkImage, MatchesThePlainReferenceOnRandomImages) {
  // The show's shape (400 x 60 into 280 x 42, steps 93388 and 92062) and a small one.
  const int shapes[][4] = {{400, 60, 280, 42}, {100, 30, 70, 21}};
  std::mt19937 random(12345);
  for (const auto& [a, b, w, h] : shapes) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint32_t> image(static_cast<size_t>(a) * static_cast<size_t>(b));
      // Sparse, dense and saturated images alike, with black rows 10 to 19 as above and below
      // a label's letters.
      const uint32_t mask = trial % 3 == 0 ? 0xffffffu : trial % 3 == 1 ? 0xfefefeu : 0x7e7e7eu;
      for (uint32_t& p : image) p = random() % 4 == 0 ? 0u : static_cast<uint32_t>(random()) & mask;
      std::fill(image.begin() + 10 * a, image.begin() + 20 * a, 0u);
      const std::vector<uint32_t> want = reference_shrink(image, a, b, w, h);
      shrink_image(image.data(), a, b, w, h);
      ASSERT_EQ(image, want) << a << "x" << b << " trial " << trial;
    }
  }
}

// The built-in font and the 14 + 17 bar images for a 400-pixel frame. The tune images also
// leave rows 30 to 41 empty: where the link bar's label lies under them (frame rows 170 to
// 181) the frame shows the link image alone.
TEST(MenuBars, ImagesHoldTheirLabelAndOverlayItsLitPixels) {
  FrameFixture frame;
  free_font();
  build_font();
  render_menu_bar_images();
  for (int n = 1; n <= 31; ++n) {
    const uint32_t* image = n <= 14 ? TuneBarImages[n] : LinkBarImages[n - 14];
    ASSERT_NE(image, nullptr);
    EXPECT_GT(std::count_if(image, image + 400 * BarImageRows, [](uint32_t p) { return p != 0; }), 500) << "image " << n;
    const int last_row = n <= 14 ? 29 : 41;
    for (int y = 0; y < BarImageRows; ++y) {
      for (int x = 0; x < 400; ++x) {
        const uint32_t p = image[y * 400 + x];
        if (y > last_row || x < 60 || x >= 340) {
          ASSERT_EQ(p, 0u) << "image " << n << " at " << x << "," << y;
        }
        // Prepared, and below 128 per channel, so doubling never carries into the next channel.
        ASSERT_EQ(p & 0x01818181u, 0u) << "image " << n << " at " << x << "," << y;
      }
    }
  }
  const uint32_t* image = TuneBarImages[3];
  for (int shift : {0, 1}) {
    frame.fill(0x313233);  // odd low bits: masked where added
    overlay_bar_image(image, 100, shift);
    for (int y = 0; y < 300; ++y) {
      for (int x = 0; x < 400; ++x) {
        const uint32_t p = y >= 100 && y < 150 ? image[(y - 100) * 400 + x] : 0u;
        // p is prepared and below 128 per channel: doubling is 2 p, and nothing saturates.
        const uint32_t want = p == 0 ? 0x313233u : (shift ? 2 * p : p) + 0x303232u;
        ASSERT_EQ(frame.at(x, y), want) << x << "," << y << " shift " << shift;
      }
    }
  }
  free_menu_bar_images();
  free_font();
}
