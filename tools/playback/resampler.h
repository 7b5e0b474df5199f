// Changing the rate of interleaved 16-bit stereo sound with a windowed sinc (Blackman window,
// 16 zero crossings a side at the lower of the two rates, the pass band ending at 95% of the
// lower Nyquist frequency), fed in pieces of any size. The kernel is tabulated at
// 1/TableSteps of an input frame.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

struct Resampler {
  static constexpr int TableSteps = 512;
  uint32_t inRate = 0, outRate = 0;
  double cutoff = 1;           // of the input's Nyquist frequency
  int halfWidth = 0;           // input frames a side
  std::vector<double> table;   // kernel at x = i / TableSteps - halfWidth
  std::vector<float> history;  // interleaved input frames, from frame `first`
  uint64_t first = 0;
  uint64_t produced = 0;       // output frames so far
};

Resampler make_resampler(uint32_t in_rate, uint32_t out_rate);

// Appends to `out` the output frames, up to `limit` in all, whose window the input given so
// far covers.
void resample(Resampler& r, std::span<const int16_t> piece, uint64_t limit, std::vector<int16_t>& out);

// The end of the input (silence after it): appends the remaining frames up to `limit`.
void finish_resampling(Resampler& r, uint64_t limit, std::vector<int16_t>& out);
