// Presentation: the four row converters and the 12.20 scaling against a plainly written
// reference, and what present_frame does with lost, missing, tiny and outgrown surfaces.
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

// The scaled, converted frame computed the slow way: destination pixel (x, y) shows source
// pixel (x * step_x >> 20, min(y * step_y >> 20, height - 1)), each channel's top bits
// written out little-endian (15 and 16 bits: 5-5-5 and 5-6-5; 24: blue, green, red).
std::vector<uint8_t> reference_frame(const FramebufferRecord& frame, int depth, int dw, int dh, int pitch) {
  const int64_t sx = (int64_t{frame.width} << 20) / dw, sy = (int64_t{frame.height} << 20) / dh;
  const int bpp = depth == 32 ? 4 : depth == 24 ? 3 : 2;
  std::vector<uint8_t> out(static_cast<size_t>(pitch) * dh, 0xCD);
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const uint32_t p = frame.pixels[std::min<int64_t>((y * sy) >> 20, frame.height - 1) * frame.width + ((x * sx) >> 20)];
      const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      const uint32_t v = depth == 32 ? p : depth == 24 ? p & 0xFFFFFF
                       : depth == 16 ? (r >> 3) << 11 | (g >> 2) << 5 | b >> 3 : (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
      for (int i = 0; i < bpp; ++i) out[static_cast<size_t>(y) * pitch + static_cast<size_t>(x * bpp + i)] = uint8_t(v >> (8 * i));
    }
  }
  return out;
}

struct OwnedFrame {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(400 * 300);
  FramebufferRecord record = {400, 300, 400 * 300, 400 * 300 * 4, pixels.data()};
  explicit OwnedFrame(uint32_t seed) {
    std::mt19937 rng(seed);
    // Any channel values (nothing may lean on the low bits prepared colours clear), some
    // with the carry bit a saturated red leaves above the channel.
    for (uint32_t& p : pixels) p = (rng() & 0xFFFFFF) | ((rng() & 7) == 0 ? 0x01000000u : 0u);
  }
  OwnedFrame(const OwnedFrame&) = delete;
};

TEST(Converters, PackTheDocumentedValues) {
  const uint32_t source[] = {0x00FFFFFF, 0x00808080, 0x01FFFFFF, 0x00000000, 0x00F80000, 0x0000FC00, 0x000000F8};
  const uint16_t want565[] = {0xFFFF, 0x8410, 0xFFFF, 0, 0xF800, 0x07E0, 0x001F};  // the carry bit never shows
  const uint16_t want555[] = {0x7FFF, 0x4210, 0x7FFF, 0, 0x7C00, 0x03E0, 0x001F};  // the top bit stays 0
  uint16_t out[7];
  convert_row_565(reinterpret_cast<uint8_t*>(out), source, 7, 0x100000);
  EXPECT_EQ(0, std::memcmp(out, want565, sizeof out));
  convert_row_555(reinterpret_cast<uint8_t*>(out), source, 7, 0x100000);
  EXPECT_EQ(0, std::memcmp(out, want555, sizeof out));
  const uint32_t two[] = {0x00123456, 0x00ABCDEF};
  uint8_t bgr[6];
  convert_row_24(bgr, two, 2, 0x100000);
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 6), (std::vector<uint8_t>{0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB}));
  // At half the width, every second column; 32 bits keep the pixel as it is, top byte included.
  const OwnedFrame f(5);
  std::vector<uint32_t> half(200);
  convert_row_32(reinterpret_cast<uint8_t*>(half.data()), f.pixels.data(), 200, (400 << 20) / 200);
  for (int x = 0; x < 200; ++x) EXPECT_EQ(half[x], f.pixels[2 * x]);
}

