// Shared between the headless backend's parts: the virtual clock and the sound device that
// plays along with it.
#pragma once
#include <cstdint>

// Microseconds of virtual time since headless_reset.
uint64_t clock_now_us();
void clock_reset();
// Moves the clock on. Worker threads asleep in sleep_ms wake at their exact virtual times,
// one after another, and the clock waits at each wake-up until the worker sleeps again or
// ends, so every run with the same inputs plays out the same.
void clock_advance_us(uint64_t us);
// Sets the clock directly (before anything runs on it).
void clock_set_us(uint64_t us);

// Called under the clock's lock as the clock moves from `from_us` to `to_us`.
void sound_clock_moved(uint64_t from_us, uint64_t to_us);
void sound_reset();
