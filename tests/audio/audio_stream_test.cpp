#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/audio_stream.h"
#include "platform/clock.h"
#include "platform/headless/headless.h"
#include "player/player.h"
#include "player/writer.h"

namespace {

// A tune whose mix is never silent: a looped ramp from the first frame on.
std::vector<uint8_t> ramp_tune() {
  ModuleDef m;
  m.channelCount = 1;
  InstrumentDef in;
  SampleDef s;
  for (int i = 0; i < 64; ++i) s.data.push_back(static_cast<int16_t>(i * 4 - 128));
  s.loop = LoopKind::Forward;
  s.loopStart = 0;
  s.loopLength = 64;
  in.samples.push_back(s);
  m.instruments.push_back(in);
  m.patterns.push_back(pattern_from_rows({"C-4 01", "---", "---", "---"}));
  return write_module_image(m);
}

// The first `frames` frames the player makes of `image`, clamped as the stream writes them.
std::vector<int16_t> reference(std::vector<uint8_t> image, uint32_t frames) {
  static PlayerState state;
  player_init(image.data(), &state);
  player_start(0);
  std::vector<int32_t> mix(2 * frames);
  player_render(frames, mix.data());
  player_stop();
  std::vector<int16_t> out(2 * frames);
  clamp_to_pcm16(mix.data(), out.data(), 4 * frames);
  return out;
}

std::vector<int16_t> buffer_bytes(uint32_t offset, uint32_t bytes) {
  void *r1, *r2;
  uint32_t l1, l2;
  std::vector<int16_t> out(bytes / 2);
  EXPECT_GE(AudioStream.secondary->Lock(offset, bytes, &r1, &l1, &r2, &l2, 0), 0);
  std::memcpy(out.data(), r1, l1);
  if (r2 != nullptr) std::memcpy(reinterpret_cast<uint8_t*>(out.data()) + l1, r2, l2);
  AudioStream.secondary->Unlock(r1, l1, r2, l2);
  return out;
}

// The stream set up as start_audio leaves it, but without the streaming thread, so a test
// drives each refill cycle itself on the virtual clock.
struct Stream : ::testing::Test {
  std::vector<uint8_t> image = ramp_tune();
  void SetUp() override {
    headless_reset(HeadlessConfig{});
    ASSERT_EQ(start_audio(1, image.data()), -1);
    // Take the thread away; the objects stay.
    AudioStream.stop.store(1);
    ASSERT_TRUE(wait_thread(AudioStream.thread, 1000));
    close_thread(AudioStream.thread);
    AudioStream.thread = nullptr;
    AudioStream.stop.store(0);
    AudioStream.writePosition = 0;
    player_start(0);
    base_locks = headless_sound_stats().locks.size();
  }
  size_t base_locks = 0;
  void TearDown() override {
    player_stop();
    stop_audio();
  }
  static uint32_t cursor_bytes_at(uint64_t us) { return static_cast<uint32_t>(us * 44100 / 1000000 * 4 % 65536); }
};

}  // namespace

TEST(ClampToPcm16, LimitsAt32500) {
  const int32_t in[] = {40000, -40000, 32500, -32500, 32501, 12345, 0, -1};
  int16_t out[8] = {};
  clamp_to_pcm16(in, out, sizeof out);
  const int16_t want[] = {32500, -32500, 32500, -32500, 32500, 12345, 0, -1};
  EXPECT_EQ(std::memcmp(out, want, sizeof out), 0);
  int16_t untouched = 7;
  clamp_to_pcm16(in, &untouched, 1);  // below one sample: nothing
  EXPECT_EQ(untouched, 7);
}

TEST_F(Stream, FirstCycleFillsFromZeroToTheRoundedCursor) {
  headless_advance_us(25000);  // 1102 frames played: cursor 4408, target 4384
  audio_refill();
  auto locks = headless_sound_stats().locks;
  ASSERT_EQ(locks.size(), base_locks + 1);
  EXPECT_EQ(locks.back().offset, 0u);
  EXPECT_EQ(locks.back().bytes, 4384u);
  EXPECT_TRUE(locks.back().ok);
  EXPECT_EQ(AudioStream.writePosition, 4384u);
  std::vector<int16_t> want = reference(ramp_tune(), 1096);
  EXPECT_EQ(buffer_bytes(0, 4384), want);
}

