// Presentation: the four row converters, the 12.20 scaling, and what present_frame does with
// lost, missing and tiny surfaces. The fast converters are checked against a plainly
// written reference on random frames and sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "display/present.h"
#include "display/surfaces.h"
#include "display/window.h"
#include "driver/show.h"
#include "platform/headless/headless.h"

namespace {

uint16_t load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// One pixel in the target format, written out bit by bit from the channels.
std::vector<uint8_t> reference_pixel(uint32_t p, int depth) {
  const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  switch (depth) {
    case 32: return {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16),
                     static_cast<uint8_t>(p >> 24)};
    case 24: return {static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r)};
    case 16: {
      const uint32_t v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
      return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    }
    default: {
      const uint32_t v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
      return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    }
  }
}

int bytes_per_pixel(int depth) { return depth == 32 ? 4 : depth == 24 ? 3 : 2; }

// The scaled, converted frame computed the slow way: destination pixel (x, y) shows source
// pixel (x * step_x >> 20, min(y * step_y >> 20, height - 1)), with the steps as the
// truncating 12.20 division gives them.
std::vector<uint8_t> reference_frame(const FramebufferRecord& frame, int depth, int dw, int dh, int pitch) {
  const int64_t sx = (static_cast<int64_t>(frame.width) << 20) / dw;
  const int64_t sy = (static_cast<int64_t>(frame.height) << 20) / dh;
  const int bpp = bytes_per_pixel(depth);
  std::vector<uint8_t> out(static_cast<size_t>(pitch) * dh, 0xCD);
  for (int y = 0; y < dh; ++y) {
    const int64_t row = std::min<int64_t>((y * sy) >> 20, frame.height - 1);
    for (int x = 0; x < dw; ++x) {
      const int64_t col = (x * sx) >> 20;
      const std::vector<uint8_t> px = reference_pixel(frame.pixels[row * frame.width + col], depth);
      std::memcpy(&out[static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * bpp], px.data(), px.size());
    }
  }
  return out;
}

struct OwnedFrame {
  std::vector<uint32_t> pixels;
  FramebufferRecord record;
};

OwnedFrame random_frame(uint32_t seed) {
  OwnedFrame f;
  f.pixels.resize(400 * 300);
  std::mt19937 rng(seed);
  for (uint32_t& p : f.pixels) {
    // Prepared colours, some with the carry bit a saturated red leaves above the channel.
    p = (rng() & 0xFEFEFE) | ((rng() & 7) == 0 ? 0x01000000u : 0u);
  }
  f.record = {400, 300, 400 * 300, 400 * 300 * 4, f.pixels.data()};
  return f;
}

TEST(Converters, PackTheDocumentedValues) {
  const uint32_t source[] = {0x00FFFFFF, 0x00808080, 0x01FFFFFF, 0x00000000, 0x00F80000, 0x0000FC00, 0x000000F8};
  uint8_t out[7 * 4] = {};
  convert_row_565(out, source, 7, 0x100000);
  EXPECT_EQ(load16(out + 0), 0xFFFF);
  EXPECT_EQ(load16(out + 2), 0x8410);
  EXPECT_EQ(load16(out + 4), 0xFFFF) << "the carry bit above red never reaches 16 bits";
  EXPECT_EQ(load16(out + 6), 0x0000);
  EXPECT_EQ(load16(out + 8), 0xF800);
  EXPECT_EQ(load16(out + 10), 0x07E0);
  EXPECT_EQ(load16(out + 12), 0x001F);

  convert_row_555(out, source, 7, 0x100000);
  EXPECT_EQ(load16(out + 0), 0x7FFF);
  EXPECT_EQ(load16(out + 2), 0x4210);
  EXPECT_EQ(load16(out + 4), 0x7FFF) << "the top bit stays 0";
  EXPECT_EQ(load16(out + 8), 0x7C00);
  EXPECT_EQ(load16(out + 10), 0x03E0);
  EXPECT_EQ(load16(out + 12), 0x001F);

  convert_row_24(out, source, 3, 0x100000);
  const uint8_t bgr[] = {0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(out, bgr, sizeof bgr));

  convert_row_32(out, source, 3, 0x100000);
  uint32_t words[3];
  std::memcpy(words, out, sizeof words);
  EXPECT_EQ(words[2], 0x01FFFFFFu) << "32 bits keep the pixel as it is, top byte included";
}

TEST(Converters, TwentyFourBitRowsHoldBlueGreenRed) {
  const uint32_t source[] = {0x00123456, 0x00ABCDEF};
  uint8_t out[6] = {};
  convert_row_24(out, source, 2, 0x100000);
  const uint8_t want[] = {0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB};
  EXPECT_EQ(0, std::memcmp(out, want, sizeof want));
}

TEST(Converters, EveryDepthAndSizeMatchesTheReference) {
  const OwnedFrame f = random_frame(7);
  struct Size {
    int w, h;
  };
  std::vector<Size> sizes = {{400, 300}, {800, 600}, {200, 150}, {2, 2}, {401, 299}, {399, 301},
                             {1203, 907}, {3, 1000}, {640, 480}, {1440, 1080}};
  std::mt19937 rng(11);
  for (int i = 0; i < 12; ++i) {
    sizes.push_back({2 + static_cast<int>(rng() % 1000), 2 + static_cast<int>(rng() % 800)});
  }
  for (int depth : {32, 24, 16, 15}) {
    for (const Size& s : sizes) {
      const int pitch = s.w * bytes_per_pixel(depth) + 13;  // a pitch wider than the row
      std::vector<uint8_t> got(static_cast<size_t>(pitch) * s.h, 0xCD);
      const Scaling scaling = {s.w, s.h, static_cast<int32_t>((int64_t{400} << 20) / s.w),
                               static_cast<int32_t>((int64_t{300} << 20) / s.h)};
      convert_frame_to(got.data(), f.record, pitch, depth, scaling);
      ASSERT_EQ(got, reference_frame(f.record, depth, s.w, s.h, pitch))
          << "depth " << depth << ", " << s.w << " x " << s.h;
    }
  }
}

