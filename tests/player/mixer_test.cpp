// The mixer against the per-frame boundary rule, and its fixed-point arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "player/mixer.h"
#include "player/player.h"

namespace {

struct Voices {
  std::vector<ChannelState> channels = std::vector<ChannelState>(MaxChannels);
  ChannelState& operator[](int c) { return channels[c]; }
  std::vector<int32_t> mix(uint32_t frames) {
    std::vector<int32_t> out(2 * frames, 12345);
    EXPECT_EQ(mix_voices(channels.data(), frames, out.data()), out.data() + 2 * frames);
    return out;
  }
};

ChannelState voice(const std::vector<uint8_t>& data, uint32_t end, uint32_t loopStart, uint8_t flags, uint16_t step,
                   uint16_t volume = 128, uint8_t panning = 128) {
  ChannelState v{};
  v.active = 1;
  v.sampleData = data.data();
  v.boundAhead = end;
  v.boundBehind = loopStart;
  v.voiceFlags = flags;
  v.startPosition = 0;
  v.step = step;
  v.mixVolume = volume;
  v.mixPanning = panning;
  return v;
}

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// Frame values 0..127 repeating; read back from a hard-right voice at full volume, where
// the right side gets floor(s * 127.5).
std::vector<uint8_t> index_ramp(uint32_t frames) {
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < frames; ++i) out.push_back(static_cast<uint8_t>(i % 128));
  return out;
}
int played(int32_t right) {
  return (2 * right + 254) / 255;
}

// --- The per-frame rule, written plainly --------------------------------------------------

void reference_mix(ChannelState* channels, uint32_t frames, int32_t* out) {
  if (frames == 0) return;
  std::memset(out, 0, sizeof(int32_t) * 2 * frames);
  for (uint32_t c = 0; c < MaxChannels; ++c) {
    ChannelState& v = channels[c];
    if (!v.active) continue;
    if (v.startPosition != -1) {
      v.position = int64_t{v.startPosition} << 32;
      v.startPosition = -1;
    }
    bool wide = v.voiceFlags & Sample16Bit;
    int64_t gainLeft = int64_t{v.mixVolume} * (255 - v.mixPanning) * (wide ? 1 : 256);
    int64_t gainRight = int64_t{v.mixVolume} * v.mixPanning * (wide ? 1 : 256);
    for (uint32_t f = 0; f < frames; ++f) {
      bool stopped = false;
      for (;;) {
        bool backwards = v.voiceFlags & SampleBackwards;
        int64_t ahead = int64_t{v.boundAhead} << 32;
        if (backwards ? v.position >= ahead : v.position < ahead) break;
        if (v.voiceFlags & SamplePingPongLoop) {
          if (v.boundAhead == v.boundBehind || backwards == (v.boundAhead > v.boundBehind)) {
            stopped = true;
            break;
          }
          v.position = 2 * ahead - v.position;
          v.voiceFlags ^= SampleBackwards;
          std::swap(v.boundAhead, v.boundBehind);
        } else if ((v.voiceFlags & SampleForwardLoop) && !backwards && v.boundAhead > v.boundBehind) {
          v.position -= int64_t{v.boundAhead - v.boundBehind} << 32;
        } else {
          stopped = true;
          break;
        }
      }
      if (stopped) {
        v.active = 0;
        break;
      }
      if (v.step == 0) break;
      int64_t i = v.position >> 32;
      int64_t fraction = (v.position & 0xFFFFFFFF) >> 16;
      auto at = [&](int64_t k) -> int64_t {
        if (wide) {
          int16_t s;
          std::memcpy(&s, v.sampleData + 2 * k, 2);
          return s;
        }
        return static_cast<int8_t>(v.sampleData[k]);
      };
      int64_t s0 = at(i), s1 = at(i + 1);
      int64_t s = s0 + (((s1 - s0) * fraction) >> 16);
      out[2 * f] += static_cast<int32_t>((s * gainLeft) >> 16);
      out[2 * f + 1] += static_cast<int32_t>((s * gainRight) >> 16);
      int64_t delta = int64_t{v.step} << 22;
      v.position += (v.voiceFlags & SampleBackwards) ? -delta : delta;
    }
  }
}

