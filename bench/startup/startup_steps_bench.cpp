// Start-up: the time from entering the show to its first presented frame (display set-up,
// pictures, font and bar images, particles, floor colours, the thirteen tunes, the first
// tune's start and one frame), beside the two steps expected to dominate it, each done on
// its own: decoding the two pictures and assembling the thirteen tunes. Runs on the
// headless backend, so no real display or sound device is timed. Times are CPU time of the
// process, which other programs on a busy machine do not stretch as they do the clock.
//
// Then the floor of the tunes' sample decoding: the multiplies and adds it cannot do
// without (the decoder's double arithmetic is fixed bit for bit), counted from the streams'
// group masks, at the rate this machine does them, measured in the same process.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <vector>

#include "assets/pictures.h"
#include "codecs/picture.h"
#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "platform/window.h"

namespace {

double process_cpu_s() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_EntryToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    reset_show_state();
    HeadlessConfig config;
    config.keys = {{0, VK_ESCAPE, true, false}};  // one frame, then the show ends
    headless_reset(config);
    double first = -1;
    headless_set_present_hook([&first](const HeadlessFrame&) {
      if (first < 0) first = process_cpu_s();
    });
    const double entry = process_cpu_s();
    headless_run([] {
      run_show();
      exit_process(0);
    });
    if (first < 0) {
      state.SkipWithError("the show presented no frame");
      break;
    }
    state.SetIterationTime(first - entry);
    headless_set_present_hook(nullptr);
  }
  reset_show_state();
}
BENCHMARK(BM_EntryToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

// What prepare_graphics does for the pictures: both streams decoded and level-stretched.
void BM_DecodeBothPictures(benchmark::State& state) {
  std::vector<uint32_t> logo(640 * 128), sprite(32 * 32);
  for (auto _ : state) {
    decode_picture_stream(LogoStream, LogoStream_size, logo.data(), 640, 128, 22);
    decode_picture_stream(SpriteStream, SpriteStream_size, sprite.data(), 32, 32, 22);
    benchmark::DoNotOptimize(logo.data());
    benchmark::DoNotOptimize(sprite.data());
  }
}
BENCHMARK(BM_DecodeBothPictures)->Unit(benchmark::kMillisecond);

void BM_AssembleThirteenTunes(benchmark::State& state) {
  headless_reset(HeadlessConfig{});
  for (auto _ : state) {
    for (int n = 1; n <= TuneCount; ++n) assemble_tune(n);
    benchmark::DoNotOptimize(tune_images[TuneCount - 1]);
    state.PauseTiming();
    free_tune_images();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_AssembleThirteenTunes)->Unit(benchmark::kMillisecond);

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// What decoding the thirteen streams must do, whatever the code: per block, every coded
// subband times columns 16..63 of the matrix (the other 16 repeat them bit for bit), and
// the 512 window products into the accumulator; a multiply and an add each.
struct DecodeWork {
  uint64_t blocks = 0, silent_blocks = 0, coded = 0, samples = 0;
  double pairs() const { return static_cast<double>(coded) * 48 + static_cast<double>(blocks - silent_blocks) * 512; }
};
DecodeWork count_decode_work() {
  DecodeWork w;
  for (const StoredTune& tune : StoredTunes) {
    const uint32_t blocks = read_u32(tune.stream);
    const SampleStreamInfo info = measure_sample_stream(tune.stream, SIZE_MAX);
    const uint8_t* group = tune.stream + 4;
    for (uint32_t block = 0; block < blocks; block += GroupBlocks) {
      const int count = blocks - block < GroupBlocks ? static_cast<int>(blocks - block) : GroupBlocks;
      const uint32_t a = read_u32(group), b = read_u32(group + 4), c = read_u32(group + 8);
      int coded = 0;
      size_t bytes = GroupHeaderBytes;
      for (int m = 0; m < SubbandCount; ++m) {
        const SubbandClass k = subband_class((a >> m) & 1, (b >> m) & 1, (c >> m) & 1);
        coded += k.bits != 0;
        bytes += (static_cast<size_t>(count) * k.bits + 7) / 8;
      }
      group += bytes;
      w.blocks += count;
      w.coded += static_cast<uint64_t>(coded) * count;
      if (coded == 0) w.silent_blocks += count;
    }
    w.samples += info.decodedCount;
  }
  return w;
}

// The machine's rate of double multiply-add pairs (a separate multiply and add, as the
// decoder does them), with as many independent sums as keep every unit busy, in the widest
// vectors the decoder itself uses here.
typedef double Lanes __attribute__((vector_size(64)));
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx512f")))
#endif
__attribute__((noinline)) double
peak_pairs(long rounds) {
  Lanes sum[12], x = {1, 1, 1, 1, 1, 1, 1, 1}, m = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  for (int i = 0; i < 12; ++i) sum[i] = Lanes{} + i;
  for (long r = 0; r < rounds; ++r) {
    for (int i = 0; i < 12; ++i) sum[i] = sum[i] + x * m;
    asm volatile("" : "+v"(x));
  }
  double total = 0;
  for (int i = 0; i < 12; ++i) total += sum[i][0];
  return total;
}
constexpr double PeakPairsPerRound = 12 * 8;

void BM_PeakMultiplyAddPairs(benchmark::State& state) {
  constexpr long Rounds = 1'000'000;
  for (auto _ : state) benchmark::DoNotOptimize(peak_pairs(Rounds));
  state.counters["pairs"] = benchmark::Counter(PeakPairsPerRound * Rounds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PeakMultiplyAddPairs)->Unit(benchmark::kMillisecond);

// Prints the start-up time, the share of it the two steps take, and the decode's floor.
class StartupReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const std::string& name = r.run_name.function_name;
      // The manual time is CPU time; the others' CPU time is the process's.
      if (name == "BM_EntryToFirstFrame") startup = r.GetAdjustedRealTime();
      if (name == "BM_DecodeBothPictures") pictures = r.GetAdjustedCPUTime();
      if (name == "BM_AssembleThirteenTunes") tunes = r.GetAdjustedCPUTime();
      if (name == "BM_PeakMultiplyAddPairs") peak_ms = r.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (startup > 0 && pictures > 0 && tunes > 0) {
      std::printf(
          "start-up to the first frame: %.2f ms CPU; of that, decoding the two pictures %.2f ms (%.1f%%), "
          "assembling the 13 tunes %.2f ms (%.1f%%), everything else %.2f ms\n",
          startup, pictures, 100 * pictures / startup, tunes, 100 * tunes / startup, startup - pictures - tunes);
    }
    if (peak_ms > 0) {
      const DecodeWork w = count_decode_work();
      const double rate = PeakPairsPerRound * 1'000'000 / (peak_ms * 1e-3);  // pairs per second
      const double floor_ms = w.pairs() / rate * 1e3;
      std::printf(
          "decode floor: %llu blocks (%llu silent), %llu samples, %.2f coded subbands a block: %.1f M multiply-add "
          "pairs, %.1f a sample; at this machine's %.2f G pairs/s, %.2f ms",
          static_cast<unsigned long long>(w.blocks), static_cast<unsigned long long>(w.silent_blocks),
          static_cast<unsigned long long>(w.samples), static_cast<double>(w.coded) / static_cast<double>(w.blocks),
          w.pairs() / 1e6, w.pairs() / static_cast<double>(w.samples), rate / 1e9, floor_ms);
      if (tunes > 0) std::printf("; assembling takes %.2f times that", tunes / floor_ms);
      std::printf("\n");
    }
  }
  double startup = 0, pictures = 0, tunes = 0, peak_ms = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  StartupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