TEST_F(Stream, CursorThatMovedLessThan32BytesRendersNothing) {
  headless_advance_us(25000);
  audio_refill();
  const uint32_t wp = AudioStream.writePosition;
  headless_advance_us(20);  // cursor 4408 -> 4412: still below the next 32-byte step
  audio_refill();
  EXPECT_EQ(AudioStream.writePosition, wp);
  auto locks = headless_sound_stats().locks;
  EXPECT_EQ(locks.back().bytes, 0u);
  // The song did not move on: the next real refill continues exactly after the first one.
  headless_advance_us(25000);
  audio_refill();
  std::vector<int16_t> want = reference(ramp_tune(), AudioStream.writePosition / 4);
  EXPECT_EQ(buffer_bytes(0, AudioStream.writePosition), want);
}

TEST_F(Stream, WrappedCursorFillsTwoRegionsInOrder) {
  // Refill every 25 ms until the cursor has wrapped past the end of the buffer.
  uint32_t frames = 0;
  for (int cycle = 0; cycle < 16; ++cycle) {
    headless_advance_us(25000);
    const uint32_t before = AudioStream.writePosition;
    audio_refill();
    frames += ((AudioStream.writePosition - before) & 65535) / 4;
  }
  bool wrapped = false;
  for (const auto& l : headless_sound_stats().locks) wrapped |= l.ok && l.offset + l.bytes > 65536;
  ASSERT_TRUE(wrapped);
  // Every position holds the latest song frame written there: the second region carries on
  // the mix where the first one ended.
  std::vector<int16_t> want = reference(ramp_tune(), frames);
  std::vector<int16_t> got = buffer_bytes(0, 65536);
  for (uint32_t f = frames - 16384; f < frames; ++f) {
    const uint32_t p = f % 16384;
    ASSERT_EQ(got[2 * p], want[2 * f]) << "frame " << f;
    ASSERT_EQ(got[2 * p + 1], want[2 * f + 1]) << "frame " << f;
  }
}

TEST_F(Stream, LostBufferIsRestoredAndReadAgainWithoutSleeping) {
  headless_advance_us(25000);
  headless_lose_sound_buffer();
  audio_refill();
  EXPECT_EQ(headless_sound_stats().restores, 1);
  EXPECT_EQ(AudioStream.writePosition, 4384u);
  EXPECT_EQ(buffer_bytes(0, 4384), reference(ramp_tune(), 1096));
}

TEST_F(Stream, SpanLostAtTheLockIsSkippedNotRenderedLate) {
  headless_advance_us(25000);
  headless_lose_sound_buffer(true);
  audio_refill();
  EXPECT_EQ(headless_sound_stats().restores, 1);
  EXPECT_EQ(AudioStream.writePosition, 4384u);
  headless_advance_us(25000);
  audio_refill();
  const uint32_t end = AudioStream.writePosition;
  // The lost stretch stays silent; the song goes on after it from where it stood.
  std::vector<int16_t> silent = buffer_bytes(0, 4384);
  for (int16_t v : silent) ASSERT_EQ(v, 0);
  EXPECT_EQ(buffer_bytes(4384, end - 4384), reference(ramp_tune(), (end - 4384) / 4));
}

TEST(StreamStart, FailedStartReleasesWhatWasMadeAndDoesNotWait) {
  std::vector<uint8_t> image = ramp_tune();
  struct Case {
    void (*fault)(HeadlessConfig&);
    int devices, buffers;
  };
  const Case cases[] = {
      {[](HeadlessConfig& c) { c.sound_absent = true; }, 0, 0},
      {[](HeadlessConfig& c) { c.sound_fail_cooperative = true; }, 1, 0},
      {[](HeadlessConfig& c) { c.sound_fail_primary = true; }, 1, 0},
      {[](HeadlessConfig& c) { c.sound_fail_secondary = true; }, 1, 1},
      {[](HeadlessConfig& c) { c.sound_fail_lock = true; }, 1, 2},
      {[](HeadlessConfig& c) { c.sound_fail_play = true; }, 1, 2},
  };
  for (const Case& k : cases) {
    HeadlessConfig config;
    k.fault(config);
    headless_reset(config);
    EXPECT_EQ(start_audio(1, image.data()), 0);
    EXPECT_EQ(AudioStream.thread, nullptr);
    auto s = headless_sound_stats();
    EXPECT_EQ(s.devices_made, k.devices);
    EXPECT_EQ(s.devices_released, k.devices);
    EXPECT_EQ(s.buffers_made, k.buffers);
    EXPECT_EQ(s.buffers_released, k.buffers);
    stop_audio();  // and again: nothing more is released
    EXPECT_EQ(headless_sound_stats().buffers_released, k.buffers);
  }
}

