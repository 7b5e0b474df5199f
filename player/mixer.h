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

// The inner loop on its own, for holding the builds against each other: adds n frames of one
// voice that meets no bound on the way into `out`, starting at `position` (32.32 frames) and
// moving by `delta` (32.32) per frame, and returns the position after them; frames up to
// `lastReadable` may be read. Plain is the scalar loop; Vector is the AVX2 build that
// mix_voices uses where the processor has it.
enum class MixBuild { Plain, Vector };
bool mix_build_available(MixBuild build);
int64_t mix_run_with(MixBuild build, bool sixteenBit, bool backwards, const uint8_t* data, int64_t position,
                     int64_t delta, uint32_t n, int32_t gainLeft, int32_t gainRight, int32_t* out,
                     int64_t lastReadable);
