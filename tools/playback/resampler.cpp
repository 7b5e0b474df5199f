#include "tools/playback/resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

double kernel(double x, double cutoff, int halfWidth) {
  if (std::fabs(x) >= halfWidth) return 0;
  const double pi = std::numbers::pi;
  const double sinc = x == 0 ? 1 : std::sin(pi * cutoff * x) / (pi * cutoff * x);
  const double w = 0.42 + 0.5 * std::cos(pi * x / halfWidth) + 0.08 * std::cos(2 * pi * x / halfWidth);
  return cutoff * sinc * w;
}

double kernel_at(const Resampler& r, double x) {
  const long i = std::lround((x + r.halfWidth) * Resampler::TableSteps);
  return i < 0 || i >= static_cast<long>(r.table.size()) ? 0 : r.table[static_cast<size_t>(i)];
}

// The input frame an output frame is centred on, as a real position.
double input_position(const Resampler& r, uint64_t output_frame) {
  return static_cast<double>(output_frame) * r.inRate / r.outRate;
}

// Output frames whose window lies inside the input up to `available`, at most `limit`.
void produce(Resampler& r, uint64_t available, uint64_t limit, std::vector<int16_t>& out) {
  while (r.produced < limit) {
    const double t = input_position(r, r.produced);
    const auto centre = static_cast<int64_t>(std::floor(t));
    if (centre + r.halfWidth >= static_cast<int64_t>(available)) break;
    double left = 0, right = 0;
    for (int64_t i = std::max(centre - r.halfWidth + 1, static_cast<int64_t>(r.first)); i <= centre + r.halfWidth; ++i) {
      const double k = kernel_at(r, t - static_cast<double>(i));
      const size_t index = 2 * static_cast<size_t>(i - static_cast<int64_t>(r.first));
      left += k * r.history[index];
      right += k * r.history[index + 1];
    }
    out.push_back(static_cast<int16_t>(std::clamp(std::lround(left), -32768L, 32767L)));
    out.push_back(static_cast<int16_t>(std::clamp(std::lround(right), -32768L, 32767L)));
    ++r.produced;
  }
  // Input no later output reaches is dropped.
  const int64_t keepFrom = static_cast<int64_t>(std::floor(input_position(r, r.produced))) - r.halfWidth;
  if (keepFrom > static_cast<int64_t>(r.first) + 4096) {
    const uint64_t drop = static_cast<uint64_t>(keepFrom) - r.first;
    r.history.erase(r.history.begin(), r.history.begin() + static_cast<std::ptrdiff_t>(2 * drop));
    r.first += drop;
  }
}

}  // namespace

Resampler make_resampler(uint32_t in_rate, uint32_t out_rate) {
  Resampler r;
  r.inRate = in_rate;
  r.outRate = out_rate;
  r.cutoff = std::min(1.0, static_cast<double>(out_rate) / in_rate) * 0.95;
  r.halfWidth = static_cast<int>(std::ceil(16 / r.cutoff));
  r.table.resize(static_cast<size_t>(2 * r.halfWidth * Resampler::TableSteps + 1));
  for (size_t i = 0; i < r.table.size(); ++i)
    r.table[i] = kernel(static_cast<double>(i) / Resampler::TableSteps - r.halfWidth, r.cutoff, r.halfWidth);
  return r;
}

void resample(Resampler& r, std::span<const int16_t> piece, uint64_t limit, std::vector<int16_t>& out) {
  r.history.insert(r.history.end(), piece.begin(), piece.end());
  produce(r, r.first + r.history.size() / 2, limit, out);
}

void finish_resampling(Resampler& r, uint64_t limit, std::vector<int16_t>& out) {
  r.history.insert(r.history.end(), 2 * static_cast<size_t>(r.halfWidth + 2), 0.0f);
  produce(r, r.first + r.history.size() / 2, limit, out);
}
