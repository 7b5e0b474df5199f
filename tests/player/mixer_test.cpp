// The mixer against the per-frame boundary rule, and its fixed-point arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "player/mixer.h"
#include "player/player.h"

namespace {

using Frames = std::vector<int32_t>;

ChannelState voice(const std::vector<uint8_t>& data, uint32_t end, uint32_t loopStart, uint8_t flags, uint16_t step,
                   uint16_t volume = 128, uint8_t panning = 255) {
  return ChannelState{.active = 1, .sampleData = data.data(), .boundAhead = end, .boundBehind = loopStart,
                      .voiceFlags = flags, .startPosition = 0, .step = step, .mixVolume = volume, .mixPanning = panning};
}

// Voices 0 and 5, mixed for `frames`; the output is pre-filled so that unwritten frames show.
Frames mix(uint32_t frames, ChannelState& v, ChannelState other = {}) {
  std::vector<ChannelState> channels(MaxChannels);
  channels[0] = v;
  channels[5] = other;
  Frames out(2 * frames, 12345);
  EXPECT_EQ(mix_voices(channels.data(), frames, out.data()), out.data() + 2 * frames);
  v = channels[0];
  return out;
}

// Frame values 0..127 repeating, read back from a hard-right voice at full volume (where the
// right side gets floor(s * 127.5)): the sample frame each output frame played.
std::vector<uint8_t> index_ramp(uint32_t frames) {
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < frames; ++i) out.push_back(static_cast<uint8_t>(i % 128));
  return out;
}
Frames heard(uint32_t frames, ChannelState& v) {
  Frames out = mix(frames, v), played;
  for (uint32_t f = 0; f < frames; ++f) played.push_back((2 * out[2 * f + 1] + 254) / 255);
  return played;
}

// The per-frame rule, written plainly.
void reference_mix(ChannelState* channels, uint32_t frames, int32_t* out) {
  if (frames == 0) return;  // an empty run may come with no buffer at all
  std::memset(out, 0, sizeof(int32_t) * 2 * frames);
  for (uint32_t c = 0; c < MaxChannels && frames > 0; ++c) {
    ChannelState& v = channels[c];
    if (!v.active) continue;
    if (v.startPosition != -1) v.position = int64_t{v.startPosition} << 32, v.startPosition = -1;
    bool wide = v.voiceFlags & Sample16Bit;
    int64_t gainLeft = int64_t{v.mixVolume} * (255 - v.mixPanning) * (wide ? 1 : 256);
    int64_t gainRight = int64_t{v.mixVolume} * v.mixPanning * (wide ? 1 : 256);
    for (uint32_t f = 0; f < frames && v.active; ++f) {
      for (;;) {
        bool backwards = v.voiceFlags & SampleBackwards;
        int64_t ahead = int64_t{v.boundAhead} << 32;
        if (backwards ? v.position >= ahead : v.position < ahead) break;
        if ((v.voiceFlags & SamplePingPongLoop) && v.boundAhead != v.boundBehind &&
            backwards != (v.boundAhead > v.boundBehind)) {
          v.position = 2 * ahead - v.position;
          v.voiceFlags ^= SampleBackwards;
          std::swap(v.boundAhead, v.boundBehind);
        } else if ((v.voiceFlags & SampleForwardLoop) && !backwards && v.boundAhead > v.boundBehind) {
          v.position -= int64_t{v.boundAhead - v.boundBehind} << 32;
        } else {
          v.active = 0;
          break;
        }
      }
      if (!v.active || v.step == 0) break;
      auto at = [&](int64_t k) -> int64_t {
        int16_t s;
        if (!wide) return static_cast<int8_t>(v.sampleData[k]);
        std::memcpy(&s, v.sampleData + 2 * k, 2);
        return s;
      };
      int64_t i = v.position >> 32, fraction = (v.position & 0xFFFFFFFF) >> 16;
      int64_t s = at(i) + (((at(i + 1) - at(i)) * fraction) >> 16);
      out[2 * f] += static_cast<int32_t>((s * gainLeft) >> 16);
      out[2 * f + 1] += static_cast<int32_t>((s * gainRight) >> 16);
      int64_t delta = int64_t{v.step} << 22;
      v.position += (v.voiceFlags & SampleBackwards) ? -delta : delta;
    }
  }
}

