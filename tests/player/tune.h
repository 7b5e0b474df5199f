// Helpers for player tests: small tunes built with the image writer, played tick by tick.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <vector>

#include "player/player.h"
#include "player/writer.h"

namespace tune {

using Values = std::vector<int64_t>;

// A sample of `frames` values counting up from 1, so positions can be read off the output.
inline SampleDef ramp_sample(uint32_t frames, LoopKind loop = LoopKind::None, uint32_t loopStart = 0,
                             uint32_t loopLength = 0) {
  SampleDef s{.loop = loop, .loopStart = loopStart, .loopLength = loopLength};
  for (uint32_t i = 0; i < frames; ++i) s.data.push_back(static_cast<int16_t>(1 + i % 100));
  return s;
}

inline InstrumentDef instrument(SampleDef sample) {
  return InstrumentDef{.samples = {std::move(sample)}};
}

// A module of `patterns` with one instrument that plays a long looped ramp.
inline ModuleDef song(std::vector<PatternDef> patterns, std::vector<uint8_t> orders = {0}, uint8_t speed = 6,
                      uint32_t restartPosition = 0) {
  return ModuleDef{.speed = speed,
                   .restartPosition = restartPosition,
                   .orders = std::move(orders),
                   .patterns = std::move(patterns),
                   .instruments = {instrument(ramp_sample(1000, LoopKind::Forward, 0, 1000))}};
}

// One pattern of text rows.
inline ModuleDef rows(std::initializer_list<std::string_view> text, uint8_t speed = 6) {
  return song({pattern_from_rows(text)}, {0}, speed);
}

// Note C-4 on a constant 100 looped, at `tempo` and `speed`.
inline ModuleDef steady_tone(uint8_t tempo, uint8_t speed = 2) {
  ModuleDef m = song({pattern_from_rows({"C-4 01"})}, {0}, speed);
  m.instruments = {instrument({.data = std::vector<int16_t>(64, 100), .loop = LoopKind::Forward, .loopLength = 64})};
  m.tempo = tempo;
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
};

// What a trace reads after each tick.
using Field = int64_t (*)(const PlayerState&);
inline const ChannelState& first(const PlayerState& p) { return p.channels[0]; }
inline int64_t volume(const PlayerState& p) { return first(p).volume; }
inline int64_t workVolume(const PlayerState& p) { return first(p).workVolume; }
inline int64_t mixVolume(const PlayerState& p) { return first(p).mixVolume; }
inline int64_t period(const PlayerState& p) { return first(p).period; }
inline int64_t workPeriod(const PlayerState& p) { return first(p).workPeriod; }
inline int64_t panning(const PlayerState& p) { return first(p).panning; }
inline int64_t where(const PlayerState& p) { return p.orderPosition * 100 + p.row; }

// A tune played for `skip` ticks, then `field` after each further tick.
struct Trace {
  ModuleDef module;
  Field field;
  Values expected;
  int skip = 0;
};
inline void check(const std::vector<Trace>& traces) {
  for (size_t i = 0; i < traces.size(); ++i) {
    Player t(traces[i].module);
    t.ticks(traces[i].skip);
    Values got;
    while (got.size() < traces[i].expected.size()) {
      t.tick();
      got.push_back(traces[i].field(t.p()));
    }
    EXPECT_EQ(got, traces[i].expected) << "trace " << i;
  }
}

}  // namespace tune
