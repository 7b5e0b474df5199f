// A worker of timed cycles on a desktop thread: the loop every native backend shares.
#include <atomic>
#include <new>

#include "platform/clock.h"
#include "platform/thread.h"

namespace {

struct CycleWork {
  void (*cycle)(void*);
  void* param;
  uint32_t period_ms;
  const std::atomic<uint32_t>* stop;
};

void run_cycles(void* p) {
  const CycleWork work = *static_cast<CycleWork*>(p);
  delete static_cast<CycleWork*>(p);
  while (work.stop->load(std::memory_order_acquire) == 0) {
    sleep_ms(work.period_ms);
    work.cycle(work.param);
  }
}

}  // namespace

ThreadHandle* create_cycle_thread(void (*cycle)(void*), void* param, uint32_t period_ms,
                                  const std::atomic<uint32_t>* stop) {
  auto* work = new (std::nothrow) CycleWork{cycle, param, period_ms, stop};
  if (work == nullptr) return nullptr;
  ThreadHandle* thread = create_thread(run_cycles, work);
  if (thread == nullptr) delete work;
  return thread;
}
