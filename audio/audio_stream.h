// Sound output: one tune at a time streamed through a looping 65536-byte buffer of 44100 Hz
// 16-bit stereo PCM, refilled every 25 ms by a streaming thread from the player's mix.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/sound_device.h"
#include "platform/thread.h"

constexpr uint32_t SoundBufferBytes = 65536;
constexpr uint32_t PlayerAreaBytes = 65536;
constexpr uint32_t MixBufferValues = 131072;
constexpr int32_t Pcm16Limit = 32500;

// The PCM format of the stream.
constexpr WaveFormat StreamFormat = {1, 2, 44100, 176400, 4, 16, 0};

struct AudioStreamRecord {
  SoundBuffer* secondary;
  SoundBuffer* primary;
  SoundDevice* device;
  std::atomic<uint32_t> stop;  // set by stop_audio, polled by the thread once per cycle
  ThreadHandle* thread;
  void* region1;
  uint32_t length1;
  void* region2;
  uint32_t length2;
  uint32_t playCursor;     // bytes, as last read
  uint32_t writePosition;  // bytes, where the next refill begins; a multiple of 32
  WaveFormat format;
  alignas(16) uint8_t playerArea[PlayerAreaBytes];
  int32_t mixBuffer[MixBufferValues];  // left, right, left, ...
};

// The one stream; zeroed at every start.
extern AudioStreamRecord AudioStream;

// Opens the sound device for `window` and streams `image` (a module image; the player decodes its sample data in place). -1 when the
// buffer plays and the thread runs, 0 on failure (everything made so far released).
int32_t start_audio(intptr_t window, uint8_t* image);
// Stops the thread (waiting until it has really ended) and releases the buffers and the
// device. Safe after a failed start and when nothing runs.
void stop_audio();
// The streaming thread wakes this often and refills what was played meanwhile.
constexpr uint32_t RefillPeriodMs = 25;
// One cycle of the streaming thread, after its wait (the parameter is ignored).
void audio_cycle(void* parameter);
// One refill: reads the cursor, renders and writes what was played.
void audio_refill();
// Converts bytes / 2 mix values to 16-bit samples, limited to +-32500.
void clamp_to_pcm16(const int32_t* source, int16_t* destination, uint32_t bytes);
