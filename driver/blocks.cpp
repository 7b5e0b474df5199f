#include "driver/blocks.h"

#include "platform/memory.h"

namespace {
BlockFailureHandler FailureHandler = nullptr;
}

void set_block_failure_handler(BlockFailureHandler handler) { FailureHandler = handler; }

void* alloc_block(size_t size) {
  void* block = page_alloc(size);
  if (block == nullptr && FailureHandler != nullptr) {
    FailureHandler(size);
  }
  return block;
}

void free_block(void* block) { page_free(block); }
