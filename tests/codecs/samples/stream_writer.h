// Random sample streams for tests, with the value every code stands for worked out plainly.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

namespace test_streams {

inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct RandomStream {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<double>> values;  // per block, the 32 subband values
};

// Classes as (mask bits A B C, bits, exponent): silent, then 2 bits e = 0, 1, 2, then 4 bits
// e = 2, 3, 4 (the last with C set too, which must not matter).
inline RandomStream random_stream(uint32_t blocks, std::mt19937& rng) {
  struct Class { uint32_t abc; int bits, exponent; };
  const Class classes[7] = {{0, 0, 0}, {1, 2, 0}, {2, 2, 1}, {4, 2, 2}, {3, 4, 2}, {5, 4, 3}, {7, 4, 4}};
  RandomStream s;
  put_u32(s.bytes, blocks);
  for (uint32_t first = 0; first < blocks; first += 16) {
    const uint32_t count = blocks - first < 16 ? blocks - first : 16;
    int pick[32];
    uint32_t masks[3] = {};
    for (int m = 0; m < 32; ++m) {
      pick[m] = static_cast<int>(rng() % 7);
      for (int i = 0; i < 3; ++i) masks[i] |= ((classes[pick[m]].abc >> (2 - i)) & 1u) << m;
    }
    for (uint32_t mask : masks) put_u32(s.bytes, mask);
    s.values.resize(first + count, std::vector<double>(32, 0.0));
    for (int m = 0; m < 32; ++m) {
      const Class& k = classes[pick[m]];
      uint32_t pending = 0, filled = 0;
      for (uint32_t r = 0; r < count && k.bits != 0; ++r) {
        const uint32_t code = rng() & ((1u << k.bits) - 1);
        const int t = code >= (1u << (k.bits - 1)) ? static_cast<int>(code) - (1 << k.bits) : static_cast<int>(code);
        s.values[first + r][m] = (t + 0.5) * (1 << k.exponent);
        pending = pending << k.bits | code;
        if ((filled += k.bits) == 8) s.bytes.push_back(static_cast<uint8_t>(pending)), pending = filled = 0;
      }
      if (filled != 0) s.bytes.push_back(static_cast<uint8_t>(pending << (8 - filled)));
    }
  }
  return s;
}

}  // namespace test_streams
