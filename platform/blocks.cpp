#include "platform/blocks.h"

#include <atomic>

#include "platform/memory.h"

namespace {
BlockFailureHandler FailureHandler = nullptr;
std::atomic<size_t> BlocksInUse{0};
}  // namespace

void set_block_failure_handler(BlockFailureHandler handler) { FailureHandler = handler; }

void* alloc_block(size_t size) {
  void* block = page_alloc(size);
  if (block == nullptr) {
    if (FailureHandler != nullptr) {
      FailureHandler(size);
    }
    return nullptr;
  }
  BlocksInUse.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void free_block(void* block) {
  if (block != nullptr) {
    BlocksInUse.fetch_sub(1, std::memory_order_relaxed);
  }
  page_free(block);
}

size_t blocks_in_use() { return BlocksInUse.load(std::memory_order_relaxed); }