TEST(Mixer, GainsAndPanning) {
  std::vector<uint8_t> data = bytes({100, 100, 100});
  Voices v;
  v[0] = voice(data, 2, 0, 0, 1024, 128, 128);
  std::vector<int32_t> out = v.mix(1);
  EXPECT_EQ(out[0], 6350);
  EXPECT_EQ(out[1], 6400);
  v[0] = voice(data, 2, 0, 0, 1024, 128, 0);
  out = v.mix(1);
  EXPECT_EQ(out[0], 100 * 255 / 2);
  EXPECT_EQ(out[1], 0);
  v[0] = voice(data, 2, 0, 0, 1024, 128, 255);
  EXPECT_EQ(v.mix(1)[0], 0);
  v[0] = voice(data, 2, 0, 0, 1024, 0, 128);
  EXPECT_EQ(v.mix(1), (std::vector<int32_t>{0, 0}));
  // Negative values shift down (floor), and voices add.
  std::vector<uint8_t> negative = bytes({-1, -1});
  v[0] = voice(negative, 1, 0, 0, 1024, 1, 128);
  v[5] = voice(data, 2, 0, 0, 1024, 128, 128);
  out = v.mix(1);
  EXPECT_EQ(out[0], 6350 - 1);
  EXPECT_EQ(out[1], 6400 - 1);
  // Full scale: 127 at full volume hard left.
  std::vector<uint8_t> loud = bytes({127, 127});
  Voices w;
  w[0] = voice(loud, 1, 0, 0, 1024, 128, 0);
  EXPECT_EQ(w.mix(1)[0], 16192);
}

TEST(Mixer, SixteenBitData) {
  std::vector<uint8_t> data(6);
  int16_t values[3] = {-32768, 32767, 1000};
  std::memcpy(data.data(), values, 6);
  Voices v;
  v[0] = voice(data, 2, 0, Sample16Bit, 1024, 128, 0);
  std::vector<int32_t> out = v.mix(2);
  EXPECT_EQ(out[0], (-32768 * 128 * 255) >> 16);
  EXPECT_EQ(out[2], (32767 * 128 * 255) >> 16);
}

TEST(Mixer, InterpolationIsSixteenPointSixteen) {
  std::vector<uint8_t> data = bytes({10, 20, 0});
  Voices v;
  v[0] = voice(data, 2, 0, 0, 512, 128, 255);
  std::vector<int32_t> out = v.mix(2);
  EXPECT_EQ(played(out[1]), 10);
  EXPECT_EQ(played(out[3]), 15);
}

TEST(Mixer, SampleWithoutLoopSoundsExactlyItsLength) {
  std::vector<uint8_t> data(669, 50);
  Voices v;
  v[0] = voice(data, 668, 0, 0, 1024);
  std::vector<int32_t> out = v.mix(700);
  int sounding = 0;
  for (uint32_t f = 0; f < 700; ++f) sounding += out[2 * f] != 0;
  EXPECT_EQ(sounding, 668);
  EXPECT_EQ(out[2 * 667 + 1], 3200);
  EXPECT_EQ(v[0].active, 0);
  // Ending on the last frame of a run: the voice stays active until the next frame's test.
  v[0] = voice(data, 668, 0, 0, 1024);
  v.mix(668);
  EXPECT_EQ(v[0].active, 1);
  v.mix(1);
  EXPECT_EQ(v[0].active, 0);
}

TEST(Mixer, ForwardLoopJumpsBackByTheLoopLength) {
  std::vector<uint8_t> data = index_ramp(1167);
  Voices v;
  v[0] = voice(data, 1165, 436, SampleForwardLoop, 2048, 128, 255);
  v[0].startPosition = 1160;
  std::vector<int32_t> out = v.mix(5);
  std::vector<int> frames;
  for (int f = 0; f < 5; ++f) frames.push_back(played(out[2 * f + 1]));
  EXPECT_EQ(frames, (std::vector<int>{1160 % 128, 1162 % 128, 1164 % 128, 437 % 128, 439 % 128}));
  EXPECT_EQ(v[0].position >> 32, 441);
}

TEST(Mixer, PingPongReflectsAtBothEnds) {
  std::vector<uint8_t> data = index_ramp(22);
  Voices v;
  v[0] = voice(data, 20, 10, SamplePingPongLoop, 1024, 128, 255);
  v[0].startPosition = 18;
  std::vector<int32_t> out = v.mix(17);
  std::vector<int> frames;
  for (int f = 0; f < 17; ++f) frames.push_back(played(out[2 * f + 1]));
  EXPECT_EQ(frames, (std::vector<int>{18, 19, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 11, 12, 13, 14}));
  EXPECT_EQ(v[0].voiceFlags & SampleBackwards, 0);
  EXPECT_EQ(v[0].boundAhead, 20u);
}

TEST(Mixer, SampleOffsetsBeyondTheEnd) {
  std::vector<uint8_t> data = index_ramp(102);
  Voices v;
  v[0] = voice(data, 100, 0, 0, 1024, 128, 255);
  v[0].startPosition = 256;
  EXPECT_EQ(v.mix(4), std::vector<int32_t>(8, 0));
  EXPECT_EQ(v[0].active, 0);
  v[0] = voice(data, 100, 40, SampleForwardLoop, 1024, 128, 255);
  v[0].startPosition = 65280;  // back by whole loop lengths of 60 until below 100
  std::vector<int32_t> out = v.mix(1);
  EXPECT_EQ(played(out[1]), 40 + (65280 - 100) % 60);
}

