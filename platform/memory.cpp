#include "platform/memory.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <cstdlib>
#include <cstring>
#else
#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#endif

namespace {
PageGate Gate = nullptr;
}  // namespace

void set_page_gate(PageGate gate) { Gate = gate; }

#if defined(_WIN32)

void* page_alloc(size_t bytes) {
  if (Gate != nullptr && !Gate()) {
    return nullptr;
  }
  // Committed pages come zero-filled. Nothing is ever run from them: read-write is enough.
  return VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void page_free(void* block) {
  if (block != nullptr) {
    VirtualFree(block, 0, MEM_RELEASE);
  }
}

// Committed pages take memory only once touched; the untouched ones cost nothing to keep.
void page_trim(void*, size_t, size_t) {}

#elif defined(__EMSCRIPTEN__)

// A web page's memory is one growing heap: page-aligned, cleared blocks from it.
void* page_alloc(size_t bytes) {
  if (Gate != nullptr && !Gate()) {
    return nullptr;
  }
  constexpr size_t PageBytes = 4096;
  if (bytes > static_cast<size_t>(-1) - PageBytes) {
    return nullptr;
  }
  const size_t rounded = bytes == 0 ? PageBytes : ((bytes + PageBytes - 1) / PageBytes) * PageBytes;
  void* block = std::aligned_alloc(PageBytes, rounded);
  if (block != nullptr) {
    std::memset(block, 0, rounded);
  }
  return block;
}

void page_free(void* block) { std::free(block); }

// The heap keeps what it has; nothing to give back.
void page_trim(void*, size_t, size_t) {}

#else

namespace {

// Blocks are carved one after another from 2 MB regions, aligned and marked for huge pages:
// the show's start-up blocks (a few MB, each written once) then cost a few page faults
// instead of one per 4 KB page, and on a virtual machine those faults were most of the
// start-up time. A block is never carved twice, so each comes zero-filled; a region is
// unmapped when its last block is given back, and a freed block's pages are given back at
// once. Blocks larger than a region get their own mapping.
constexpr size_t PageBytes = 4096;
constexpr size_t RegionBytes = size_t{2} << 20;

struct Region {
  char* base;
  size_t used;  // bytes carved so far, whole pages
  size_t live;  // blocks carved here and not given back
};

struct LiveBlock {
  size_t bytes;    // mapped or carved size, whole pages
  Region* region;  // nullptr: the block is its own mapping
};

std::mutex Lock;
Region* Open = nullptr;  // the region new blocks are carved from
// Live blocks by address: page_free needs each one's size, and keeping it here rather than
// in a header page in front of the block spares a page fault per block. Never destroyed:
// blocks outlive every static object (the show keeps most of them until the process ends).
std::unordered_map<void*, LiveBlock>& Live = *new std::unordered_map<void*, LiveBlock>;

void* map_pages(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

// A region-aligned region, or nullptr. Mapping twice the size and trimming both ends is the
// portable way to get the alignment.
Region* open_region() {
  char* p = static_cast<char*>(map_pages(2 * RegionBytes));
  if (p == nullptr) return nullptr;
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  char* base = p + ((RegionBytes - address % RegionBytes) % RegionBytes);
  if (base > p) munmap(p, static_cast<size_t>(base - p));
  const size_t tail = static_cast<size_t>(p + 2 * RegionBytes - (base + RegionBytes));
  if (tail > 0) munmap(base + RegionBytes, tail);
#if defined(MADV_HUGEPAGE)
  madvise(base, RegionBytes, MADV_HUGEPAGE);  // advice only: without it the region still works
#endif
  return new (std::nothrow) Region{base, 0, 0};
}

void close_region(Region* region) {
  munmap(region->base, RegionBytes);
  if (region == Open) Open = nullptr;
  delete region;
}

}  // namespace

void* page_alloc(size_t bytes) {
  if (Gate != nullptr && !Gate()) {
    return nullptr;
  }
  if (bytes > static_cast<size_t>(-1) - 2 * RegionBytes) {
    return nullptr;
  }
  const size_t rounded = bytes == 0 ? PageBytes : (bytes + PageBytes - 1) / PageBytes * PageBytes;
  std::lock_guard<std::mutex> hold(Lock);
  try {
    if (rounded > RegionBytes) {
      void* block = map_pages(rounded);
      if (block != nullptr) Live.emplace(block, LiveBlock{rounded, nullptr});
      return block;
    }
    if (Open == nullptr || RegionBytes - Open->used < rounded) {
      Region* fresh = open_region();
      if (fresh == nullptr) return nullptr;
      // The old region's unused tail is never touched, so it costs address space only.
      Region* old = Open;
      Open = fresh;
      if (old != nullptr && old->live == 0) close_region(old);
    }
    char* block = Open->base + Open->used;
    Live.emplace(block, LiveBlock{rounded, Open});
    Open->used += rounded;
    ++Open->live;
    return block;
  } catch (const std::bad_alloc&) {  // the table could not grow
    return nullptr;
  }
}

void page_free(void* block) {
  if (block == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> hold(Lock);
  const auto found = Live.find(block);
  if (found == Live.end()) {
    return;
  }
  const LiveBlock freed = found->second;
  Live.erase(found);
  if (freed.region == nullptr) {
    munmap(block, freed.bytes);
  } else if (--freed.region->live == 0) {
    close_region(freed.region);
  } else {
    madvise(block, freed.bytes, MADV_DONTNEED);
  }
}

void page_trim(void* block, size_t bytes, size_t keep) {
  // A huge page is made resident whole at its first touch: the part of it that the block
  // never writes goes back here, so start-up's few faults do not cost 2 MB per region.
  const size_t from = (keep + PageBytes - 1) / PageBytes * PageBytes;
  if (block != nullptr && from < bytes) {
    madvise(static_cast<char*>(block) + from, bytes - from, MADV_DONTNEED);
  }
}

#endif
