// Frames per second of the effects on one core, beside a plain copy of the 480000-byte frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/headless/headless.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/logo_swing.h"
#include "render/plane.h"
#include "render/raster_bars.h"

namespace {

struct Scene {
  std::vector<uint32_t> frame, logo;
  Scene() : frame(400 * 300), logo(LogoWidth * LogoHeight, 0x406080) {
    headless_reset(HeadlessConfig{});
    set_frame_size(400, 300);
    Framebuffer.pixels = frame.data();
    LogoPicture = logo.data();
    build_plane_colours();
  }
};

void BM_Effects(benchmark::State& state) {
  static Scene scene;
  float t = 0.0f;
  for (auto _ : state) {
    float turn = static_cast<float>(200.0 * std::cos(0.01 * t) + 100.0 * std::sin(0.007 * t));
    draw_logo_swing(t);
    draw_raster_bars(t);
    draw_plane(Framebuffer.pixels, 5000.0f, 150.0f, turn, t, t);
    benchmark::DoNotOptimize(Framebuffer.pixels[1000]);
    t += 0.4f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FrameCopy(benchmark::State& state) {
  std::vector<uint32_t> a(400 * 300, 1), b(400 * 300);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), 480000);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Effects);
BENCHMARK(BM_FrameCopy);

// Prints the effects' cost as a multiple of one frame copy.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_name.function_name == "BM_Effects") effects = r.GetAdjustedCPUTime();
      if (r.run_name.function_name == "BM_FrameCopy") copy = r.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (effects > 0 && copy > 0) {
      std::printf("effects: %.0f frames/s on one core; one frame of effects costs %.1f frame copies\n",
                  1e9 / effects, effects / copy);
    }
  }
  double effects = 0, copy = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
