// Start-up on the headless backend: CPU time from the show's entry to its first presented
// frame (the frame buffer and pictures prepared, both pictures decoded, all thirteen tunes
// assembled, tune 1 started), against a budget of 5 ms; the same with a disk of thirteen
// tunes in a block at the end of the file (read, checked whole, its tunes assembled), as a
// ratio to the built-in start; then the peak memory of a one-second capture, run as its own
// process.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/disk.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "platform/window.h"
#include "tests/support/disk_pieces.h"

extern char** environ;

namespace {

constexpr double BudgetMs = 5.0;

double cpu_ms(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Usage {
  long faults;
  double system_ms;  // CPU time spent in the kernel, mostly on those faults
};
Usage usage_now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {usage.ru_minflt, usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3};
}

// One start-up's figures, a vector of each over the runs.
struct StartupFigures {
  std::vector<double> processMs, mainThreadMs, pageFaults, systemMs;
};
StartupFigures BuiltIn, OwnDisk;

void run_startups(benchmark::State& state, StartupFigures& figures) {
  for (auto _ : state) {
    state.PauseTiming();
    HeadlessConfig config;
    config.keys.push_back({0, VK_ESCAPE, true, false});  // one pass, then the show ends
    reset_show_state();
    headless_reset(config);
    double process = 0, thread = 0, processStart = 0, threadStart = 0;
    Usage used{}, usedStart{};
    bool first = true;
    headless_set_present_hook([&](const HeadlessFrame&) {
      if (!first) return;
      first = false;
      process = cpu_ms(CLOCK_PROCESS_CPUTIME_ID) - processStart;
      thread = cpu_ms(CLOCK_THREAD_CPUTIME_ID) - threadStart;
      const Usage now = usage_now();
      used = {now.faults - usedStart.faults, now.system_ms - usedStart.system_ms};
    });
    state.ResumeTiming();
    headless_run([&] {
      processStart = cpu_ms(CLOCK_PROCESS_CPUTIME_ID);
      threadStart = cpu_ms(CLOCK_THREAD_CPUTIME_ID);
      usedStart = usage_now();
      run_show();
      exit_process(0);
    });
    state.PauseTiming();
    headless_set_present_hook(nullptr);
    figures.processMs.push_back(process);
    figures.mainThreadMs.push_back(thread);
    figures.pageFaults.push_back(static_cast<double>(used.faults));
    figures.systemMs.push_back(used.system_ms);
    state.ResumeTiming();
  }
}

void BM_StartupToFirstFrame(benchmark::State& state) { run_startups(state, BuiltIn); }

// The built-in disk's thirteen tunes, labels and links as a block at the end of a stand-in
// program file.
void BM_StartupWithOwnDisk(benchmark::State& state) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("md_startup_disk_" + std::to_string(getpid()));
  const std::vector<uint8_t> block = encode_disk_block(disktest::builtin_pieces(13, 17));
  std::ofstream(file, std::ios::binary) << "a program's own bytes";
  std::ofstream(file, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  set_disk_file(file.string());
  run_startups(state, OwnDisk);
  set_disk_file("");
  std::filesystem::remove(file);
}

// Each run leaves the bar images and tables behind (the show never frees them), so the runs
// are few.
BENCHMARK(BM_StartupToFirstFrame)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupWithOwnDisk)->Iterations(40)->Unit(benchmark::kMillisecond);

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Peak resident memory in KiB of `musicdisk-capture --seconds 1`, or -1.
long capture_peak_kib() {
  std::string path = MD_CAPTURE_PATH;
  std::vector<char*> args = {path.data(), const_cast<char*>("--seconds"), const_cast<char*>("1"), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
  pid_t pid;
  const int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  if (!BuiltIn.processMs.empty()) {
    const StartupFigures& f = BuiltIn;
    const double p = median(f.processMs), t = median(f.mainThreadMs);
    std::printf("\nentry to first presented frame, median of %zu runs: %.2f ms CPU (process), %.2f ms (main thread)\n",
                f.processMs.size(), p, t);
    std::printf("  spread (process): %.2f .. %.2f ms\n", *std::min_element(f.processMs.begin(), f.processMs.end()),
                *std::max_element(f.processMs.begin(), f.processMs.end()));
    std::printf("  against the %.0f ms budget: %.3f of it\n", BudgetMs, p / BudgetMs);
    // Each page touched for the first time costs a fault, which on some virtual machines
    // is dearer than the work done in the page.
    std::printf("  page faults (median): %.0f; CPU time in the kernel (median): %.2f ms\n", median(f.pageFaults),
                median(f.systemMs));
    if (!OwnDisk.processMs.empty()) {
      const double own = median(OwnDisk.processMs);
      std::printf("with a 13-tune disk block: %.2f ms CPU (process), %.2f of the built-in start; page faults %.0f\n",
                  own, own / p, median(OwnDisk.pageFaults));
    }
  }
  const long peak = capture_peak_kib();
  if (peak >= 0) std::printf("peak memory of musicdisk-capture --seconds 1: %ld KiB\n", peak);
  benchmark::Shutdown();
  return 0;
}
