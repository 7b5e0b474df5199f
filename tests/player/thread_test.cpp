// player_start and player_stop on one thread while another renders: they meet only in
// `playing` (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "fuzz_tune.h"
#include "tune.h"

namespace {

TEST(PlayerThreads, StartAndStopWhileAnotherThreadRenders) {
  // Long renders of a busy tune on one thread; stop and start again at once on the other,
  // so that a start regularly falls inside a render that began while the song played. The
  // start must not rewrite the channels under that render (the thread sanitizer watches).
  tune::Player t(busy_tune(), false);
  ASSERT_EQ(validate_module_image(t.image.data(), t.image.size()), ImageCheck::Ok);
  std::atomic<bool> done{false};
  std::atomic<int> calls{0}, loudCalls{0};
  std::thread renderer([&] {
    std::vector<int32_t> mix(2 * 8192);
    while (!done.load()) {
      player_render(8192, mix.data());
      if (std::any_of(mix.begin(), mix.end(), [](int32_t v) { return v != 0; })) loudCalls.fetch_add(1);
      calls.fetch_add(1);
    }
  });
  const auto next_render = [&] {
    for (const int before = calls.load(); calls.load() == before;) std::this_thread::yield();
  };
  player_start(0);
  for (int i = 0; i < 200; ++i) {
    next_render();  // a render has begun since the last start
    player_stop();
    player_start(0);
    EXPECT_EQ(t.p().playing.load(), 1);
  }
  // After a stop at most the call in progress finishes loud; every later call is silent.
  player_stop();
  next_render();
  const int loud = loudCalls.load();
  next_render();
  next_render();
  done = true;
  renderer.join();
  EXPECT_EQ(loudCalls.load(), loud);
  EXPECT_EQ(t.p().rendering.load(), 0) << "no render in flight is left marked";
}

}  // namespace
