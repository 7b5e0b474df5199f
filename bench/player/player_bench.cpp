// Seconds of 44100 Hz stereo that player_render makes per CPU second ("audio_s"), with
// every voice of a 4-channel and a 32-channel tune sounding, beside a loop that only writes
// as many zero frames; and real modules rendered by this player, by libxmp and by
// libopenmpt (each with linear interpolation), every player rendering the same span of
// song from its start.
//
// The real modules are the built-in tunes' .xm sources, laid out on 4, 8, 16 and 32
// channels (extra channels repeat the tune's own channels an octave or a fifth away), plus
// any --xm=FILE given. Ratios are printed after the table from the medians over
// repetitions (--benchmark_repetitions=N), with the spread of each player's times.
#include <benchmark/benchmark.h>

#include <algorithm>
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
#ifdef MD_HAVE_LIBOPENMPT
#include <libopenmpt/libopenmpt.h>
#endif

namespace {

// The span of song every player renders per iteration, in frames, and the block size each
// rendering call makes (about the audio thread's 25 ms).
constexpr uint32_t SpanFrames = 20 * OutputRate;
constexpr uint32_t BlockFrames = 1024;

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

void span_counters(benchmark::State& state) {
  state.counters["audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * SpanFrames / OutputRate,
                                                 benchmark::Counter::kIsRate);
}

void render_module(benchmark::State& state, std::vector<uint8_t> image) {
  auto player = std::make_unique<PlayerState>();
  std::vector<uint8_t> working = image;
  std::vector<int32_t> mix(2 * BlockFrames);
  for (auto _ : state) {
    state.PauseTiming();
    working = image;
    player_init(working.data(), player.get());
    player_start(0);
    state.ResumeTiming();
    for (uint32_t done = 0; done < SpanFrames; done += BlockFrames) {
      player_render(std::min(BlockFrames, SpanFrames - done), mix.data());
      benchmark::DoNotOptimize(mix.data());
    }
  }
  span_counters(state);
}

#ifdef MD_HAVE_LIBXMP
void render_libxmp(benchmark::State& state, std::vector<uint8_t> file) {
  xmp_context context = xmp_create_context();
  if (xmp_load_module_from_memory(context, file.data(), static_cast<long>(file.size())) != 0) {
    state.SkipWithError("libxmp cannot load the module");
    xmp_free_context(context);
    return;
  }
  std::vector<int16_t> pcm(2 * BlockFrames);
  for (auto _ : state) {
    state.PauseTiming();
    xmp_start_player(context, OutputRate, 0);
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    state.ResumeTiming();
    for (uint32_t done = 0; done < SpanFrames; done += BlockFrames) {
      uint32_t n = std::min(BlockFrames, SpanFrames - done);
      xmp_play_buffer(context, pcm.data(), static_cast<int>(2 * n * sizeof(int16_t)), 0);
      benchmark::DoNotOptimize(pcm.data());
    }
    state.PauseTiming();
    xmp_end_player(context);
    state.ResumeTiming();
  }
  xmp_release_module(context);
  xmp_free_context(context);
  span_counters(state);
}
#endif

#ifdef MD_HAVE_LIBOPENMPT
void render_libopenmpt(benchmark::State& state, std::vector<uint8_t> file) {
  openmpt_module* module =
      openmpt_module_create_from_memory2(file.data(), file.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr);
  if (!module) {
    state.SkipWithError("libopenmpt cannot load the module");
    return;
  }
  openmpt_module_set_repeat_count(module, -1);
  openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);  // linear
  openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_VOLUMERAMPING_STRENGTH, 0);       // no ramps
  std::vector<int16_t> pcm(2 * BlockFrames);
  for (auto _ : state) {
    state.PauseTiming();
    openmpt_module_set_position_order_row(module, 0, 0);
    state.ResumeTiming();
    for (uint32_t done = 0; done < SpanFrames; done += BlockFrames) {
      size_t n = std::min(BlockFrames, SpanFrames - done);
      openmpt_module_read_interleaved_stereo(module, OutputRate, n, pcm.data());
      benchmark::DoNotOptimize(pcm.data());
    }
  }
  openmpt_module_destroy(module);
  span_counters(state);
}
#endif

