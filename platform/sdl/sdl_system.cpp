// The SDL2 backend's clock, page blocks, message box and process exit.
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/sdl/sdl_backend.h"
#include "platform/window.h"

uint32_t get_tick_count() { return static_cast<uint32_t>(SDL_GetTicks64()); }

void sleep_ms(uint32_t ms) { SDL_Delay(ms); }

namespace {
constexpr size_t PageBytes = 4096;
}

void* page_alloc(size_t bytes) {
  // One page in front of the block keeps its mapped size for page_free.
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

void message_box(const char* text, const char* caption) {
  // Without a display the box cannot be shown; the caller has written the text to
  // standard error as well.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}

void exit_process(int code) {
  SDL_Quit();
  std::fflush(nullptr);
  // Ends at once, like the process exit it stands in for: no destructors run while the
  // show's records are still in use.
  std::_Exit(code);
}