TEST(Mixer, GainsPanningAndInterpolation) {
  std::vector<uint8_t> hundred = {100, 100, 100}, loud = {127, 127}, negative = {0xFF, 0xFF}, tens = {10, 20, 0};
  struct {
    std::vector<uint8_t>* data;
    uint16_t volume;
    uint8_t panning;
    Frames expected;
  } cases[] = {
      {&hundred, 128, 128, {6350, 6400}},  {&hundred, 128, 0, {12750, 0}}, {&hundred, 128, 255, {0, 12750}},
      {&hundred, 0, 128, {0, 0}},          {&loud, 128, 0, {16192, 0}},    {&negative, 1, 128, {-1, -1}},  // floor
  };
  for (auto& c : cases) {
    ChannelState v = voice(*c.data, 1, 0, 0, 1024, c.volume, c.panning);
    EXPECT_EQ(mix(1, v), c.expected) << int{(*c.data)[0]} << " " << c.volume << " " << int{c.panning};
  }
  ChannelState a = voice(negative, 1, 0, 0, 1024, 1, 128);  // voices add
  EXPECT_EQ(mix(1, a, voice(hundred, 2, 0, 0, 1024, 128, 128)), (Frames{6350 - 1, 6400 - 1}));
  ChannelState half = voice(tens, 2, 0, 0, 512);  // halfway between 10 and 20
  EXPECT_EQ(heard(2, half), (Frames{10, 15}));
}

TEST(Mixer, BoundaryRule) {
  // A voice without loop ends at its bound, which it tests before each frame: one ending on
  // the last frame of a run is still active until the next run.
  std::vector<uint8_t> fifty(669, 50);
  ChannelState v = voice(fifty, 668, 0, 0, 1024);
  EXPECT_EQ(mix(668, v)[2 * 667 + 1], 6375);
  EXPECT_EQ(v.active, 1);
  EXPECT_EQ(mix(1, v), (Frames{0, 0}));
  EXPECT_EQ(v.active, 0);

  std::vector<uint8_t> ramp = index_ramp(1167);
  v = voice(ramp, 1165, 436, SampleForwardLoop, 2048);
  v.startPosition = 1160;
  EXPECT_EQ(heard(5, v), (Frames{1160 % 128, 1162 % 128, 1164 % 128, 437 % 128, 439 % 128}));
  EXPECT_EQ(v.position >> 32, 441);

  v = voice(ramp, 20, 10, SamplePingPongLoop, 1024);
  v.startPosition = 18;
  EXPECT_EQ(heard(17, v), (Frames{18, 19, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 11, 12, 13, 14}));
  EXPECT_EQ((Frames{v.voiceFlags & SampleBackwards, static_cast<int32_t>(v.boundAhead)}), (Frames{0, 20}));

  // Running back from 0.25 by 0.5 reaches -0.25: still below the loop start, so it turns.
  v = voice(ramp, 0, 4, SamplePingPongLoop | SampleBackwards, 512);
  v.startPosition = -1;
  v.position = int64_t{1} << 30;
  mix(2, v);
  EXPECT_EQ((Frames{static_cast<int32_t>(v.position >> 30), v.voiceFlags & SampleBackwards}), (Frames{3, 0}));
}

TEST(Mixer, RunLengthsMatchThePerFrameRule) {
  std::mt19937 random(20261206);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<std::vector<uint8_t>> samples;
    std::vector<ChannelState> voices(MaxChannels);
    for (int k = 0, count = 1 + below(3); k < count; ++k) {
      bool wide = below(2);
      uint32_t length = 1 + below(300), loopStart = 0, end = below(length + 1);
      const uint8_t loops[] = {0, SampleForwardLoop, SamplePingPongLoop};
      uint8_t flags = (wide ? Sample16Bit : 0) | loops[below(3)];
      if (flags & (SampleForwardLoop | SamplePingPongLoop)) {
        loopStart = below(length);
        end = loopStart + below(length - loopStart + 1);  // a loop of no length ends the voice
      }
      // Exactly the values the format promises, so any read past them is a fault.
      std::vector<uint8_t> data((end + ((flags & SamplePingPongLoop) ? 2 : 1)) * (wide ? 2 : 1));
      for (uint8_t& b : data) b = static_cast<uint8_t>(random());
      samples.push_back(std::move(data));
      uint16_t steps[] = {0, static_cast<uint16_t>(1 + below(64)), static_cast<uint16_t>(below(4000)),
                          static_cast<uint16_t>(below(65536))};
      ChannelState v = voice(samples.back(), end, loopStart, flags, steps[below(4)], below(129),
                             static_cast<uint8_t>(below(256)));
      v.active = below(10) != 0;  // an inactive voice keeps its start request for later
      if (below(3) == 0) {
        // Mid-flight: somewhere inside the bounds, possibly on the way back of a ping-pong.
        v.startPosition = -1;
        v.position = (int64_t{below(end + 1)} << 32) + (int64_t{below(1024)} << 22);
        if ((flags & SamplePingPongLoop) && below(2)) {
          v.voiceFlags |= SampleBackwards;
          std::swap(v.boundAhead, v.boundBehind);
        }
      } else {
        v.startPosition = static_cast<int32_t>(below(2) ? below(end + 1) : below(65281));
      }
      voices[below(MaxChannels)] = v;
    }
    std::vector<ChannelState> reference = voices;
    for (uint32_t r = 0, runs = 1 + below(4); r < runs; ++r) {
      uint32_t frames = below(2) ? below(8) : below(1500);
      Frames fast(2 * frames), slow(2 * frames);
      mix_voices(voices.data(), frames, fast.data());
      reference_mix(reference.data(), frames, slow.data());
      ASSERT_EQ(fast, slow) << "trial " << trial << " run " << r;
      for (uint32_t c = 0; c < MaxChannels; ++c) {
        const ChannelState &a = voices[c], &b = reference[c];
        ASSERT_EQ((std::vector<int64_t>{a.active, a.position, a.voiceFlags, a.boundAhead, a.startPosition}),
                  (std::vector<int64_t>{b.active, b.position, b.voiceFlags, b.boundAhead, b.startPosition}))
            << trial;
      }
    }
  }
}

