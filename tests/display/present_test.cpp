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
// fullscreen; at 16 and 15 bits only the top bits of each channel are kept, and the carry
// bit above a saturated red never shows.
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
      {"a stretched window on a 24-bit desktop", 24, false, 1600, 150, 0xFFFFFF},
      {"fullscreen in 565", 16, true, 800, 600, 0xF8FCF8},
      {"fullscreen in 555", 15, true, 800, 600, 0xF8F8F8},
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

// A one-pixel-wide window: nothing converted, but the surface unlocked and shown all the
// same. Grown before its size message rebuilt the surfaces: held to them. A lost surface or
// none: nothing shown.
TEST_F(Present, KeepsToTheBackSurfaceAndSkipsWhatCannotBeShown) {
  resize_client(1, 200);
  present_frame(frame.record);
  present_frame(frame.record);  // the first left the surface unlocked
  EXPECT_EQ(headless_stats().presented, 2u);
  for (uint32_t p : headless_last_frame().pixels) ASSERT_EQ(p, 0u) << "nothing converted into the surface";
  ClientRect = {0, 0, 1600, 1200};
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 3u);
  EXPECT_LE(headless_last_frame().width, Surfaces.back_width);
  EXPECT_LE(headless_last_frame().height, Surfaces.back_height);
  headless_lose_surfaces();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 3u) << "a lost surface is not shown";
  release_display();
  present_frame(frame.record);
  EXPECT_EQ(headless_stats().presented, 3u) << "no back surface, nothing shown";
}

}  // namespace