TEST(StreamStart, ResultDoesNotDependOnTheImageBeingAccepted) {
  headless_reset(HeadlessConfig{});
  std::vector<uint8_t> junk(4096, 0x5a);
  EXPECT_EQ(start_audio(1, junk.data()), -1);
  headless_advance_us(100000);  // the thread runs and renders silence
  stop_audio();
  stop_audio();
  auto s = headless_sound_stats();
  EXPECT_EQ(s.buffers_released, 2);
  EXPECT_EQ(s.devices_released, 1);
  EXPECT_EQ(s.format_rate, 44100u);
  EXPECT_EQ(s.format_channels, 2);
  EXPECT_EQ(s.format_bits, 16);
  std::vector<int16_t> heard = headless_heard_sound();
  for (int16_t v : heard) ASSERT_EQ(v, 0);
}

TEST(StreamStart, ThreadRefillsEvery25MsAndIsHeardOneBufferLater) {
  headless_reset(HeadlessConfig{});
  std::vector<uint8_t> image = ramp_tune();
  ASSERT_EQ(start_audio(1, image.data()), -1);
  player_start(0);
  headless_advance_us(500000);
  player_stop();
  stop_audio();
  std::vector<int16_t> heard = headless_heard_sound();
  ASSERT_EQ(heard.size(), 2u * 22050);
  // Silent for one buffer length (16384 frames), then the song from its first frame.
  for (size_t i = 0; i < 2 * 16384; ++i) ASSERT_EQ(heard[i], 0) << i;
  std::vector<int16_t> want = reference(ramp_tune(), 22050 - 16384);
  EXPECT_EQ(std::vector<int16_t>(heard.begin() + 2 * 16384, heard.end()), want);
  // Each cycle covered about 25 ms; the last one, woken by the stop without time passing,
  // found nothing to do.
  auto locks = headless_sound_stats().locks;
  ASSERT_GE(locks.size(), 3u);
  EXPECT_EQ(locks.back().bytes, 0u);
  for (size_t i = 2; i + 1 < locks.size(); ++i) {
    EXPECT_NEAR(locks[i].bytes, 4410, 32) << i;
  }
}

TEST(HeadlessThreads, WaitLetsTheThreadSleepToItsEndWithinTheTimeOut) {
  // Each thread sleeps `sleeps` times 25 ms and ends; a wait lets those sleeps pass at once,
  // as long as they fit its time-out (40 sleeps are exactly 1000 ms).
  struct Case {
    int sleeps;
    uint32_t timeout_ms;
    bool ended;
  };
  const Case cases[] = {{0, 1000, true}, {2, 1000, true}, {40, 1000, true}, {41, 1000, false}, {1000, 100, false}};
  for (const Case& k : cases) {
    headless_reset(HeadlessConfig{});
    int sleeps = k.sleeps;
    ThreadHandle* t = create_thread(
        [](void* p) {
          for (int i = 0; i < *static_cast<int*>(p); ++i) sleep_ms(25);
        },
        &sleeps);
    headless_advance_us(0);  // until the thread is asleep in its first sleep (or ended)
    EXPECT_EQ(wait_thread(t, k.timeout_ms), k.ended) << k.sleeps << " sleeps, " << k.timeout_ms << " ms";
    while (!wait_thread(t, 100000)) {
    }
    close_thread(t);
  }
}

TEST(StreamStart, BufferThatStaysLostStillLetsTheStreamStop) {
  // Another program holds the device: the lost buffer cannot be restored. A stream thread
  // that never came back from retrying would hang stop_audio (CTest's time-out reports it).
  HeadlessConfig config;
  config.sound_fail_restore = true;
  headless_reset(config);
  std::vector<uint8_t> image = ramp_tune();
  ASSERT_EQ(start_audio(1, image.data()), -1);
  player_start(0);
  headless_advance_us(100000);
  headless_lose_sound_buffer();
  headless_advance_us(1000000);
  // Tried again all along, but with pauses between the tries, not in a tight loop.
  const int restores = headless_sound_stats().restores;
  EXPECT_GE(restores, 40);
  EXPECT_LE(restores, 200);
  // The device comes free: the next cycle restores the buffer and writes again.
  headless_config().sound_fail_restore = false;
  const size_t locks = headless_sound_stats().locks.size();
  headless_advance_us(100000);
  auto s = headless_sound_stats();
  EXPECT_LE(s.restores, restores + 1);
  ASSERT_GT(s.locks.size(), locks);
  EXPECT_TRUE(s.locks.back().ok);
  // Lost again for good, then stopped.
  headless_config().sound_fail_restore = true;
  headless_lose_sound_buffer();
  headless_advance_us(30000);
  player_stop();
  stop_audio();
  EXPECT_EQ(headless_sound_stats().buffers_released, 2);
}
