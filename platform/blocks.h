// Memory blocks for the show's long-lived buffers: every layer takes its blocks here.
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

// Blocks handed out and not yet given back: a repeated run in one process (the headless
// tools and tests) ends where it began.
size_t blocks_in_use();
