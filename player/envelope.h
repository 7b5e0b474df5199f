// Envelopes of an instrument record: a last point, a sustain point, a loop, and up to
// twelve points of (segment length in ticks, value 0..64).
#pragma once
#include <cstdint>

// One tick of an envelope at `envelope` (its block in the instrument record): returns the
// value 0..64 of this tick and advances the channel's point and tick.
int32_t envelope_step(const uint8_t* envelope, uint8_t keyOn, uint32_t& point, uint16_t& tick);

// Puts an envelope `ticks` ticks after its start, ignoring sustain and loop (effect Lxx);
// past the end it rests on the last point.
void set_envelope_position(const uint8_t* envelope, uint32_t ticks, uint32_t& point, uint16_t& tick);
