// Frames per second of the effects on one core, beside a plain copy of the 480000-byte frame;
// the whole frame is every effect in the frame loop's order and its conversion for a 32-bit
// screen, as a frame is presented, drawn from the show's own pictures. BM_Step/* times each
// step apart; --turns times them all as the web page does (scene_steps.h).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/render/scene_steps.h"
#include "platform/headless/headless.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/logo_swing.h"
#include "render/particles.h"
#include "render/plane.h"
#include "render/raster_bars.h"

namespace {

// The show's own pictures, font, bar images, particles and plane colours, made as at start-up.
void prepare_scene() {
  static const bool prepared = [] {
    headless_reset(HeadlessConfig{});
    set_frame_size(400, 300);
    prepare_graphics();
    init_particles();
    build_plane_colours();
    return true;
  }();
  (void)prepared;
}

float turn_at(float t) { return static_cast<float>(200.0 * std::cos(0.01 * t) + 100.0 * std::sin(0.007 * t)); }

// The first three effects.
void BM_Effects(benchmark::State& state) {
  prepare_scene();
  float t = 0.0f;
  for (auto _ : state) {
    float turn = turn_at(t);
    draw_logo_swing(t);
    draw_raster_bars(t);
    draw_plane(Framebuffer.pixels, 5000.0f, 150.0f, turn, t, t);
    benchmark::DoNotOptimize(Framebuffer.pixels[1000]);
    t += 0.4f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Every effect the frame loop draws, in its order, with both bar overlays, then the frame
// converted for a 32-bit screen of the same size, row by row.
void BM_WholeFrame(benchmark::State& state) {
  prepare_scene();
  float t = 0.0f;
  for (auto _ : state) {
    draw_scene(t);
    benchmark::DoNotOptimize(Framebuffer.pixels[1000]);
    t += 0.4f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// One step of the scene alone (BM_Step/<name>), as the web page times it too. The scroller's
// step runs at 50 frames per second of show time (a shift of 2 or 3 pixels and a refill every
// few frames, as in the show).
void BM_Step(benchmark::State& state, const SceneStep& step) {
  prepare_scene();
  float t = 0.0f;
  for (auto _ : state) {
    step.draw(t);
    benchmark::DoNotOptimize(Framebuffer.pixels[1000]);
    t += 0.4f;
  }
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
BENCHMARK(BM_WholeFrame);
BENCHMARK(BM_FrameCopy);

// Prints each measurement as a multiple of one frame copy.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      // With repetitions, the median stands for the benchmark (it comes after the runs).
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
      const std::string& name = r.run_name.function_name;
      if (name == "BM_FrameCopy") copy = r.GetAdjustedCPUTime();
      else if (name == "BM_Effects") effects = r.GetAdjustedCPUTime();
      else if (name == "BM_Step/scroller") scroller = r.GetAdjustedCPUTime();
      else if (name == "BM_WholeFrame") whole = r.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (copy <= 0) return;
    const struct {
      const char* what;
      double time;
    } rows[] = {{"logo, bars and plane", effects}, {"draw_scroller", scroller}, {"whole frame (seven effects and the 32-bit conversion)", whole}};
    for (const auto& row : rows) {
      if (row.time > 0) {
        std::printf("%s: %.0f frames/s on one core, %.2f frame copies (memcpy of 480000 bytes)\n", row.what,
                    1e9 / row.time, row.time / copy);
      }
    }
  }
  double copy = 0, effects = 0, scroller = 0, whole = 0;
};

double now_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// render_bench --turns: each step of the scene and the whole scene timed as the web page
// times them (time_scene_steps), printed as JSON: {"step": [fastest, median], ...} in
// milliseconds per frame, the whole scene as "scene".
int print_turns() {
  prepare_scene();
  StepTime times[SceneStepCount + 1];
  time_scene_steps(now_ms, nullptr, times);
  std::printf("{");
  for (int32_t s = 0; s <= SceneStepCount; ++s) {
    std::printf("%s\"%s\": [%.6f, %.6f]", s > 0 ? ", " : "", s < SceneStepCount ? SceneSteps[s].name : "scene",
                times[s].fastest, times[s].median);
  }
  std::printf("}\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--turns") return print_turns();
  for (int32_t i = 0; i < SceneStepCount; ++i) {
    benchmark::RegisterBenchmark((std::string("BM_Step/") + SceneSteps[i].name).c_str(), BM_Step, SceneSteps[i]);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
