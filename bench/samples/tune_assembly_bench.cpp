// Start-up cost of the tunes: assembling all thirteen built-in images (allocation, zero
// fill, copy of the stored part, decoding the samples) against copying the same decoded
// bytes with memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "platform/headless/headless.h"

namespace {

size_t decoded_bytes() {
  size_t total = 0;
  for (const StoredTune& t : StoredTunes) {
    uint32_t blocks;
    std::memcpy(&blocks, t.stream, 4);
    total += decoded_sample_count(blocks);
  }
  return total;
}

void BM_AssembleAllTunes(benchmark::State& state) {
  headless_reset(HeadlessConfig{});
  for (auto _ : state) {
    for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
    benchmark::DoNotOptimize(tune_images[12]);
    state.PauseTiming();
    free_tune_images();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * decoded_bytes()));
  state.counters["decoded_bytes"] = static_cast<double>(decoded_bytes());
}
BENCHMARK(BM_AssembleAllTunes)->Unit(benchmark::kMillisecond);

// The baseline: the decoded bytes of all thirteen tunes copied from where they already are.
void BM_MemcpyDecodedBytes(benchmark::State& state) {
  const size_t total = decoded_bytes();
  std::vector<uint8_t> from(total, 0x11), to(total);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), total);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}
BENCHMARK(BM_MemcpyDecodedBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
