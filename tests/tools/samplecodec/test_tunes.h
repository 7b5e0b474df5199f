// Thirteen small module images for the packer tests: an empty header block apart from
// the magic and the sample-area fields, some stand-in instrument bytes, and a sample area
// of two zero samples and a few tones. Tune n differs in every size from tune n + 1.
#pragma once
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

inline std::vector<uint8_t> synthetic_tune_image(int n) {
  const size_t area = 0x2750 + 3 * static_cast<size_t>(n);  // stored lengths of every residue mod 4
  const size_t samples = n == 13 ? 30 : 400 * static_cast<size_t>(n) + 11;
  std::vector<uint8_t> image(area + 2 + samples, 0);
  image[0] = 'Q', image[1] = 'K', image[2] = 'B';
  const auto set_u32 = [&](size_t at, size_t v) {
    for (int i = 0; i < 4; ++i) image[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  set_u32(0x1C, area);
  set_u32(0x20, 2 + samples);
  for (size_t i = 0x2750; i < area; ++i) image[i] = static_cast<uint8_t>(n * 16 + static_cast<int>(i));
  for (size_t i = 0; i < samples; ++i) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(i);
    const double v = 60.0 * std::sin(t / (9.0 + n)) + 30.0 * std::sin(t / 3.1);
    image[area + 2 + i] = static_cast<uint8_t>(static_cast<int8_t>(std::lround(v)));
  }
  return image;
}
