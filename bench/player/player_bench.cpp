// Seconds of 44100 Hz stereo that player_render makes per CPU second, with every voice of
// a 4-channel and a 32-channel tune sounding, beside a loop that only writes as many zero
// frames. Compare the "audio_s" rates of the three in one run.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "player/player.h"
#include "player/writer.h"

namespace {

ModuleSpec all_voices(uint32_t channels) {
  ModuleSpec m;
  m.channelCount = channels;
  m.speed = 6;
  m.tempo = 125;
  SampleSpec narrow, wide;
  for (int i = 0; i < 4000; ++i) {
    narrow.data.push_back(static_cast<int16_t>((i * 13) % 256 - 128));
    wide.data.push_back(static_cast<int16_t>((i * 1031) % 65536 - 32768));
  }
  narrow.loop = wide.loop = LoopKind::Forward;
  narrow.loopLength = wide.loopLength = 4000;
  wide.sixteenBit = true;
  InstrumentSpec a, b;
  a.samples = {narrow};
  b.samples = {wide};
  m.instruments = {a, b};
  // Every channel starts a note on row 0 and holds it; notes spread over three octaves.
  std::vector<CellSpec> row;
  for (uint32_t c = 0; c < channels; ++c)
    row.push_back(CellSpec{static_cast<uint8_t>(c), static_cast<uint8_t>(37 + c % 36),
                           static_cast<uint8_t>(1 + (c % 4 == 3 ? 1 : 0)), 0x40, -1, 0});
  PatternSpec p = empty_pattern(64);
  p.rows[0] = row;
  m.patterns = {p};
  return m;
}

void render_tune(benchmark::State& state, uint32_t channels) {
  std::vector<uint8_t> image = write_module_image(all_voices(channels));
  auto player = std::make_unique<PlayerState>();
  player_init(image.data(), player.get());
  player_start(0);
  std::vector<int32_t> mix(2 * OutputRate);
  for (auto _ : state) {
    player_render(OutputRate, mix.data());
    benchmark::DoNotOptimize(mix.data());
  }
  int sounding = 0;
  for (const ChannelState& c : player->channels) sounding += c.active;
  state.counters["voices"] = sounding;
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ZeroFrames(benchmark::State& state) {
  std::vector<int32_t> mix(2 * OutputRate);
  for (auto _ : state) {
    int32_t* out = mix.data();
    for (uint32_t f = 0; f < OutputRate; ++f) {
      out[2 * f] = 0;
      out[2 * f + 1] = 0;
    }
    benchmark::DoNotOptimize(mix.data());
    benchmark::ClobberMemory();
  }
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Render4Channels(benchmark::State& state) {
  render_tune(state, 4);
}
void BM_Render32Channels(benchmark::State& state) {
  render_tune(state, 32);
}

BENCHMARK(BM_ZeroFrames);
BENCHMARK(BM_Render4Channels);
BENCHMARK(BM_Render32Channels);

}  // namespace

BENCHMARK_MAIN();
