// Frames per second of the effects on one core, beside a plain copy of the 480000-byte frame;
// the whole frame is every effect in the frame loop's order and its conversion for a 32-bit
// screen, as a frame is presented.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display/present.h"
#include "platform/headless/headless.h"
#include "render/font.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/logo_swing.h"
#include "render/menu_bars.h"
#include "render/particles.h"
#include "render/plane.h"
#include "render/raster_bars.h"
#include "render/scroller.h"

namespace {

struct Scene {
  std::vector<uint32_t> frame, logo, sprite;
  std::vector<uint8_t> screen;
  Scene() : frame(400 * 300), logo(LogoWidth * LogoHeight, 0x406080), sprite(32 * 32), screen(400 * 300 * 4) {
    headless_reset(HeadlessConfig{});
    set_frame_size(400, 300);
    Framebuffer.pixels = frame.data();
    LogoPicture = logo.data();
    // A round glow, brightest in the middle; black corners are transparent.
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const int d = (x - 16) * (x - 16) + (y - 16) * (y - 16);
        const uint32_t v = d >= 256 ? 0 : static_cast<uint32_t>(255 - d) & 0xfe;
        sprite[static_cast<size_t>(y * 32 + x)] = v << 16 | v << 8 | v;
      }
    }
    SpritePicture = sprite.data();
    init_particles();
    build_plane_colours();
    build_font();
    render_menu_bar_images();
  }
};

Scene& scene() {
  static Scene s;
  return s;
}

float turn_at(float t) { return static_cast<float>(200.0 * std::cos(0.01 * t) + 100.0 * std::sin(0.007 * t)); }

// The first three effects.
void BM_Effects(benchmark::State& state) {
  scene();
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

// The scroller alone, at 50 frames per second of show time (a shift of 2 or 3 pixels and a
// refill every few frames, as in the show).
void BM_Scroller(benchmark::State& state) {
  scene();
  float t = 0.0f;
  for (auto _ : state) {
    draw_scroller(t);
    benchmark::DoNotOptimize(Framebuffer.pixels[250 * 400]);
    t += 0.4f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Every effect the frame loop draws, in its order, with both bar overlays, then the frame
// converted for a 32-bit screen of the same size, row by row.
void BM_WholeFrame(benchmark::State& state) {
  Scene& s = scene();
  float t = 0.0f;
  for (auto _ : state) {
    draw_logo_swing(t);
    draw_raster_bars(t);
    draw_plane(Framebuffer.pixels, 5000.0f, 150.0f, turn_at(t), t, t);
    update_particles(t);
    draw_scroller(t);
    overlay_bar_image(TuneBarImages[1], TuneBarRow, 1);
    overlay_bar_image(LinkBarImages[1], LinkBarRow, 0);
    for (int32_t y = 0; y < 300; ++y) {
      convert_row_32(s.screen.data() + static_cast<size_t>(y) * 1600, Framebuffer.pixels + y * 400, 400, 1 << 20);
    }
    benchmark::DoNotOptimize(s.screen[1000]);
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
BENCHMARK(BM_Scroller);
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
      else if (name == "BM_Scroller") scroller = r.GetAdjustedCPUTime();
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

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
