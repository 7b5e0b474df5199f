// The headless virtual clock and worker threads in lockstep with it.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/headless/headless.h"
#include "platform/headless/internal.h"
#include "platform/thread.h"

struct ThreadHandle {
  std::thread thread;
  bool running = true;     // not asleep and not ended
  bool ended = false;
  bool asleep = false;
  uint64_t wake_us = 0;
  bool wake_now = false;   // a wait on the thread releases its sleep without moving the clock
};

namespace {

std::mutex Mutex;
std::condition_variable Changed;
uint64_t NowUs = 0;
std::vector<ThreadHandle*> Workers;
thread_local ThreadHandle* Self = nullptr;

// Waits until no worker is running (each is asleep or ended). Caller holds the lock.
void wait_workers_idle(std::unique_lock<std::mutex>& lock) {
  Changed.wait(lock, [] {
    for (ThreadHandle* w : Workers) {
      if (w->running) return false;
    }
    return true;
  });
}

void move_clock(uint64_t to_us) {
  if (to_us > NowUs) {
    sound_clock_moved(NowUs, to_us);
    NowUs = to_us;
  }
}

}  // namespace

uint64_t clock_now_us() {
  std::lock_guard<std::mutex> lock(Mutex);
  return NowUs;
}

void clock_reset() {
  std::lock_guard<std::mutex> lock(Mutex);
  NowUs = 0;
}

void clock_set_us(uint64_t us) {
  std::lock_guard<std::mutex> lock(Mutex);
  NowUs = us;
}

void clock_advance_us(uint64_t us) {
  std::unique_lock<std::mutex> lock(Mutex);
  const uint64_t target = NowUs + us;
  while (!headless_config().free_running_workers) {
    wait_workers_idle(lock);
    ThreadHandle* next = nullptr;
    for (ThreadHandle* w : Workers) {
      if (w->asleep && w->wake_us <= target && (next == nullptr || w->wake_us < next->wake_us)) next = w;
    }
    if (next == nullptr) break;
    move_clock(next->wake_us);
    next->asleep = false;
    next->running = true;
    Changed.notify_all();
  }
  move_clock(target);
}

void sleep_ms(uint32_t ms) {
  std::unique_lock<std::mutex> lock(Mutex);
  ThreadHandle* self = Self;
  if (self == nullptr) {
    // The thread that drives the clock: sleeping is time passing.
    lock.unlock();
    clock_advance_us(static_cast<uint64_t>(ms) * 1000u);
    return;
  }
  if (headless_config().free_running_workers) {
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::microseconds(ms));
    return;
  }
  self->wake_us = NowUs + static_cast<uint64_t>(ms) * 1000u;
  self->asleep = true;
  self->running = false;
  Changed.notify_all();
  Changed.wait(lock, [self] { return self->running || self->wake_now; });
  self->asleep = false;
  self->running = true;
  self->wake_now = false;
}

ThreadHandle* create_thread(void (*proc)(void*), void* param) {
  auto* handle = new ThreadHandle();
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Workers.push_back(handle);
  }
  handle->thread = std::thread([handle, proc, param] {
    Self = handle;
    proc(param);
    std::lock_guard<std::mutex> lock(Mutex);
    handle->running = false;
    handle->ended = true;
    Changed.notify_all();
  });
  return handle;
}

void set_thread_priority_highest(ThreadHandle*) {}

bool wait_thread(ThreadHandle* thread, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(Mutex);
  if (headless_config().free_running_workers) {
    return Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [thread] { return thread->ended; });
  }
  // Waiting lets time pass for the thread: each sleep it starts ends at once and the clock
  // stays. A thread that had not yet seen what ends it may sleep a few more times before it
  // ends; the time-out counts the virtual time those sleeps asked for (at least 1 ms each, so
  // a thread that only ever yields still runs out of it).
  const uint64_t limit_us = static_cast<uint64_t>(timeout_ms) * 1000u;
  uint64_t slept_us = 0;
  while (true) {
    Changed.wait(lock, [thread] { return !thread->running; });
    if (thread->ended) return true;
    const uint64_t asked_us = thread->wake_us > NowUs ? thread->wake_us - NowUs : 0;
    slept_us += std::max<uint64_t>(asked_us, 1000u);
    if (slept_us > limit_us) return false;
    thread->wake_now = true;
    thread->running = true;
    Changed.notify_all();
  }
}

void close_thread(ThreadHandle* thread) {
  {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [thread] { return thread->ended; });
    std::erase(Workers, thread);
  }
  thread->thread.join();
  delete thread;
}