TEST(Converters, EveryDepthAndSizeMatchesTheReference) {
  const OwnedFrame f(7);
  std::vector<std::pair<int, int>> sizes = {{400, 300}, {800, 600}, {200, 150}, {2, 2}, {401, 299}, {399, 301},
                                            {1203, 907}, {3, 1000}, {1440, 1080}};
  std::mt19937 rng(11);
  for (int i = 0; i < 8; ++i) sizes.emplace_back(2 + rng() % 1000, 2 + rng() % 800);
  for (int depth : {32, 24, 16, 15}) {
    for (const auto& [w, h] : sizes) {
      const int pitch = w * (depth == 32 ? 4 : depth == 24 ? 3 : 2) + 13;  // wider than the row
      std::vector<uint8_t> got(static_cast<size_t>(pitch) * h, 0xCD);
      convert_frame_to(got.data(), f.record, pitch, depth, {w, h, int32_t((int64_t{400} << 20) / w), int32_t((int64_t{300} << 20) / h)});
      ASSERT_EQ(got, reference_frame(f.record, depth, w, h, pitch)) << "depth " << depth << ", " << w << " x " << h;
    }
  }
}

class Present : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  void TearDown() override { reset_show_state(); }
  void start(const HeadlessConfig& config) {
    headless_reset(config);
    reset_show_state();
    ASSERT_TRUE(init_display_window(400, 300, false));
  }
  // The client area resized by the user, as the window's size message reports it.
  static void resize_client(int w, int h) {
    headless_user_size(w + 2 * get_system_metrics(SM_CXFRAME), h + 2 * get_system_metrics(SM_CYFRAME) + get_system_metrics(SM_CYMENU));
    pump_messages();
    ASSERT_EQ(DisplayReady, 1);
  }
  // What the last presented frame shows, against source pixel (sx(x), sy(y)) with `keep` bits.
  void expect_shown(int w, int h, uint32_t keep, int (*sx)(int), int (*sy)(int)) {
    const HeadlessFrame& shown = headless_last_frame();
    ASSERT_EQ(shown.width, w);
    ASSERT_EQ(shown.height, h);
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(shown.pixels[i], frame.pixels[sy(i / w) * 400 + sx(i % w)] & keep) << i;
  }
  OwnedFrame frame{9};
};

TEST_F(Present, AWindowShowsTheFrameOneToOneOrStretchedToItsClientArea) {
  present_frame(frame.record);
  expect_shown(400, 300, 0xFFFFFF, [](int x) { return x; }, [](int y) { return y; });
  resize_client(802, 150);
  present_frame(frame.record);
  expect_shown(802, 150, 0xFFFFFF, [](int x) { return int((x * ((int64_t{400} << 20) / 802)) >> 20); }, [](int y) { return 2 * y; });
}

TEST_F(Present, FullscreenAtTwiceTheFrameIn565) {
  HeadlessConfig config;
  config.fail_windowed = true;
  config.modes = {{800, 600, 16}};
  start(config);
  ASSERT_EQ(Windowed, 0);
  ASSERT_EQ(DisplayDepth, 16);
  present_frame(frame.record);
  expect_shown(800, 600, 0xF8FCF8, [](int x) { return x / 2; }, [](int y) { return y / 2; });
}

TEST_F(Present, LostOrMissingBackSurfaceSkipsTheFrame) {
  present_frame(frame.record);
  headless_lose_surfaces();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u) << "a lost surface is not shown";
  release_display();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u) << "no back surface, nothing shown";
}

TEST_F(Present, ATinyDestinationOrAnUnknownDepthIsShownUnconverted) {
  resize_client(1, 200);
  ASSERT_EQ(ClientRect.right - ClientRect.left, 1);
  const uint64_t before = headless_stats().presented;
  for (int n = 1; n <= 3; ++n) {
    if (n == 3) {  // a depth the converters do not know is handled the same way
      resize_client(400, 300);
      DisplayDepth = 8;
    }
    present_frame(frame.record);  // twice at one pixel: the first left the surface unlocked
    EXPECT_EQ(headless_stats().presented, before + n) << "unlocked and shown all the same";
    for (uint32_t p : headless_last_frame().pixels) ASSERT_EQ(p, 0u) << "nothing converted into the surface";
  }
}

TEST_F(Present, AGrownClientAreaNeverWritesPastTheBackSurface) {
  // The rectangles see a larger window before its size message has rebuilt the surfaces.
  ClientRect = {0, 0, 1600, 1200};
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 1u);
  EXPECT_LE(headless_last_frame().width, Surfaces.back_width);
  EXPECT_LE(headless_last_frame().height, Surfaces.back_height);
}

}  // namespace
