// Importing an extended module (reading, mapping, writing and validating the image) beside
// copying the file's bytes once, and a one-pass render beside the player alone. Compare the
// "bytes_per_second" of the first pair and the "audio_s" rates of the second, in one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "player/player.h"
#include "tests/tools/xm_import/xm_tunes.h"
#include "tools/playback/tune_render.h"
#include "tools/xm_import/xm_import.h"

namespace {

// Eight channels, sixteen full patterns and eight 16-bit samples of 20000 frames: the size
// of a typical game tune.
XmModule typical_module() {
  XmModule m;
  m.channels = 8;
  for (int i = 0; i < 8; ++i) m.instruments.push_back(xm::instrument(xm::sine_sample(20000, true)));
  for (int p = 0; p < 16; ++p) {
    XmPattern pattern = xm::pattern(64, 8);
    for (size_t c = 0; c < pattern.cells.size(); c += 3)
      pattern.cells[c] = {static_cast<uint8_t>(30 + c % 40), static_cast<uint8_t>(1 + c % 8), 0x30, 0x0A, 0x01};
    m.patterns.push_back(pattern);
  }
  m.orders.clear();
  for (int p = 0; p < 16; ++p) m.orders.push_back(static_cast<uint8_t>(p));
  return m;
}

const std::vector<uint8_t>& typical_file() {
  static const std::vector<uint8_t> file = write_xm(typical_module());
  return file;
}

void BM_CopyFileBaseline(benchmark::State& state) {
  const std::vector<uint8_t>& file = typical_file();
  std::vector<uint8_t> copy(file.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), file.data(), file.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_CopyFileBaseline);

void BM_ImportXm(benchmark::State& state) {
  const std::vector<uint8_t>& file = typical_file();
  for (auto _ : state) {
    XmImport r = import_xm(file);
    benchmark::DoNotOptimize(r.image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_ImportXm);

constexpr uint32_t RenderSeconds = 10;

void BM_PlayerRenderBaseline(benchmark::State& state) {
  std::vector<uint8_t> image = import_xm(typical_file()).image;
  auto player = std::make_unique<PlayerState>();
  std::vector<int32_t> mix(2 * 64);
  for (auto _ : state) {
    player_init(image.data(), player.get());
    player_start(0);
    for (uint32_t f = 0; f < RenderSeconds * OutputRate; f += 64) player_render(64, mix.data());
    player_stop();
    benchmark::DoNotOptimize(mix.data());
  }
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations() * RenderSeconds),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayerRenderBaseline)->Unit(benchmark::kMillisecond);

void BM_RenderImage(benchmark::State& state) {
  std::vector<uint8_t> image = import_xm(typical_file()).image;
  RenderOptions options;
  options.seconds = RenderSeconds;
  for (auto _ : state) {
    RenderResult r = render_image(image, options);
    benchmark::DoNotOptimize(r.frames.data());
  }
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations() * RenderSeconds),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
