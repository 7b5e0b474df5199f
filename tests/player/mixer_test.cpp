// The mixer's fixed-point arithmetic, its loops, and its long runs against single frames.
#include <gtest/gtest.h>

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

TEST(Mixer, GainsPanningAndInterpolation) {
  std::vector<uint8_t> hundred = {100, 100, 100}, negative = {0xFF, 0xFF}, tens = {10, 20, 0};
  for (auto [data, volume, panning, expected] : std::vector<std::tuple<std::vector<uint8_t>*, int, int, Frames>>{
           {&hundred, 128, 128, {6350, 6400}}, {&hundred, 128, 0, {12750, 0}},
           {&hundred, 128, 255, {0, 12750}},   {&negative, 1, 128, {-1, -1}}}) {  // the last rounds down
    ChannelState v = voice(*data, 1, 0, 0, 1024, static_cast<uint16_t>(volume), static_cast<uint8_t>(panning));
    EXPECT_EQ(mix(1, v), expected) << int{(*data)[0]} << " " << volume << " " << panning;
  }
  ChannelState a = voice(negative, 1, 0, 0, 1024, 1, 128);  // voices add
  EXPECT_EQ(mix(1, a, voice(hundred, 2, 0, 0, 1024, 128, 128)), (Frames{6350 - 1, 6400 - 1}));
  ChannelState half = voice(tens, 2, 0, 0, 512);  // halfway between 10 and 20
  EXPECT_EQ(heard(2, half), (Frames{10, 15}));
}

TEST(Mixer, LoopsTurnOnTheirBounds) {
  // A forward loop 436..1165 played two frames a step, a ping-pong loop 10..20 one a step.
  std::vector<uint8_t> ramp = index_ramp(1167);
  ChannelState v = voice(ramp, 1165, 436, SampleForwardLoop, 2048);
  v.startPosition = 1160;
  EXPECT_EQ(heard(5, v), (Frames{1160 % 128, 1162 % 128, 1164 % 128, 437 % 128, 439 % 128}));
  v = voice(ramp, 20, 10, SamplePingPongLoop, 1024);
  v.startPosition = 18;
  EXPECT_EQ(heard(17, v), (Frames{18, 19, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 11, 12, 13, 14}));
}

// Long runs against the same voice mixed one frame per call, where every run is one frame long
// and goes through the plain loop: random data, loops, steps, gains and start points.
TEST(Mixer, LongRunsMatchFrameByFrame) {
  std::mt19937 random(20261206);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int trial = 0; trial < 1500; ++trial) {
    const bool wide = below(2);
    const uint8_t loops[] = {0, SampleForwardLoop, SamplePingPongLoop};
    const uint8_t flags = (wide ? Sample16Bit : 0) | loops[below(3)];
    const uint32_t loopStart = below(300), end = loopStart + below(300);  // a loop may have no length
    // Exactly the values the format promises, so any read past them is a fault.
    std::vector<uint8_t> data((end + ((flags & SamplePingPongLoop) ? 2 : 1)) * (wide ? 2 : 1));
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    const uint16_t steps[] = {0, static_cast<uint16_t>(1 + below(64)), static_cast<uint16_t>(below(4000)),
                              static_cast<uint16_t>(below(65536))};
    ChannelState whole = voice(data, end, loopStart, flags, steps[below(4)], static_cast<uint16_t>(below(129)),
                               static_cast<uint8_t>(below(256)));
    // Mostly inside the sample; now and then far past its end.
    whole.startPosition = static_cast<int32_t>(below(4) == 0 ? below(65281) : below(end + 1));
    ChannelState single = whole;
    const uint32_t frames = below(1500);
    Frames expected;
    for (uint32_t f = 0; f < frames; ++f) {
      const Frames one = mix(1, single);
      expected.insert(expected.end(), one.begin(), one.end());
    }
    ASSERT_EQ(mix(frames, whole), expected) << "trial " << trial << (wide ? " 16-bit" : " 8-bit") << " flags "
                                            << int{flags} << " step " << whole.step;
  }
}

}  // namespace