TEST(Converters, TwiceTheFrameDoublesEveryPixelAndRow) {
  const OwnedFrame f = random_frame(3);
  std::vector<uint32_t> out(800 * 600);
  convert_frame_to(reinterpret_cast<uint8_t*>(out.data()), f.record, 800 * 4, 32, {800, 600, 0x80000, 0x80000});
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      ASSERT_EQ(out[y * 800 + x], f.pixels[(y / 2) * 400 + x / 2]) << x << "," << y;
    }
  }
}

TEST(Converters, HalfWidthTakesEverySecondColumn) {
  const OwnedFrame f = random_frame(5);
  std::vector<uint32_t> out(200);
  convert_row_32(reinterpret_cast<uint8_t*>(out.data()), f.pixels.data(), 200, (400 << 20) / 200);
  for (int x = 0; x < 200; ++x) {
    EXPECT_EQ(out[x], f.pixels[2 * x]);
  }
}

// ---- presentation on the headless display ----------------------------------------------

class Present : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  void TearDown() override { reset_show_state(); }

  void start(const HeadlessConfig& config) {
    headless_reset(config);
    reset_show_state();
    ASSERT_TRUE(init_display_window(400, 300, false));
    frame = random_frame(9);
  }

  OwnedFrame frame;
};

TEST_F(Present, AWindowRightAfterStartShowsTheFrameOneToOne) {
  present_frame(frame.record);
  const HeadlessFrame& shown = headless_last_frame();
  ASSERT_EQ(shown.width, 400);
  ASSERT_EQ(shown.height, 300);
  for (size_t i = 0; i < shown.pixels.size(); ++i) {
    ASSERT_EQ(shown.pixels[i], frame.pixels[i] & 0xFFFFFF) << i;
  }
}

TEST_F(Present, LostOrMissingBackSurfaceSkipsTheFrame) {
  present_frame(frame.record);
  ASSERT_EQ(headless_stats().presented, 1u);
  headless_lose_surfaces();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u) << "a lost surface is not shown";

  release_display();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u) << "no back surface, nothing shown";
}

TEST_F(Present, ATinyDestinationIsShownUnconverted) {
  // A window whose client area is one pixel wide: outer width = client + the two borders.
  headless_user_size(1 + 2 * get_system_metrics(SM_CXFRAME), 200);
  pump_messages();
  ASSERT_EQ(DisplayReady, 1);
  ASSERT_EQ(ClientRect.right - ClientRect.left, 1);
  const uint64_t before = headless_stats().presented;
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, before + 1) << "unlocked and shown all the same";
  for (uint32_t p : headless_last_frame().pixels) {
    ASSERT_EQ(p, 0u) << "nothing converted into the surface";
  }
  // Unlocked: the next frame can lock it again.
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, before + 2);
}

TEST_F(Present, AnUnknownDepthIsShownUnconverted) {
  DisplayDepth = 8;
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u);
  for (uint32_t p : headless_last_frame().pixels) {
    ASSERT_EQ(p, 0u);
  }
}

TEST_F(Present, AResizedWindowStretchesTheFrameToItsClientArea) {
  headless_user_size(802 + 2 * get_system_metrics(SM_CXFRAME),
                     150 + 2 * get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
  pump_messages();
  ASSERT_EQ(DisplayReady, 1);
  present_frame(frame.record);
  const HeadlessFrame& shown = headless_last_frame();
  ASSERT_EQ(shown.width, 802);
  ASSERT_EQ(shown.height, 150);
  const int64_t sx = (int64_t{400} << 20) / 802;
  for (int y = 0; y < 150; ++y) {
    for (int x = 0; x < 802; ++x) {
      ASSERT_EQ(shown.pixels[y * 802 + x], frame.pixels[(y * 2) * 400 + ((x * sx) >> 20)] & 0xFFFFFF);
    }
  }
}

TEST_F(Present, AGrownClientAreaNeverWritesPastTheBackSurface) {
  // The rectangles see a larger window before its size message has rebuilt the surfaces.
  ClientRect = {0, 0, 1600, 1200};
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u);
  const HeadlessFrame& shown = headless_last_frame();
  EXPECT_LE(shown.width, Surfaces.back_width);
  EXPECT_LE(shown.height, Surfaces.back_height);
}

TEST_F(Present, FullscreenAtTwiceTheFrameIn565) {
  HeadlessConfig config;
  config.fail_windowed = true;
  config.modes = {{800, 600, 16}};
  start(config);
  ASSERT_EQ(Windowed, 0);
  ASSERT_EQ(DisplayDepth, 16);
  present_frame(frame.record);
  const HeadlessFrame& shown = headless_last_frame();
  ASSERT_EQ(shown.width, 800);
  ASSERT_EQ(shown.height, 600);
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      ASSERT_EQ(shown.pixels[y * 800 + x], frame.pixels[(y / 2) * 400 + x / 2] & 0xF8FCF8);
    }
  }
}

}  // namespace
