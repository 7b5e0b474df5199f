// One worker thread: the stand-in for the kernel's thread calls the sound streaming uses.
#pragma once
#include <cstdint>

struct ThreadHandle;

// Starts `proc(param)` on a new thread; nullptr when no thread could be made.
ThreadHandle* create_thread(void (*proc)(void*), void* param);
// Asks for the highest normal priority; failure is harmless and not reported.
void set_thread_priority_highest(ThreadHandle* thread);
// Waits up to `timeout_ms` for the thread to end; true when it has ended.
bool wait_thread(ThreadHandle* thread, uint32_t timeout_ms);
// Gives back the handle of an ended thread.
void close_thread(ThreadHandle* thread);
