#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "audio/audio_stream.h"
#include "platform/headless/headless.h"
#include "player/player.h"
#include "player/writer.h"

namespace {
std::vector<uint8_t> tune(int note_row_gap) {
  ModuleSpec m;
  m.channelCount = 2;
  InstrumentSpec in;
  SampleSpec s;
  for (int i = 0; i < 100; ++i) s.data.push_back(static_cast<int16_t>((i * 37) % 200 - 100));
  s.loop = LoopKind::PingPong;
  s.loopStart = 10;
  s.loopLength = 80;
  in.samples.push_back(s);
  m.instruments.push_back(in);
  std::vector<std::string_view> rows;
  PatternSpec p = empty_pattern(16);
  for (uint32_t r = 0; r < 16; r += static_cast<uint32_t>(note_row_gap)) {
    p.rows[r].push_back(CellSpec{0, static_cast<uint8_t>(40 + r), 1, 0, -1, 0});
    p.rows[r].push_back(CellSpec{1, static_cast<uint8_t>(52 + r), 1, 0, 0xF, 2});  // speed 2
  }
  m.patterns.push_back(p);
  return write_module_image(m);
}
}  // namespace

// Tune switches as the menu makes them (stop the player, stop the stream, start the next),
// with the streaming thread running freely alongside: no race, no leak, no hang.
TEST(StreamStress, TwoThousandTuneSwitchesWhileStreaming) {
  HeadlessConfig config;
  config.free_running_workers = true;
  headless_reset(config);
  std::vector<uint8_t> images[2] = {tune(1), tune(3)};
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(start_audio(1, images[i % 2].data()), -1);
    player_start(0);
    headless_advance_us(static_cast<uint64_t>(2000 + (i % 11) * 3000));
    if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
    player_stop();
    stop_audio();
  }
  HeadlessSoundStats s = headless_sound_stats();
  EXPECT_EQ(s.devices_made, 2000);
  EXPECT_EQ(s.devices_released, 2000);
  EXPECT_EQ(s.buffers_made, 4000);
  EXPECT_EQ(s.buffers_released, 4000);
  EXPECT_EQ(AudioStream.thread, nullptr);
}
