// The page blocks every layer builds on: zero-filled, disjoint, and given back when freed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/blocks.h"
#include "platform/memory.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace {

// Sizes the show asks for (a frame, a bar image, a tune image) and the awkward ones around
// a page and a 2 MB huge page.
constexpr size_t Sizes[] = {1, 2400, 4096, 4097, 96000, 409600, 480000, (size_t{2} << 20) - 1, size_t{3} << 20};

struct Held {
  uint8_t* p;
  size_t bytes;
  uint8_t mark;
};

bool all_equal(const uint8_t* p, size_t bytes, uint8_t value) {
  for (size_t i = 0; i < bytes; ++i)
    if (p[i] != value) return false;
  return true;
}

// Holds the sizes three times over, each block filled with its own byte; then frees every
// other one and takes the same sizes again, which must come zero-filled although their
// addresses may have been handed out before.
TEST(PageBlocks, ComeZeroFilledAlignedAndDisjointAlsoAfterFrees) {
  const size_t before = blocks_in_use();
  std::vector<Held> held;
  for (int round = 0; round < 2; ++round) {
    for (int copy = 0; copy < 3; ++copy) {
      for (const size_t bytes : Sizes) {
        auto* p = static_cast<uint8_t*>(alloc_block(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u) << bytes;
        EXPECT_TRUE(all_equal(p, bytes, 0)) << bytes << " bytes, round " << round;
        const uint8_t mark = static_cast<uint8_t>(1 + held.size() % 250);
        std::memset(p, mark, bytes);
        held.push_back({p, bytes, mark});
      }
    }
    for (const Held& h : held) EXPECT_TRUE(all_equal(h.p, h.bytes, h.mark)) << h.bytes << " bytes overwritten";
    std::vector<Held> kept;
    for (size_t i = 0; i < held.size(); ++i) {
      if (i % 2 == static_cast<size_t>(round % 2)) free_block(held[i].p);
      else kept.push_back(held[i]);
    }
    held = kept;
  }
  for (const Held& h : held) free_block(h.p);
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

// A freed block's pages go back at once, whether or not blocks beside it stay.
TEST(PageBlocks, FreedPagesGoBackToTheSystem) {
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
}

// A tune image is written at its start only: the rest of its pages go back, the start stays.
TEST(PageBlocks, TrimKeepsTheWrittenStartAndGivesBackTheRest) {
  const size_t bytes = 409600, keep = 5000, kept = 8192;  // the page holding byte 4999 stays
  auto* p = static_cast<uint8_t*>(alloc_block(bytes));
  ASSERT_NE(p, nullptr);
  std::memset(p, 7, keep);
  std::memset(p + kept, 0, bytes - kept);  // resident, as a huge page would make it
  page_trim(p, bytes, keep);
  EXPECT_TRUE(all_equal(p, keep, 7));
  EXPECT_EQ(resident_pages(p + kept, bytes - kept), 0);
  EXPECT_TRUE(all_equal(p + kept, bytes - kept, 0));
  free_block(p);
}
#endif

}  // namespace
