// player_start and player_stop on one thread while another renders: they meet only in
// `playing` (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fuzz_tune.h"
#include "tune.h"

namespace {

TEST(PlayerThreads, StartAndStopWhileAnotherThreadRenders) {
  tune::Player t(tune::steady_tone(125, 6), false);

  std::atomic<bool> done{false};
  std::atomic<int> loudCalls{0}, silentCalls{0};
  std::thread renderer([&] {
    std::vector<int32_t> mix(2 * 256);
    while (!done.load()) {
      player_render(256, mix.data());
      (mix[0] != 0 ? loudCalls : silentCalls).fetch_add(1);
    }
  });
  while (silentCalls.load() < 3) std::this_thread::yield();
  player_start(0);
  while (loudCalls.load() < 3) std::this_thread::yield();
  player_stop();
  int loud = loudCalls.load();
  // At most the call in progress finishes loud; after it every call is silent.
  int silentBefore = silentCalls.load();
  while (silentCalls.load() < silentBefore + 3) std::this_thread::yield();
  done = true;
  renderer.join();
  EXPECT_LE(loudCalls.load(), loud + 1);
  EXPECT_EQ(t.channel(0).active, 1);
}

TEST(PlayerThreads, StartRightAfterStopWaitsForTheRenderInFlight) {
  // Long renders of a busy tune on one thread; stop and start again at once on the other,
  // so that a start regularly falls inside a render that began while the song played. The
  // start must not rewrite the channels under that render (the thread sanitizer watches).
  tune::Player t(busy_tune(), false);
  ASSERT_EQ(validate_module_image(t.image.data(), t.image.size()), ImageCheck::Ok);
  std::atomic<bool> done{false};
  std::atomic<int> calls{0};
  std::thread renderer([&] {
    std::vector<int32_t> mix(2 * 8192);
    while (!done.load()) {
      player_render(8192, mix.data());
      calls.fetch_add(1);
    }
  });
  player_start(0);
  for (int i = 0; i < 200; ++i) {
    const int before = calls.load();
    while (calls.load() == before) std::this_thread::yield();  // a render has begun since
    player_stop();
    player_start(0);
    EXPECT_EQ(t.p().playing.load(), 1);
  }
  done = true;
  renderer.join();
  EXPECT_EQ(t.p().rendering.load(), 0) << "no render in flight is left marked";
  EXPECT_GE(calls.load(), 200);
}

}  // namespace
