// One worker thread: the stand-in for the kernel's thread calls the sound streaming uses.
#pragma once
#include <atomic>
#include <cstdint>

struct ThreadHandle;

// Starts `proc(param)` on a new thread; nullptr when no thread could be made.
ThreadHandle* create_thread(void (*proc)(void*), void* param);
// A worker made of timed cycles: until `*stop` is non-zero (looked at before each wait), it
// waits `period_ms` and then calls `cycle(param)`. On the desktop this is a thread of
// create_thread's that sleeps between cycles; in a browser page, which has no threads of its
// own without special server headers, it is a timer of the page's event loop. Either way
// wait_thread and close_thread end it. nullptr when it could not be made.
ThreadHandle* create_cycle_thread(void (*cycle)(void*), void* param, uint32_t period_ms,
                                  const std::atomic<uint32_t>* stop);
// Asks for the highest normal priority; failure is harmless and not reported.
void set_thread_priority_highest(ThreadHandle* thread);
// Waits up to `timeout_ms` for the thread to end; true when it has ended.
bool wait_thread(ThreadHandle* thread, uint32_t timeout_ms);
// Gives back the handle of an ended thread.
void close_thread(ThreadHandle* thread);