TEST(Mixer, StartRequestWaitsForAnInactiveVoice) {
  std::vector<uint8_t> data = index_ramp(12);
  Voices v;
  v[0] = voice(data, 10, 0, 0, 1024);
  v[0].active = 0;
  v[0].startPosition = 3;
  v.mix(2);
  EXPECT_EQ(v[0].startPosition, 3);
}

// --- Sound behaviour where the rule would divide by zero or never settle -----------------

TEST(Mixer, StepZeroHoldsStillAndAddsNothing) {
  std::vector<uint8_t> data = bytes({100, 100, 100});
  Voices v;
  v[0] = voice(data, 2, 0, 0, 0);
  v[0].startPosition = 1;
  EXPECT_EQ(v.mix(10), std::vector<int32_t>(20, 0));
  EXPECT_EQ(v[0].active, 1);
  EXPECT_EQ(v[0].position, int64_t{1} << 32);
}

TEST(Mixer, PingPongFromFrameZeroTurnsBelowZero) {
  // Running back from 0.25 by 0.5 reaches -0.25: still below the loop start, so it turns.
  std::vector<uint8_t> data = index_ramp(6);
  Voices v;
  v[0] = voice(data, 0, 4, SamplePingPongLoop | SampleBackwards, 512, 128, 255);
  v[0].startPosition = -1;
  v[0].position = int64_t{1} << 30;
  v.mix(2);
  EXPECT_EQ(v[0].position, (int64_t{3} << 30));
  EXPECT_EQ(v[0].voiceFlags & SampleBackwards, 0);
}

TEST(Mixer, LoopWithoutLengthEndsTheVoice) {
  std::vector<uint8_t> data = index_ramp(12);
  for (uint8_t kind : {SampleForwardLoop, SamplePingPongLoop}) {
    Voices v;
    v[0] = voice(data, 5, 5, kind, 1024);
    v.mix(10);
    EXPECT_EQ(v[0].active, 0);
  }
}

// --- Runs against the per-frame rule --------------------------------------------------------

TEST(Mixer, RunLengthsMatchThePerFrameRule) {
  std::mt19937 random(20261206);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<std::vector<uint8_t>> samples;
    std::vector<ChannelState> voices(MaxChannels);
    int count = 1 + below(3);
    for (int k = 0; k < count; ++k) {
      bool wide = below(2);
      uint32_t length = 1 + below(300);
      uint8_t flags = wide ? Sample16Bit : 0;
      uint32_t loopStart = 0, end = below(length + 1);
      switch (below(3)) {
        case 1: flags |= SampleForwardLoop; break;
        case 2: flags |= SamplePingPongLoop; break;
      }
      if (flags & (SampleForwardLoop | SamplePingPongLoop)) {
        loopStart = below(length);
        end = loopStart + 1 + below(length - loopStart);
      }
      // Exactly the values the format promises, so any read past them is a fault.
      std::vector<uint8_t> data((end + ((flags & SamplePingPongLoop) ? 2 : 1)) * (wide ? 2 : 1));
      for (uint8_t& b : data) b = static_cast<uint8_t>(random());
      samples.push_back(std::move(data));
      uint16_t steps[] = {0, static_cast<uint16_t>(1 + below(64)), static_cast<uint16_t>(below(4000)),
                          static_cast<uint16_t>(below(65536))};
      ChannelState v = voice(samples.back(), end, loopStart, flags, steps[below(4)], below(129),
                             static_cast<uint8_t>(below(256)));
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
    uint32_t runs = 1 + below(4);
    for (uint32_t r = 0; r < runs; ++r) {
      uint32_t frames = below(2) ? below(8) : below(1500);
      std::vector<int32_t> fast(2 * frames), slow(2 * frames);
      mix_voices(voices.data(), frames, fast.data());
      reference_mix(reference.data(), frames, slow.data());
      ASSERT_EQ(fast, slow) << "trial " << trial << " run " << r;
      for (uint32_t c = 0; c < MaxChannels; ++c) {
        ASSERT_EQ(voices[c].active, reference[c].active) << trial;
        ASSERT_EQ(voices[c].position, reference[c].position) << trial;
        ASSERT_EQ(voices[c].voiceFlags, reference[c].voiceFlags) << trial;
        ASSERT_EQ(voices[c].boundAhead, reference[c].boundAhead) << trial;
        ASSERT_EQ(voices[c].startPosition, reference[c].startPosition) << trial;
      }
    }
  }
}

}  // namespace
