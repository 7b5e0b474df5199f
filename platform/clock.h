// Millisecond clock and sleeping: the stand-in for the kernel's tick count.
#pragma once
#include <cstdint>

// Milliseconds since an arbitrary origin, wrapping modulo 2^32 (about 49.7 days).
// Callers compare tick counts only through unsigned differences.
uint32_t get_tick_count();

// Gives up the calling thread for at least `ms` milliseconds.
void sleep_ms(uint32_t ms);
