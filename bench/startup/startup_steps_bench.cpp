// Start-up: the time from entering the show to its first presented frame (display set-up,
// pictures, font and bar images, particles, floor colours, the thirteen tunes, the first
// tune's start and one frame), beside the two steps expected to dominate it, each done on
// its own: decoding the two pictures and assembling the thirteen tunes. Runs on the
// headless backend, so no real display or sound device is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "assets/pictures.h"
#include "codecs/picture.h"
#include "codecs/tunes.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "platform/window.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_EntryToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    reset_show_state();
    HeadlessConfig config;
    config.keys = {{0, VK_ESCAPE, true, false}};  // one frame, then the show ends
    headless_reset(config);
    Clock::time_point first{};
    headless_set_present_hook([&first](const HeadlessFrame&) {
      if (first == Clock::time_point{}) first = Clock::now();
    });
    const Clock::time_point entry = Clock::now();
    headless_run([] {
      run_show();
      exit_process(0);
    });
    if (first == Clock::time_point{}) {
      state.SkipWithError("the show presented no frame");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(first - entry).count());
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

// Prints the start-up time and the share of it the two steps take.
class StartupReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const double ms = r.GetAdjustedRealTime();  // in the run's unit, milliseconds here
      if (r.run_name.function_name == "BM_EntryToFirstFrame") startup = ms;
      if (r.run_name.function_name == "BM_DecodeBothPictures") pictures = ms;
      if (r.run_name.function_name == "BM_AssembleThirteenTunes") tunes = ms;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (startup > 0 && pictures > 0 && tunes > 0) {
      std::printf(
          "start-up to the first frame: %.2f ms; of that, decoding the two pictures %.2f ms (%.1f%%), "
          "assembling the 13 tunes %.2f ms (%.1f%%), everything else %.2f ms\n",
          startup, pictures, 100 * pictures / startup, tunes, 100 * tunes / startup, startup - pictures - tunes);
    }
  }
  double startup = 0, pictures = 0, tunes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  StartupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
