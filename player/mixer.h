// The mixer: adds the sounding voices of the channels into 32-bit stereo accumulators,
// linearly interpolated, with a linear panning law. Clipping is left to the audio output.
#pragma once
#include <cstdint>

struct ChannelState;

// Renders `frames` output frames of all 32 voices of `channels` into `output` (left, right
// per frame; the run is cleared first) and returns the output position after them. Each
// voice's step, volume and panning stay fixed for the run.
int32_t* mix_voices(ChannelState* channels, uint32_t frames, int32_t* output);

// Brings a voice inside its bounds by the boundary rule: past the end of a sample without
// loop it stops (false), a forward loop moves back by whole loop lengths, a ping-pong loop
// reflects and turns. Also false for a loop without length, which would never settle.
bool settle_voice(ChannelState& voice);