// A built-in tune laid out on `channels` channels: fewer keep the tune's first channels,
// more repeat its channels with the notes moved by an octave or a fifth.
std::vector<uint8_t> widened(const std::vector<uint8_t>& file, uint16_t channels) {
  XmModule source, out;
  std::string error;
  if (!read_xm(file, source, error)) return {};
  out = source;
  out.channels = channels;
  const int moves[] = {0, 12, -12, 7, -5, 19};
  for (size_t p = 0; p < source.patterns.size(); ++p) {
    const XmPattern& from = source.patterns[p];
    XmPattern& to = out.patterns[p];
    to.cells.assign(size_t{from.rows} * channels, XmCell{});
    for (uint16_t r = 0; r < from.rows; ++r)
      for (uint16_t c = 0; c < channels; ++c) {
        XmCell cell = from.cells[size_t{r} * source.channels + c % source.channels];
        int move = moves[(c / source.channels) % 6];
        if (cell.note >= 1 && cell.note <= 96) cell.note = static_cast<uint8_t>(std::clamp(cell.note + move, 1, 96));
        to.cells[size_t{r} * channels + c] = cell;
      }
  }
  return write_xm(out);
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Keeps every repetition's CPU time per iteration, to print medians and ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> cpu;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.iterations > 0 && run.run_type == Run::RT_Iteration && !run.error_occurred)
        cpu[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
    ConsoleReporter::ReportRuns(runs);
  }
  double median(const std::string& name) {
    auto it = cpu.find(name);
    if (it == cpu.end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  // (max - min) / median in percent over the repetitions.
  double spread(const std::string& name) {
    const std::vector<double>& v = cpu[name];
    double m = median(name);
    if (v.empty() || m <= 0) return 0;
    return 100 * (*std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end())) / m;
  }
};

double median_of(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> modules;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--xm=", 5) == 0) {
      std::string path = argv[i] + 5;
      modules.emplace_back(path.substr(path.find_last_of('/') + 1), read_file(path));
    } else {
      rest.push_back(argv[i]);
    }
  }
  const struct {
    const char* tune;
    uint16_t channels;
  } layouts[] = {{"01", 4}, {"04", 6}, {"05", 8}, {"09", 16}, {"13", 32}};
  for (const auto& l : layouts) {
    std::vector<uint8_t> file = read_file(std::string(MD_SOURCE_DIR "/assets/tunes/") + l.tune + ".xm");
    modules.emplace_back(std::string(l.tune) + "x" + std::to_string(l.channels), widened(file, l.channels));
  }
  std::vector<std::string> names;
  for (const auto& [name, file] : modules) {
    XmImport imported = import_xm(file);
    if (!imported.ok) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), imported.error.c_str());
      return 1;
    }
    names.push_back(name);
    benchmark::RegisterBenchmark(("BM_Player/" + name).c_str(), render_module, imported.image)
        ->Unit(benchmark::kMillisecond);
#ifdef MD_HAVE_LIBXMP
    benchmark::RegisterBenchmark(("BM_Libxmp/" + name).c_str(), render_libxmp, file)->Unit(benchmark::kMillisecond);
#endif
#ifdef MD_HAVE_LIBOPENMPT
    benchmark::RegisterBenchmark(("BM_Libopenmpt/" + name).c_str(), render_libopenmpt, file)
        ->Unit(benchmark::kMillisecond);
#endif
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const std::string& a, const std::string& b) {
    double ta = reporter.median(a), tb = reporter.median(b);
    if (ta <= 0 || tb <= 0) return 0.0;
    std::printf("  %-34s %7.3f   (spread %4.1f%% / %4.1f%% over %zu runs)\n", a.c_str(), tb / ta, reporter.spread(a),
                reporter.spread(b), reporter.cpu[a].size());
    return tb / ta;
  };
  std::printf("\nspeed relative to writing zero frames (zero-loop CPU time / render CPU time):\n");
  ratio("BM_Render4Channels", "BM_ZeroFrames");
  ratio("BM_Render32Channels", "BM_ZeroFrames");
  const char* peers[][2] = {{"BM_Libxmp/", "libxmp"}, {"BM_Libopenmpt/", "libopenmpt"}};
  for (const auto& peer : peers) {
    std::vector<double> ratios;
    for (const std::string& name : names) {
      if (!reporter.cpu.count(peer[0] + name)) continue;
      if (ratios.empty())
        std::printf("speed relative to %s (%s CPU time / player CPU time, same %u s of song):\n", peer[1], peer[1],
                    SpanFrames / OutputRate);
      double r = ratio("BM_Player/" + name, peer[0] + name);
      if (r > 0) ratios.push_back(r);
    }
    if (!ratios.empty())
      std::printf("  median over %zu modules: %.3f, lowest %.3f\n", ratios.size(), median_of(ratios),
                  *std::min_element(ratios.begin(), ratios.end()));
  }
  benchmark::Shutdown();
  return 0;
}
