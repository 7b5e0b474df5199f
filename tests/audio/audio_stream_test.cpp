// The sound stream: the 16-bit clamp, the refill cycle and its write cursor, lost buffers,
// failed starts, and tune switches with the streaming thread running freely alongside.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string_view>
#include <thread>
#include <vector>

#include "audio/audio_stream.h"
#include "platform/clock.h"
#include "platform/headless/headless.h"
#include "player/player.h"
#include "player/writer.h"

namespace {

// A tune whose mix is never silent: a looped ramp from the first frame on, played at
// these rows' notes.
std::vector<uint8_t> ramp_tune(std::initializer_list<std::string_view> rows = {"C-4 01", "---", "---", "---"}) {
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
  m.patterns.push_back(pattern_from_rows(rows));
  return write_module_image(m);
}

// The first `frames` frames the player makes of the ramp tune, clamped as the stream writes them.
std::vector<int16_t> reference(uint32_t frames) {
  static PlayerState state;
  std::vector<uint8_t> image = ramp_tune();
  player_init(image.data(), &state);
  player_start(0);
  std::vector<int32_t> mix(2 * frames);
  player_render(frames, mix.data());
  player_stop();
  std::vector<int16_t> out(2 * frames);
  clamp_to_pcm16(mix.data(), out.data(), 4 * frames);
  return out;
}

// The sound devices made and released so far, then the buffers made and released.
std::vector<int> made_and_released() {
  const HeadlessSoundStats s = headless_sound_stats();
  return {s.devices_made, s.devices_released, s.buffers_made, s.buffers_released};
}

}  // namespace

TEST(ClampToPcm16, LimitsAt32500) {
  const int32_t in[] = {40000, -40000, 32500, -32500, 32501, 12345, 0, -1};
  int16_t out[8] = {};
  clamp_to_pcm16(in, out, sizeof out);
  const int16_t want[] = {32500, -32500, 32500, -32500, 32500, 12345, 0, -1};
  EXPECT_EQ(std::memcmp(out, want, sizeof out), 0);
}

// How the buffer is lost in the first refill: not at all, before the cursor is read, or
// at the lock, after the cursor was read.
enum class Lost { No, AtThePosition, AtTheLock };

// The stream set up as start_audio leaves it, but without the streaming thread: the test
// drives each refill itself on the virtual clock.
struct Stream : ::testing::TestWithParam<Lost> {
  std::vector<uint8_t> image = ramp_tune();
  void SetUp() override {
    headless_reset(HeadlessConfig{});
    ASSERT_EQ(start_audio(1, image.data()), -1);
    AudioStream.stop.store(1);
    ASSERT_TRUE(wait_thread(AudioStream.thread, 1000));
    close_thread(AudioStream.thread);
    AudioStream.thread = nullptr;
    AudioStream.stop.store(0);
    AudioStream.writePosition = 0;
    player_start(0);
  }
  void TearDown() override {
    player_stop();
    stop_audio();
  }
  // Lets `us` pass and refills once; the bytes that refill locked.
  static uint32_t refill_after(uint64_t us) {
    headless_advance_us(us);
    audio_refill();
    return headless_sound_stats().locks.back().bytes;
  }
};

TEST_P(Stream, FillsUpToTheCursorRoundedDownTo32BytesAndRestoresALostBufferAtOnce) {
  headless_advance_us(25000);  // 1102 frames played: cursor 4408, target 4384
  if (GetParam() != Lost::No) headless_lose_sound_buffer(GetParam() == Lost::AtTheLock);
  refill_after(0);
  const HeadlessSoundStats stats = headless_sound_stats();
  EXPECT_EQ(stats.format_rate, 44100u);
  EXPECT_EQ(stats.format_channels, 2);
  EXPECT_EQ(stats.format_bits, 16);
  // Restored and read again without a pause, which would have let the cursor move on.
  EXPECT_EQ(stats.restores, GetParam() == Lost::No ? 0 : 1);
  EXPECT_EQ(AudioStream.writePosition, 4384u);
  // Cursor 4412: still below the next 32-byte step, so nothing is written and the song
  // does not move on.
  EXPECT_EQ(refill_after(20), 0u);
  refill_after(25000);
  const uint32_t end = AudioStream.writePosition;
  // The song continues exactly after the first refill; a stretch lost at the lock stays
  // silent, and the song goes on after it from where it stood, not rendered late.
  const uint32_t silent = GetParam() == Lost::AtTheLock ? 4384 : 0;
  std::vector<int16_t> want(silent / 2, 0), song = reference((end - silent) / 4);
  want.insert(want.end(), song.begin(), song.end());
  std::vector<int16_t> written(end / 2);
  void *r1, *r2;
  uint32_t l1, l2;
  ASSERT_GE(AudioStream.secondary->Lock(0, end, &r1, &l1, &r2, &l2, 0), 0);
  std::memcpy(written.data(), r1, l1);
  AudioStream.secondary->Unlock(r1, l1, r2, l2);
  EXPECT_EQ(written, want);
}

