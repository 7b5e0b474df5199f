// convert_frame against SDL2's SDL_ConvertPixels (1:1) and SDL_BlitScaled (2:1, 800 x 600)
// on the same 400 x 300 frame, in each of the four display formats. After the runs the
// ratio SDL time / our time is printed for each pair.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "display/present.h"

namespace {

constexpr int Depths[] = {32, 24, 16, 15};

uint32_t sdl_format(int depth) {
  switch (depth) {
    case 32: return SDL_PIXELFORMAT_RGB888;
    case 24: return SDL_PIXELFORMAT_BGR24;
    case 16: return SDL_PIXELFORMAT_RGB565;
    default: return SDL_PIXELFORMAT_RGB555;
  }
}

int bytes_per_pixel(int depth) { return depth == 32 ? 4 : depth == 24 ? 3 : 2; }

struct Frame {
  std::vector<uint32_t> pixels;
  FramebufferRecord record;
  Frame() : pixels(400 * 300) {
    std::mt19937 rng(1);
    for (uint32_t& p : pixels) {
      p = rng() & 0xFEFEFE;
    }
    record = {400, 300, 400 * 300, 400 * 300 * 4, pixels.data()};
  }
};

const Frame& frame() {
  static const Frame f;
  return f;
}

void ours(benchmark::State& state, int depth, int scale) {
  const int w = 400 * scale, h = 300 * scale;
  const int pitch = w * bytes_per_pixel(depth);
  std::vector<uint8_t> out(static_cast<size_t>(pitch) * h);
  const Scaling scaling = {w, h, static_cast<int32_t>((int64_t{400} << 20) / w),
                           static_cast<int32_t>((int64_t{300} << 20) / h)};
  for (auto _ : state) {
    convert_frame_to(out.data(), frame().record, pitch, depth, scaling);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_convert_frame_1to1(benchmark::State& state, int depth) { ours(state, depth, 1); }
void BM_convert_frame_2to1(benchmark::State& state, int depth) { ours(state, depth, 2); }

void BM_SDL_ConvertPixels_1to1(benchmark::State& state, int depth) {
  const int pitch = 400 * bytes_per_pixel(depth);
  std::vector<uint8_t> out(static_cast<size_t>(pitch) * 300);
  for (auto _ : state) {
    SDL_ConvertPixels(400, 300, SDL_PIXELFORMAT_RGB888, frame().pixels.data(), 1600, sdl_format(depth), out.data(),
                      pitch);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_SDL_BlitScaled_2to1(benchmark::State& state, int depth) {
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(frame().pixels.data()), 400, 300, 32,
                                                        1600, SDL_PIXELFORMAT_RGB888);
  SDL_Surface* dst = SDL_CreateRGBSurfaceWithFormat(0, 800, 600, bytes_per_pixel(depth) * 8, sdl_format(depth));
  SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
  for (auto _ : state) {
    SDL_BlitScaled(src, nullptr, dst, nullptr);
    benchmark::DoNotOptimize(dst->pixels);
    benchmark::ClobberMemory();
  }
  SDL_FreeSurface(dst);
  SDL_FreeSurface(src);
}

// Keeps each run's time per iteration for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        times[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  for (int depth : Depths) {
    const std::string d = std::to_string(depth);
    benchmark::RegisterBenchmark(("convert_frame 1:1/" + d).c_str(), BM_convert_frame_1to1, depth);
    benchmark::RegisterBenchmark(("SDL_ConvertPixels 1:1/" + d).c_str(), BM_SDL_ConvertPixels_1to1, depth);
    benchmark::RegisterBenchmark(("convert_frame 2:1/" + d).c_str(), BM_convert_frame_2to1, depth);
    benchmark::RegisterBenchmark(("SDL_BlitScaled 2:1/" + d).c_str(), BM_SDL_BlitScaled_2to1, depth);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nSDL time / convert_frame time, CPU time per frame (goal: 3 at 1:1, 10 at 2:1)\n");
  for (int depth : Depths) {
    const std::string d = std::to_string(depth);
    for (const auto& [ours_name, sdl_name, label] :
         {std::tuple<std::string, std::string, const char*>{"convert_frame 1:1/" + d, "SDL_ConvertPixels 1:1/" + d, "1:1"},
          {"convert_frame 2:1/" + d, "SDL_BlitScaled 2:1/" + d, "2:1"}}) {
      const auto a = reporter.times.find(ours_name);
      const auto b = reporter.times.find(sdl_name);
      if (a != reporter.times.end() && b != reporter.times.end() && a->second > 0) {
        std::printf("  %2d bits %s: %8.1f us vs %8.1f us  ratio %5.1f\n", depth, label, a->second / 1000.0,
                    b->second / 1000.0, b->second / a->second);
      }
    }
  }
  benchmark::Shutdown();
  return 0;
}
