#include "platform/memory.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <cstdlib>
#include <cstring>
#else
#include <sys/mman.h>
#endif

namespace {
PageGate Gate = nullptr;
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
constexpr size_t PageBytes = 4096;
#endif
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

#else

void* page_alloc(size_t bytes) {
  if (Gate != nullptr && !Gate()) {
    return nullptr;
  }
  // One page in front of the block keeps its mapped size for page_free; fresh anonymous
  // pages are zero-filled.
  if (bytes > static_cast<size_t>(-1) - 2 * PageBytes) {
    return nullptr;
  }
  const size_t total = PageBytes + ((bytes + PageBytes - 1) / PageBytes) * PageBytes;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    return nullptr;
  }
  *static_cast<size_t*>(p) = total;
  return static_cast<char*>(p) + PageBytes;
}

void page_free(void* block) {
  if (block == nullptr) {
    return;
  }
  char* base = static_cast<char*>(block) - PageBytes;
  munmap(base, *reinterpret_cast<size_t*>(base));
}

#endif
