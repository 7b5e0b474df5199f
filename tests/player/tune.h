// Helpers for player tests: small tunes built with the image writer, played tick by tick.
#pragma once
#include <memory>
#include <vector>

#include "player/player.h"
#include "player/writer.h"

namespace tune {

// A sample of `frames` values, counting up from 1 (so positions can be read off the output).
inline SampleSpec ramp_sample(uint32_t frames, LoopKind loop = LoopKind::None, uint32_t loopStart = 0,
                              uint32_t loopLength = 0) {
  SampleSpec s;
  for (uint32_t i = 0; i < frames; ++i) s.data.push_back(static_cast<int16_t>(1 + i % 100));
  s.loop = loop;
  s.loopStart = loopStart;
  s.loopLength = loopLength;
  return s;
}

inline InstrumentSpec instrument(SampleSpec sample) {
  InstrumentSpec i;
  i.samples.push_back(std::move(sample));
  return i;
}

// A module of `patterns` with one instrument that plays a long looped ramp.
inline ModuleSpec song(std::vector<PatternSpec> patterns, std::vector<uint8_t> orders = {0}) {
  ModuleSpec m;
  m.patterns = std::move(patterns);
  m.orders = std::move(orders);
  m.instruments.push_back(instrument(ramp_sample(1000, LoopKind::Forward, 0, 1000)));
  return m;
}

// A loaded, started player with its image; player_tick is driven by the test.
struct Player {
  std::vector<uint8_t> image;
  std::unique_ptr<PlayerState> state = std::make_unique<PlayerState>();

  explicit Player(const ModuleSpec& spec, bool start = true) : image(write_module_image(spec)) {
    player_init(image.data(), state.get());
    if (start) player_start(0);
  }
  PlayerState& p() { return *state; }
  ChannelState& channel(int c) { return state->channels[c]; }
  void tick() { player_tick(*state); }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) tick();
  }
  // (order position, row) after each of `n` ticks.
  std::vector<std::pair<uint32_t, uint32_t>> walk(int n) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (int i = 0; i < n; ++i) {
      tick();
      out.push_back({state->orderPosition, state->row});
    }
    return out;
  }
  // The sequence of (order, row) on row ticks only, over `n` ticks.
  std::vector<std::pair<uint32_t, uint32_t>> rows(int n) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (int i = 0; i < n; ++i) {
      tick();
      if (state->rowTick) out.push_back({state->orderPosition, state->row});
    }
    return out;
  }
};

}  // namespace tune
