// Seconds of 44100 Hz stereo that player_render makes per CPU second ("audio_s"), with
// every voice of a 4-channel and a 32-channel tune sounding, beside a loop that only writes
// as many zero frames. Real modules given as --xm=FILE arguments are imported and rendered
// too, beside libxmp (linear interpolation) on the same files when it is installed; the
// ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "player/player.h"
#include "player/writer.h"
#include "tools/xm_import/xm_import.h"
#ifdef MD_HAVE_LIBXMP
#include <xmp.h>
#endif

namespace {

ModuleDef all_voices(uint32_t channels) {
  ModuleDef m;
  m.channelCount = channels;
  m.speed = 6;
  m.tempo = 125;
  SampleDef narrow, wide;
  for (int i = 0; i < 4000; ++i) {
    narrow.data.push_back(static_cast<int16_t>((i * 13) % 256 - 128));
    wide.data.push_back(static_cast<int16_t>((i * 1031) % 65536 - 32768));
  }
  narrow.loop = wide.loop = LoopKind::Forward;
  narrow.loopLength = wide.loopLength = 4000;
  wide.sixteenBit = true;
  InstrumentDef a, b;
  a.samples = {narrow};
  b.samples = {wide};
  m.instruments = {a, b};
  // Every channel starts a note on row 0 and holds it; notes spread over three octaves.
  std::vector<CellDef> row;
  for (uint32_t c = 0; c < channels; ++c)
    row.push_back(CellDef{static_cast<uint8_t>(c), static_cast<uint8_t>(37 + c % 36),
                           static_cast<uint8_t>(1 + (c % 4 == 3 ? 1 : 0)), 0x40, -1, 0});
  PatternDef p = empty_pattern(64);
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

void render_module(benchmark::State& state, std::vector<uint8_t> image) {
  auto player = std::make_unique<PlayerState>();
  player_init(image.data(), player.get());
  player_start(0);
  std::vector<int32_t> mix(2 * OutputRate);
  for (auto _ : state) {
    player_render(OutputRate, mix.data());
    benchmark::DoNotOptimize(mix.data());
  }
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

#ifdef MD_HAVE_LIBXMP
void render_libxmp(benchmark::State& state, std::vector<uint8_t> file) {
  xmp_context context = xmp_create_context();
  if (xmp_load_module_from_memory(context, file.data(), static_cast<long>(file.size())) != 0) {
    state.SkipWithError("libxmp cannot load the module");
    xmp_free_context(context);
    return;
  }
  xmp_start_player(context, OutputRate, 0);
  xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
  std::vector<int16_t> pcm(2 * OutputRate);
  for (auto _ : state) {
    xmp_play_buffer(context, pcm.data(), static_cast<int>(pcm.size() * sizeof(int16_t)), 0);
    benchmark::DoNotOptimize(pcm.data());
  }
  xmp_end_player(context);
  xmp_release_module(context);
  xmp_free_context(context);
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
#endif

// Keeps every run's CPU time per iteration to print ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> cpu;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.iterations > 0) cpu[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> modules;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--xm=", 5) == 0)
      modules.push_back(argv[i] + 5);
    else
      rest.push_back(argv[i]);
  }
  std::vector<std::string> names;
  for (const std::string& path : modules) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    XmImport imported = import_xm(file);
    if (!imported.ok) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), imported.error.c_str());
      return 1;
    }
    std::string name = path.substr(path.find_last_of('/') + 1);
    names.push_back(name);
    benchmark::RegisterBenchmark(("BM_Player/" + name).c_str(), render_module, imported.image);
#ifdef MD_HAVE_LIBXMP
    benchmark::RegisterBenchmark(("BM_Libxmp/" + name).c_str(), render_libxmp, file);
#endif
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const std::string& a, const std::string& b) {
    if (reporter.cpu.count(a) && reporter.cpu.count(b) && reporter.cpu[a] > 0 && reporter.cpu[b] > 0)
      std::printf("  %-40s %.4f (1 / %.1f)\n", a.c_str(), reporter.cpu[b] / reporter.cpu[a],
                  reporter.cpu[a] / reporter.cpu[b]);
  };
  std::printf("\nspeed relative to writing zero frames (zero-loop CPU time / render CPU time):\n");
  ratio("BM_Render4Channels", "BM_ZeroFrames");
  ratio("BM_Render32Channels", "BM_ZeroFrames");
  if (!names.empty()) std::printf("speed relative to libxmp (libxmp CPU time / player CPU time):\n");
  for (const std::string& name : names) ratio("BM_Player/" + name, "BM_Libxmp/" + name);
  benchmark::Shutdown();
  return 0;
}
