// Start-up cost of the tunes: assembling all thirteen images (allocation, zero fill, copy of
// the stored part, decoding the samples) against copying the same decoded bytes with memcpy.
//
// The stored parts and streams here have the sizes and block counts of the built-in tunes;
// their streams are random (every class equally likely), which costs the decoder at least
// as much as real ones: the synthesis work per block is the same and random groups are
// the densest to read.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"

namespace {

struct TuneSize {
  uint32_t stored, blocks;
};
constexpr TuneSize Sizes[TuneCount] = {
    {21187, 726}, {25329, 2716}, {13901, 487},  {15889, 598},  {14387, 719},  {16370, 2311}, {16385, 972},
    {16536, 152}, {12251, 974},  {15176, 1170}, {15506, 1990}, {18032, 3113}, {14802, 16},
};

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> random_stream(uint32_t blocks, std::mt19937& rng) {
  std::vector<uint8_t> out;
  put_u32(out, blocks);
  for (uint32_t left = blocks; left > 0;) {
    const uint32_t count = left < GroupBlocks ? left : GroupBlocks;
    uint32_t masks[3] = {0, 0, 0};
    size_t data = 0;
    for (int m = 0; m < SubbandCount; ++m) {
      const uint32_t k = rng() % 7;  // 0 silent, else one of the six coded classes
      const bool a = k == 1 || k == 2 || k == 4, b = k == 1 || k == 3 || k == 5, c = k == 2 || k == 3 || k == 6;
      masks[0] |= uint32_t{a} << m, masks[1] |= uint32_t{b} << m, masks[2] |= uint32_t{c} << m;
      data += (count * static_cast<uint32_t>(subband_class(a, b, c).bits) + 7) / 8;
    }
    for (uint32_t mask : masks) put_u32(out, mask);
    for (size_t i = 0; i < data; ++i) out.push_back(static_cast<uint8_t>(rng()));
    left -= count;
  }
  return out;
}

struct BenchTune {
  std::vector<uint8_t> stored, stream;
};

std::vector<BenchTune> make_tunes() {
  std::mt19937 rng(1);
  std::vector<BenchTune> tunes;
  for (const TuneSize& s : Sizes) {
    BenchTune t{std::vector<uint8_t>(s.stored, 0), random_stream(s.blocks, rng)};
    const uint8_t magic[4] = {'Q', 'K', 'B', 0};
    std::memcpy(t.stored.data(), magic, 4);
    tunes.push_back(std::move(t));
  }
  return tunes;
}

const std::vector<BenchTune> Tunes = make_tunes();

size_t decoded_bytes() {
  size_t total = 0;
  for (const TuneSize& s : Sizes) total += decoded_sample_count(s.blocks);
  return total;
}

void BM_AssembleAllTunes(benchmark::State& state) {
  for (auto _ : state) {
    for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
    benchmark::DoNotOptimize(tune_images[12]);
    state.PauseTiming();
    free_tune_images();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * decoded_bytes()));
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

const StoredTune StoredTunes[TuneCount] = {
#define TUNE(i) {Tunes[i].stored.data(), Sizes[i].stored, Tunes[i].stream.data()}
    TUNE(0), TUNE(1), TUNE(2), TUNE(3), TUNE(4), TUNE(5), TUNE(6),
    TUNE(7), TUNE(8), TUNE(9), TUNE(10), TUNE(11), TUNE(12),
#undef TUNE
};

BENCHMARK_MAIN();