INSTANTIATE_TEST_SUITE_P(Losses, Stream, ::testing::Values(Lost::No, Lost::AtThePosition, Lost::AtTheLock));

TEST(StreamStart, FailedStartReleasesWhatWasMadeAndDoesNotWait) {
  std::vector<uint8_t> image = ramp_tune();
  struct Case {
    void (*fault)(HeadlessConfig&);
    int devices, buffers;
  };
  const Case cases[] = {
      {[](HeadlessConfig& c) { c.sound_absent = true; }, 0, 0},
      {[](HeadlessConfig& c) { c.sound_fail_secondary = true; }, 1, 1},
      {[](HeadlessConfig& c) { c.sound_fail_play = true; }, 1, 2},
  };
  for (const Case& k : cases) {
    HeadlessConfig config;
    k.fault(config);
    headless_reset(config);
    EXPECT_EQ(start_audio(1, image.data()), 0);
    EXPECT_EQ(AudioStream.thread, nullptr);
    const std::vector<int> want = {k.devices, k.devices, k.buffers, k.buffers};
    EXPECT_EQ(made_and_released(), want);
    stop_audio();  // and again: nothing more is released
    EXPECT_EQ(made_and_released(), want);
  }
}

namespace {

// Starts the stream with its thread and plays `us` of `image` on the virtual clock.
void play(std::vector<uint8_t> image, uint64_t us) {
  headless_reset(HeadlessConfig{});
  ASSERT_EQ(start_audio(1, image.data()), -1);
  player_start(0);
  headless_advance_us(us);
  player_stop();
  stop_audio();
}

}  // namespace

TEST(StreamStart, ThreadRefillsEvery25MsAndIsHeardOneBufferLater) {
  // One second: the writes wrap round the 16384-frame buffer and are heard after it.
  ASSERT_NO_FATAL_FAILURE(play(ramp_tune(), 1000000));
  const HeadlessSoundStats s = headless_sound_stats();
  std::vector<int16_t> heard = headless_heard_sound();
  ASSERT_EQ(heard.size(), 2u * 44100);
  // Silent for one buffer length (16384 frames), then the song from its first frame.
  EXPECT_EQ(std::vector<int16_t>(heard.begin(), heard.begin() + 2 * 16384), std::vector<int16_t>(2 * 16384, 0));
  EXPECT_EQ(std::vector<int16_t>(heard.begin() + 2 * 16384, heard.end()), reference(44100 - 16384));
  // Each cycle covered about 25 ms; the last one, woken by the stop without time passing,
  // found nothing to do.
  ASSERT_GE(s.locks.size(), 3u);
  EXPECT_EQ(s.locks.back().bytes, 0u);
  for (size_t i = 2; i + 1 < s.locks.size(); ++i) EXPECT_NEAR(s.locks[i].bytes, 4410, 32) << i;
  // An image the player refuses still streams, silence.
  ASSERT_NO_FATAL_FAILURE(play(std::vector<uint8_t>(4096, 0x5a), 100000));
  heard = headless_heard_sound();
  EXPECT_EQ(heard, std::vector<int16_t>(heard.size(), 0));
}

// The virtual clock's wait for a thread: a thread that sleeps to its end within the wait's
// time-out has ended when the wait returns, however late it saw its turn.
TEST(HeadlessThreads, WaitLetsTheThreadSleepToItsEndWithinTheTimeOut) {
  // Each thread sleeps `sleeps` times 25 ms and ends (40 sleeps are exactly 1000 ms).
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
  ASSERT_GT(headless_sound_stats().locks.size(), locks);
  EXPECT_TRUE(headless_sound_stats().locks.back().ok);
  // Lost again for good, then stopped.
  headless_config().sound_fail_restore = true;
  headless_lose_sound_buffer();
  headless_advance_us(30000);
  player_stop();
  stop_audio();
  EXPECT_EQ(headless_sound_stats().buffers_released, 2);
}

// Tune switches as the menu makes them (stop the player, stop the stream, start the next),
// with the streaming thread running freely alongside: no race, no leak, no hang.
TEST(StreamStress, TwoThousandTuneSwitchesWhileStreaming) {
  HeadlessConfig config;
  config.free_running_workers = true;
  headless_reset(config);
  std::vector<uint8_t> images[2] = {ramp_tune(), ramp_tune({"C-4 01 .. F02", "E-4 01", "G-4 01", "C-5 01"})};
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(start_audio(1, images[i % 2].data()), -1);
    player_start(0);
    headless_advance_us(static_cast<uint64_t>(2000 + (i % 11) * 3000));
    if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
    player_stop();
    stop_audio();
  }
  EXPECT_EQ(made_and_released(), std::vector<int>({2000, 2000, 4000, 4000}));
  EXPECT_EQ(AudioStream.thread, nullptr);
}
