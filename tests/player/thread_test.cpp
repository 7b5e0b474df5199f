// player_start and player_stop on one thread while another renders: they meet only in
// `playing` (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
