// The page blocks every layer builds on: zero-filled, aligned and disjoint, also where
// freed blocks were before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/blocks.h"
#include "platform/memory.h"

namespace {

bool all_equal(const uint8_t* p, size_t bytes, uint8_t value) {
  return std::all_of(p, p + bytes, [value](uint8_t b) { return b == value; });
}

// Sizes the show asks for (a frame, a tune image) and the awkward ones around a page and a
// 2 MB huge page (a new region each time one is full), each block filled with its own byte;
// then every other block is freed and the sizes taken again, which must come zero-filled
// although their addresses may have been handed out before.
TEST(PageBlocks, ComeZeroFilledAlignedAndDisjointAlsoAfterFrees) {
  const size_t sizes[] = {1, 4096, 4097, 409600, 480000, (size_t{2} << 20) - 1, size_t{3} << 20};
  const size_t before = blocks_in_use();
  std::vector<std::pair<uint8_t*, size_t>> held;
  for (int round = 0; round < 2; ++round) {
    for (const size_t bytes : sizes) {
      auto* p = static_cast<uint8_t*>(alloc_block(bytes));
      ASSERT_NE(p, nullptr) << bytes;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u) << bytes;
      EXPECT_TRUE(all_equal(p, bytes, 0)) << bytes << " bytes, round " << round;
      held.push_back({p, bytes});
    }
    // Each block its own byte: a block that overlaps another loses its byte.
    const auto mark = [](size_t i) { return static_cast<uint8_t>(1 + i % 250); };
    for (size_t i = 0; i < held.size(); ++i) std::memset(held[i].first, mark(i), held[i].second);
    for (size_t i = 0; i < held.size(); ++i) EXPECT_TRUE(all_equal(held[i].first, held[i].second, mark(i))) << i;
    for (size_t i = held.size(); i-- > 0;) {
      if (i % 2 == 0) {
        free_block(held[i].first);
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  for (const auto& [p, bytes] : held) free_block(p);
  EXPECT_EQ(blocks_in_use(), before);
}

}  // namespace