// The vector build of the inner loop against the plain one: random data, steps, gains and
// fractions, both widths and directions, runs from a single frame to long ones that reach
// the first and last frames of the data (which is exactly as long as the run reads).
TEST(Mixer, VectorRunsMatchThePlainRuns) {
  if (!mix_build_available(MixBuild::Vector)) GTEST_SKIP() << "no vector build on this processor";
  std::mt19937_64 random(1206);
  auto below = [&](uint64_t n) { return random() % n; };
  for (int trial = 0; trial < 20000; ++trial) {
    const bool wide = below(2), backwards = below(2);
    const uint32_t frames = 3 + static_cast<uint32_t>(below(4) == 0 ? below(8) : below(3000));
    std::vector<uint8_t> data(frames * (wide ? 2 : 1));
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    const uint16_t steps[] = {static_cast<uint16_t>(1 + below(8)), static_cast<uint16_t>(1 + below(2048)),
                              static_cast<uint16_t>(1 + below(65535))};
    const int64_t delta = int64_t{steps[below(3)]} << 22;
    // Any fraction, not only whole 1/1024 frames, so the lane arithmetic is tried on every bit.
    const uint32_t fraction = below(2) ? static_cast<uint32_t>(random()) : static_cast<uint32_t>(below(1024)) << 22;
    // Start where the whole run stays inside the data: frames index .. index + 1 read.
    const int64_t span = (int64_t{frames} - 2) << 32;  // room from the first readable pair to the last
    uint32_t n = 1 + static_cast<uint32_t>(below(700));
    const int64_t travel = static_cast<int64_t>(n - 1) * delta;
    if (travel + fraction > span) n = static_cast<uint32_t>((span - fraction) / delta) + 1;
    const int64_t room = span - fraction - static_cast<int64_t>(n - 1) * delta;
    const int64_t lowest = (below(3) == 0 ? 0 : static_cast<int64_t>(below(static_cast<uint64_t>(room >> 32) + 1)))
                           << 32;
    const int64_t start = backwards ? lowest + fraction + static_cast<int64_t>(n - 1) * delta : lowest + fraction;
    const uint16_t volume = static_cast<uint16_t>(below(129));
    const uint8_t panning = static_cast<uint8_t>(below(256));
    const int32_t gainLeft = volume * (255 - panning) * (wide ? 1 : 256), gainRight = volume * panning * (wide ? 1 : 256);
    Frames plain(2 * n), vector(2 * n);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = vector[i] = static_cast<int32_t>(random() % 2000000) - 1000000;
    // The data ends with the last frame the run reads: the vector build may read no further.
    const int64_t last = static_cast<int64_t>(frames) - 1;
    const int64_t a = mix_run_with(MixBuild::Plain, wide, backwards, data.data(), start, delta, n, gainLeft,
                                   gainRight, plain.data(), last);
    const int64_t b = mix_run_with(MixBuild::Vector, wide, backwards, data.data(), start, delta, n, gainLeft,
                                   gainRight, vector.data(), last);
    ASSERT_EQ(a, b) << "trial " << trial;
    ASSERT_EQ(plain, vector) << "trial " << trial << (wide ? " 16-bit" : " 8-bit") << (backwards ? " backwards" : "")
                             << " n " << n << " step " << (delta >> 22);
  }
}

}  // namespace
