// The rendering loop: tick timing, start and stop, and a note heard end to end.
#include <gtest/gtest.h>

#include "tune.h"

namespace {

ModuleSpec steady_tone(uint8_t tempo, uint8_t speed = 2) {
  SampleSpec s;
  s.data.assign(64, 100);
  s.loop = LoopKind::Forward;
  s.loopLength = 64;
  ModuleSpec m = tune::song({pattern_from_rows({"C-4 01"})});
  m.instruments = {tune::instrument(s)};
  m.tempo = tempo;
  m.speed = speed;
  return m;
}

// Frames at which ticks ran, rendering one frame per call (speed 2, so `tick` flips).
std::vector<uint32_t> tick_frames(tune::Player& t, uint32_t frames) {
  std::vector<uint32_t> at;
  int32_t mix[2];
  uint8_t last = t.p().tick;
  for (uint32_t f = 0; f < frames; ++f) {
    player_render(1, mix);
    if (t.p().tick != last) at.push_back(f);
    last = t.p().tick;
  }
  return at;
}

TEST(Render, TickLengthAtTempo125Is882Frames) {
  EXPECT_EQ(tick_length(125), 882u * 256);
  tune::Player t(steady_tone(125));
  std::vector<uint32_t> at = tick_frames(t, 882 * 20 + 1);
  ASSERT_EQ(at.size(), 21u);
  for (size_t i = 0; i < at.size(); ++i) EXPECT_EQ(at[i], 882 * i);
}

TEST(Render, FractionsCarrySoThousandTicksAtTempo128Take861328Frames) {
  tune::Player t(steady_tone(128));
  std::vector<uint32_t> at = tick_frames(t, 861329);
  ASSERT_EQ(at.size(), 1001u);
  EXPECT_EQ(at[1000] - at[0], 861328u);
  EXPECT_EQ(at[1] - at[0], 861u);
  EXPECT_EQ(at[2] - at[1], 861u);
}

TEST(Render, TempoChangeTimesTheTickItWasReadOn) {
  ModuleSpec m = steady_tone(125);
  m.patterns = {pattern_from_rows({"C-4 01 .. F40"})};
  tune::Player t(m);
  std::vector<int32_t> mix(2 * 2000);
  player_render(1, mix.data());
  EXPECT_EQ(t.p().tempo, 64u);
  EXPECT_EQ(t.p().TickClock, tick_length(64) - 256);
}

TEST(Render, FirstRenderReadsRowZeroBeforeMixing) {
  tune::Player t(steady_tone(125));
  int32_t mix[2] = {0, 0};
  player_render(1, mix);
  EXPECT_EQ(t.p().row, 0u);
  EXPECT_EQ(t.p().rowTick, 1);
  // Channel volume 64 at full master, global and fade levels gives mixer volume 128.
  EXPECT_EQ(t.channel(0).mixVolume, 128);
  EXPECT_EQ(mix[0], 6350);
  EXPECT_EQ(mix[1], 6400);
}

TEST(Render, WritesExactlyTheFramesAskedFor) {
  tune::Player t(steady_tone(125));
  std::vector<int32_t> mix(12, 7);
  player_render(0, mix.data());
  EXPECT_EQ(mix, std::vector<int32_t>(12, 7));
  EXPECT_EQ(t.p().TickClock, 0u);  // not even a tick
  player_render(5, mix.data());
  EXPECT_EQ(mix[9], 6400);
  EXPECT_EQ(mix[10], 7);
}

TEST(Render, StopAndStartOnlyActOnTheOtherState) {
  tune::Player t(steady_tone(125), false);
  std::vector<int32_t> mix(8, 7);
  player_render(4, mix.data());
  EXPECT_EQ(mix, std::vector<int32_t>(8, 0));  // stopped: silence
  player_stop();
  EXPECT_EQ(t.p().playing.load(), 0);

  player_start(0);
  player_render(4, mix.data());
  uint32_t clock = t.p().TickClock;
  ChannelState before = t.channel(0);
  player_start(0);  // playing already: nothing changes
  EXPECT_EQ(t.channel(0).position, before.position);
  EXPECT_EQ(t.p().tick, 0);

  player_stop();
  player_render(4, mix.data());
  EXPECT_EQ(mix, std::vector<int32_t>(8, 0));
  EXPECT_EQ(t.p().TickClock, clock);  // the clock keeps its value across stop and start
  player_start(0);
  EXPECT_EQ(t.channel(0).active, 0);  // channels start afresh
  EXPECT_EQ(t.p().tick, 1);
}

TEST(Render, MasterVolumeSyncAndPosition) {
  ModuleSpec m = steady_tone(125, 1);
  m.patterns = {pattern_from_rows({"C-4 01 .. W2A", "", "... .. .. B00"}),
                pattern_from_rows({""})};
  tune::Player t(m);
  player_set_master_volume(32);
  int32_t mix[2];
  player_render(1, mix);
  EXPECT_EQ(player_get_sync(), 0x2A);
  EXPECT_EQ(t.channel(0).mixVolume, 64);
  EXPECT_EQ(player_get_position(), 0x0000);
  for (int i = 0; i < 882; ++i) player_render(1, mix);
  EXPECT_EQ(player_get_position(), 0x0001);
}

}  // namespace

#include "fuzz_tune.h"

namespace {

TEST(Render, BusyTuneValidatesAndPlaysEveryVoice) {
  ModuleSpec m = busy_tune();
  std::vector<uint8_t> image = write_module_image(m);
  ASSERT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);
  tune::Player t(m);
  std::vector<int32_t> mix(2 * 44100);
  int64_t energy = 0;
  for (int second = 0; second < 3; ++second) {
    player_render(44100, mix.data());
    for (int32_t v : mix) energy += v < 0 ? -v : v;
  }
  EXPECT_GT(energy, 0);
}

}  // namespace
