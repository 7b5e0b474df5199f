// Peak signal-to-noise ratio of two pictures of the same size over their three channels, in dB.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

inline double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = static_cast<double>((a[i] >> shift) & 0xFF) - static_cast<double>((b[i] >> shift) & 0xFF);
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(a.size()) / std::max(sum, 1e-9));
}
