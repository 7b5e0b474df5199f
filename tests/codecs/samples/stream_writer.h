// Writes sample streams for tests from explicit codes, and a random stream generator.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

namespace test_streams {

// Mask bits (A, B, C) that select each class, indexed as in class_of below.
struct ClassBits {
  bool a, b, c;
  int bits, exponent;
};
inline constexpr ClassBits Classes[7] = {
    {false, false, false, 0, 0}, {false, false, true, 2, 0}, {false, true, false, 2, 1},
    {true, false, false, 2, 2},  {false, true, true, 4, 2},  {true, false, true, 4, 3},
    {true, true, false, 4, 4},
};

inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One group: for each subband its class (index into Classes) and `blocks` codes.
struct Group {
  int blocks = 16;
  int cls[32] = {};
  uint32_t codes[32][16] = {};
};

inline void put_group(std::vector<uint8_t>& out, const Group& g) {
  uint32_t a = 0, b = 0, c = 0;
  for (int m = 0; m < 32; ++m) {
    const ClassBits& k = Classes[g.cls[m]];
    a |= uint32_t{k.a} << m;
    b |= uint32_t{k.b} << m;
    c |= uint32_t{k.c} << m;
  }
  put_u32(out, a);
  put_u32(out, b);
  put_u32(out, c);
  for (int m = 0; m < 32; ++m) {
    const int bits = Classes[g.cls[m]].bits;
    if (bits == 0) continue;
    uint32_t acc = 0;
    int filled = 0;
    for (int r = 0; r < g.blocks; ++r) {
      acc = (acc << bits) | (g.codes[m][r] & ((1u << bits) - 1));
      filled += bits;
      if (filled == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        filled = 0;
      }
    }
    if (filled > 0) out.push_back(static_cast<uint8_t>(acc << (8 - filled)));
  }
}

inline std::vector<uint8_t> make_stream(uint32_t blocks, const std::vector<Group>& groups) {
  std::vector<uint8_t> out;
  put_u32(out, blocks);
  for (const Group& g : groups) put_group(out, g);
  return out;
}

// The value each code of the groups stands for, one row of 32 per block, computed plainly:
// the code as a signed number t, (t + 0.5) x 2^e.
inline std::vector<std::vector<double>> block_values(const std::vector<Group>& groups) {
  std::vector<std::vector<double>> rows;
  for (const Group& g : groups) {
    for (int r = 0; r < g.blocks; ++r) {
      std::vector<double> row(32, 0.0);
      for (int m = 0; m < 32; ++m) {
        const ClassBits& k = Classes[g.cls[m]];
        if (k.bits == 0) continue;
        int t = static_cast<int>(g.codes[m][r] & ((1u << k.bits) - 1));
        if (t >= (1 << (k.bits - 1))) t -= 1 << k.bits;
        row[m] = (t + 0.5) * static_cast<double>(1 << k.exponent);
      }
      rows.push_back(row);
    }
  }
  return rows;
}

// Groups for `blocks` blocks with random classes and codes.
inline std::vector<Group> random_groups(uint32_t blocks, std::mt19937& rng) {
  std::vector<Group> groups;
  for (uint32_t left = blocks; left > 0;) {
    Group g;
    g.blocks = left < 16 ? static_cast<int>(left) : 16;
    for (int m = 0; m < 32; ++m) {
      g.cls[m] = static_cast<int>(rng() % 7);
      for (int r = 0; r < g.blocks; ++r) g.codes[m][r] = rng() & 15u;
    }
    groups.push_back(g);
    left -= static_cast<uint32_t>(g.blocks);
  }
  return groups;
}

inline std::vector<uint8_t> random_stream(uint32_t blocks, std::mt19937& rng) {
  return make_stream(blocks, random_groups(blocks, rng));
}

}  // namespace test_streams
