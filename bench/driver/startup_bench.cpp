// Start-up on the headless backend: CPU time from the show's entry to its first presented
// frame (the frame buffer and pictures prepared, both pictures decoded, all thirteen tunes
// assembled, tune 1 started), against a budget of 5 ms; then the peak memory of a
// one-second capture, run as its own process.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/show.h"
#include "platform/headless/headless.h"
#include "platform/window.h"

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

std::vector<double> ProcessMs, MainThreadMs, PageFaults, SystemMs;

void BM_StartupToFirstFrame(benchmark::State& state) {
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
    ProcessMs.push_back(process);
    MainThreadMs.push_back(thread);
    PageFaults.push_back(static_cast<double>(used.faults));
    SystemMs.push_back(used.system_ms);
    state.ResumeTiming();
  }
}
// Each run leaves the bar images and tables behind (the show never frees them), so the runs
// are few.
BENCHMARK(BM_StartupToFirstFrame)->Iterations(40)->Unit(benchmark::kMillisecond);

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
  if (!ProcessMs.empty()) {
    const double p = median(ProcessMs), t = median(MainThreadMs);
    std::printf("\nentry to first presented frame, median of %zu runs: %.2f ms CPU (process), %.2f ms (main thread)\n",
                ProcessMs.size(), p, t);
    std::printf("  spread (process): %.2f .. %.2f ms\n", *std::min_element(ProcessMs.begin(), ProcessMs.end()),
                *std::max_element(ProcessMs.begin(), ProcessMs.end()));
    std::printf("  against the %.0f ms budget: %.3f of it\n", BudgetMs, p / BudgetMs);
    // Each page touched for the first time costs a fault, which on some virtual machines
    // is dearer than the work done in the page.
    std::printf("  page faults (median): %.0f; CPU time in the kernel (median): %.2f ms\n", median(PageFaults),
                median(SystemMs));
  }
  const long peak = capture_peak_kib();
  if (peak >= 0) std::printf("peak memory of musicdisk-capture --seconds 1: %ld KiB\n", peak);
  benchmark::Shutdown();
  return 0;
}
