// Memory blocks for the show's long-lived buffers, and the error report.
#pragma once
#include <cstddef>

// A zero-filled read-write block of `size` bytes from the page allocator. When the system
// cannot supply it, the block-failure handler runs; the show's handler reports the failure
// and ends the process, so the show's callers never see nullptr.
void* alloc_block(size_t size);
void free_block(void* block);

// What alloc_block does when a block cannot be had: called with the size asked for. When
// no handler is set, or the handler returns, alloc_block returns nullptr.
using BlockFailureHandler = void (*)(size_t size);
void set_block_failure_handler(BlockFailureHandler handler);
