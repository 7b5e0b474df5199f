// Page blocks: the stand-in for the kernel's page allocator. One implementation for every
// backend (the system's own pages on POSIX and Windows), so that the logic libraries and
// their tests need no backend to get memory.
#pragma once
#include <cstddef>

// A zero-filled, page-aligned, read-write block of at least `bytes` bytes (never executable),
// or nullptr when the system cannot supply it.
void* page_alloc(size_t bytes);

// Gives back a block from page_alloc; nullptr is ignored.
void page_free(void* block);

// Gives back the pages of a block from page_alloc (of `bytes` bytes) past its first `keep`
// bytes: for a large block written only in part, after the writing, when the rest is still
// zero. The block keeps its size and its contents; the pages given back read as zero.
void page_trim(void* block, size_t bytes, size_t keep);

// A test backend's gate, asked before every page block: when it answers false, page_alloc
// fails as a system out of memory would. No gate (the default) lets every block through.
using PageGate = bool (*)();
void set_page_gate(PageGate gate);
