// The page blocks every layer builds on: zero-filled, aligned, disjoint, and their pages
// given back when freed or trimmed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/blocks.h"
#include "platform/memory.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace {

bool all_equal(const uint8_t* p, size_t bytes, uint8_t value) {
  return std::all_of(p, p + bytes, [value](uint8_t b) { return b == value; });
}

// Sizes the show asks for (a frame, a tune image) and the awkward ones around a page and a
// 2 MB huge page, each held three times over and filled with its own byte; then every other
// block is freed and the sizes taken again, which must come zero-filled although their
// addresses may have been handed out before.
TEST(PageBlocks, ComeZeroFilledAlignedAndDisjointAlsoAfterFrees) {
  const size_t sizes[] = {1, 4096, 4097, 409600, 480000, (size_t{2} << 20) - 1, size_t{3} << 20};
  const size_t before = blocks_in_use();
  std::vector<std::pair<uint8_t*, size_t>> held;
  for (int round = 0; round < 2; ++round) {
    for (int copy = 0; copy < 3; ++copy) {
      for (const size_t bytes : sizes) {
        auto* p = static_cast<uint8_t*>(alloc_block(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u) << bytes;
        EXPECT_TRUE(all_equal(p, bytes, 0)) << bytes << " bytes, round " << round;
        held.push_back({p, bytes});
      }
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

#if !defined(_WIN32)
// Resident pages of [p, p + bytes); -1 when the range is no longer mapped at all.
long resident_pages(const void* p, size_t bytes) {
  std::vector<unsigned char> in((bytes + 4095) / 4096);
  if (mincore(const_cast<void*>(p), bytes, in.data()) != 0) return -1;
  long count = 0;
  for (const unsigned char c : in) count += c & 1;
  return count;
}

// A freed block's pages go back at once, whether or not blocks beside it stay; a tune image
// is written at its start only, and trimming gives back the rest of its pages.
TEST(PageBlocks, FreedAndTrimmedPagesGoBackToTheSystem) {
  for (const size_t bytes : {size_t{96000}, size_t{3} << 20}) {
    auto* a = static_cast<uint8_t*>(alloc_block(bytes));
    auto* b = static_cast<uint8_t*>(alloc_block(4096));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 1, bytes);
    b[0] = 1;
    EXPECT_EQ(resident_pages(a, bytes), static_cast<long>((bytes + 4095) / 4096));
    free_block(a);
    EXPECT_LE(resident_pages(a, bytes), 0) << bytes << " bytes kept after free_block";
    free_block(b);
    EXPECT_LE(resident_pages(b, 4096), 0) << "the last block of its region kept after free_block";
  }
  const size_t bytes = 409600, keep = 5000, kept = 8192;  // the page holding byte 4999 stays
  auto* p = static_cast<uint8_t*>(alloc_block(bytes));
  ASSERT_NE(p, nullptr);
  std::memset(p, 7, bytes);
  page_trim(p, bytes, keep);
  EXPECT_TRUE(all_equal(p, keep, 7));
  EXPECT_EQ(resident_pages(p + kept, bytes - kept), 0);
  EXPECT_TRUE(all_equal(p + kept, bytes - kept, 0));
  free_block(p);
}
#endif

}  // namespace
