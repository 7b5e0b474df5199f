// The web backend's clock, page blocks, the desktop's browser (a new tab) and workers.
// The page has one thread: a worker of timed cycles is a timer of the page's event loop,
// and a free-running thread cannot be made.
#include <emscripten/eventloop.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/clock.h"
#include "platform/program_file.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "platform/web/web_backend.h"

uint32_t get_tick_count() { return md_clock_ticks(); }

// Nothing on the page's thread may block it; the show's own code never sleeps there.
void sleep_ms(uint32_t) {}

void open_address(const char* address) { md_open_address(address); }

struct ThreadHandle {
  void (*cycle)(void*);
  void* param;
  const std::atomic<uint32_t>* stop;
  long timer;
  bool ended;
};

namespace {
void run_cycle(void* p) {
  auto* thread = static_cast<ThreadHandle*>(p);
  if (thread->ended) return;
  if (thread->stop->load(std::memory_order_acquire) != 0) {
    emscripten_clear_interval(thread->timer);
    thread->ended = true;
    return;
  }
  thread->cycle(thread->param);
}
}  // namespace

ThreadHandle* create_thread(void (*)(void*), void*) { return nullptr; }

ThreadHandle* create_cycle_thread(void (*cycle)(void*), void* param, uint32_t period_ms,
                                  const std::atomic<uint32_t>* stop) {
  auto* thread = new (std::nothrow) ThreadHandle{cycle, param, stop, 0, false};
  if (thread == nullptr) return nullptr;
  thread->timer = emscripten_set_interval(run_cycle, period_ms, thread);
  return thread;
}

void set_thread_priority_highest(ThreadHandle*) {}

// No cycle runs while the caller does: once the stop flag is set the worker has ended.
bool wait_thread(ThreadHandle* thread, uint32_t) {
  if (!thread->ended && thread->stop->load(std::memory_order_acquire) != 0) {
    emscripten_clear_interval(thread->timer);
    thread->ended = true;
  }
  return thread->ended;
}

void close_thread(ThreadHandle* thread) {
  if (!thread->ended) emscripten_clear_interval(thread->timer);
  delete thread;
}

// The page fetches disk.bin beside index.html before the show starts and, when there is
// one, writes it here (page.js).
std::FILE* open_own_program_file() { return std::fopen("/disk.bin", "rb"); }
