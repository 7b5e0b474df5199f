// The show's frame loop on the headless backend: how a run ends and what it gives back.
// What the frames look like: golden_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/menu.h"
#include "driver/show.h"
#include "platform/blocks.h"
#include "support/show_runner.h"

using showtest::escape_at;
using showtest::run;

// How a run ends and what it leaves behind. 50 frames a second, from 0 ms: the pass that
// receives Escape still presents its frame, the one that receives the close request does not.
// A window minimised at 400 ms and restored at 1400 ms draws nothing between and waits once
// for the window system: 20 + 31 frames. A reported error makes the exit status 1 even when
// the user ends the show afterwards; a block the show cannot have (the first, one among the
// menu bars' images, one after the pictures) ends it before any frame. The headless tools
// run the show again and again in one process: whatever a run took, the reset gives back.
TEST(Show, HowARunEndsAndWhatItGivesBack) {
  struct Case {
    const char* what;
    HeadlessConfig config;
    int code;
    uint64_t presented;
    int waits = 0;
  };
  const std::vector<HeadlessKey> escape = escape_at(0).keys;
  const Case cases[] = {
      {"the close box at 300 ms", {.close_at_ms = 300}, 0, 15},
      {"no shortcut table, then the close box", {.close_at_ms = 300, .fail_shortcut = true}, 1, 15},
      {"no block to be had", {.keys = escape, .fail_alloc_after = 0}, 1, 0},
      {"6 blocks to be had", {.keys = escape, .fail_alloc_after = 6}, 1, 0},
      {"40 blocks to be had", {.keys = escape, .fail_alloc_after = 40}, 1, 0},
      {"minimised from 400 to 1400 ms, Escape at 2000 ms",
       {.keys = escape_at(2000).keys, .minimised_from_ms = 400, .minimised_until_ms = 1400}, 0, 51, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.config), c.code) << c.what;
    EXPECT_EQ(MusicPlaying, 0) << c.what;
    EXPECT_EQ(headless_stats().presented, c.presented) << c.what;
    EXPECT_EQ(headless_stats().waits, c.waits) << c.what;
    if (c.config.fail_alloc_after >= 0) {
      EXPECT_EQ(headless_stats().messages, std::vector<std::string>{"not enough memory for the show"}) << c.what;
    }
    reset_show_state();
    EXPECT_EQ(blocks_in_use(), 0u) << c.what;
  }
}
