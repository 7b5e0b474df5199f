// Helpers for player tests: small tunes built with the image writer, played tick by tick.
#pragma once
#include <memory>
#include <string_view>
#include <vector>

#include "player/player.h"
#include "player/writer.h"

namespace tune {

using Rows = std::vector<std::pair<uint32_t, uint32_t>>;  // (order position, row)
using Values = std::vector<int64_t>;

// A sample of `frames` values counting up from 1, so positions can be read off the output.
inline SampleDef ramp_sample(uint32_t frames, LoopKind loop = LoopKind::None, uint32_t loopStart = 0,
                             uint32_t loopLength = 0) {
  SampleDef s;
  for (uint32_t i = 0; i < frames; ++i) s.data.push_back(static_cast<int16_t>(1 + i % 100));
  s.loop = loop;
  s.loopStart = loopStart;
  s.loopLength = loopLength;
  return s;
}

inline InstrumentDef instrument(SampleDef sample) {
  InstrumentDef i;
  i.samples.push_back(std::move(sample));
  return i;
}

inline PatternDef pattern(const std::vector<std::string_view>& rows) {
  PatternDef p;
  for (std::string_view r : rows) p.rows.push_back(*parse_row(r));
  return p;
}

// A module of `patterns` with one instrument that plays a long looped ramp.
inline ModuleDef song(std::vector<PatternDef> patterns, std::vector<uint8_t> orders = {0}, uint8_t speed = 6) {
  ModuleDef m;
  m.patterns = std::move(patterns);
  m.orders = std::move(orders);
  m.speed = speed;
  m.instruments.push_back(instrument(ramp_sample(1000, LoopKind::Forward, 0, 1000)));
  return m;
}

// A loaded (and by default started) player with its image; the test drives player_tick.
struct Player {
  std::vector<uint8_t> image;
  std::unique_ptr<PlayerState> state = std::make_unique<PlayerState>();

  explicit Player(const ModuleDef& def, bool start = true) : image(write_module_image(def)) {
    player_init(image.data(), state.get());
    if (start) player_start(0);
  }
  PlayerState& p() { return *state; }
  ChannelState& channel(int c) { return state->channels[c]; }
  void tick() { player_tick(*state); }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) tick();
  }
  // (order, row) of each row read over `n` ticks.
  Rows rows(int n) {
    Rows out;
    for (int i = 0; i < n; ++i)
      if (tick(), state->rowTick) out.push_back({state->orderPosition, state->row});
    return out;
  }
  // field(state) after each of `n` ticks.
  template <typename F>
  Values trace(int n, F field) {
    Values out;
    for (int i = 0; i < n; ++i) out.push_back((tick(), field(*state)));
    return out;
  }
};

}  // namespace tune
