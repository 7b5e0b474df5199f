// Page blocks: the stand-in for the kernel's page allocator.
#pragma once
#include <cstddef>

// A zero-filled, page-aligned, read-write block of at least `bytes` bytes (never executable),
// or nullptr when the system cannot supply it.
void* page_alloc(size_t bytes);

// Gives back a block from page_alloc; nullptr is ignored.
void page_free(void* block);
