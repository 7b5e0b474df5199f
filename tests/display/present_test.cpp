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

// Where destination pixels come from, worked out by hand from the 12.20 steps: 802 columns
// over 400 step by 522980 (400 x 2^20 / 802, truncated), so column 401 reads source column
// 199 (209714980 >> 20), not the 200 of exact arithmetic, and column 3 reads column 1
// (1568940 >> 20); 907 rows over 300 step by 346827, so row 906 reads row 299 and row 4
// row 1. Each depth converts as its row converter does, and the bytes past a row's end stay.
TEST(Converters, EachDepthStepsInTwelvePointTwentyAndKeepsToItsRows) {
  const OwnedFrame f(7);
  struct Probe {
    int x, y, sx, sy;
  };
  const Probe probes[] = {{2, 0, 0, 0}, {3, 4, 1, 1}, {401, 3, 199, 0}, {801, 906, 399, 299}, {400, 453, 199, 149}};
  struct Depth {
    int depth, bytes;
    void (*row)(uint8_t*, const uint32_t*, int32_t, int32_t);
  };
  for (const Depth& d : {Depth{32, 4, convert_row_32}, Depth{24, 3, convert_row_24}, Depth{16, 2, convert_row_565},
                         Depth{15, 2, convert_row_555}}) {
    const int w = 802, h = 907, pitch = w * d.bytes + 13;
    std::vector<uint8_t> got(static_cast<size_t>(pitch) * h, 0xCD);
    convert_frame_to(got.data(), f.record, pitch, d.depth, {w, h, 522980, 346827});
    for (const Probe& p : probes) {
      uint8_t want[4];
      d.row(want, &f.pixels[static_cast<size_t>(p.sy) * 400 + p.sx], 1, 0x100000);
      EXPECT_EQ(0, std::memcmp(&got[static_cast<size_t>(p.y) * pitch + p.x * d.bytes], want, d.bytes))
          << "depth " << d.depth << ": pixel " << p.x << ", " << p.y;
    }
    for (int y = 0; y < h; ++y)
      for (int i = w * d.bytes; i < pitch; ++i) ASSERT_EQ(got[static_cast<size_t>(y) * pitch + i], 0xCD) << "depth " << d.depth << " row " << y;
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
  OwnedFrame frame{9};
};

// What the back surface shows: the frame one to one or stretched in a window, doubled in
// fullscreen; at 16 bits only the top bits of each channel are kept.
TEST_F(Present, TheFrameOneToOneStretchedOrDoubled) {
  struct Case {
    const char* what;
    int depth;  // the desktop's, or the only fullscreen mode's
    bool fullscreen;
    int w, h;
    uint32_t keep;
  };
  const Case cases[] = {
      {"a window", 32, false, 400, 300, 0xFFFFFF},
      {"a window on a 24-bit desktop", 24, false, 400, 300, 0xFFFFFF},
      {"a stretched window", 32, false, 1600, 150, 0xFFFFFF},
      {"fullscreen in 565", 16, true, 800, 600, 0xF8FCF8},
      {"fullscreen in 24 bits", 24, true, 800, 600, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeadlessConfig config;
    config.desktop_depth = c.depth;
    config.fail_windowed = c.fullscreen;
    config.modes = {{800, 600, c.depth}};
    start(config);
    ASSERT_EQ(Windowed, c.fullscreen ? 0 : 1);
    if (c.w != 400 && !c.fullscreen) resize_client(c.w, c.h);
    present_frame(frame.record);
    const HeadlessFrame& shown = headless_last_frame();
    ASSERT_EQ(shown.width, c.w);
    ASSERT_EQ(shown.height, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_EQ(shown.pixels[y * c.w + x], frame.pixels[y * 300 / c.h * 400 + x * 400 / c.w] & c.keep) << x << ", " << y;
  }
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
