// The sound device: the stand-in for the streaming-sound interface the show plays through.
// One device, a primary buffer whose format can be set, and looping secondary buffers of
// 16-bit PCM that the device plays from at its play cursor. Results keep the interface's
// convention: negative is failure.
#pragma once
#include <cstdint>

using SoundResult = int32_t;
constexpr SoundResult SOUND_OK = 0;
constexpr SoundResult SOUNDERR_GENERIC = static_cast<SoundResult>(0x80004005u);
constexpr SoundResult SOUNDERR_BUFFERLOST = static_cast<SoundResult>(0x88780096u);

constexpr uint32_t SOUNDCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t SOUNDCAPS_GETCURRENTPOSITION2 = 0x10000;
constexpr uint32_t SOUNDCAPS_GLOBALFOCUS = 0x8000;
constexpr uint32_t SOUNDLOCK_ENTIREBUFFER = 2;
constexpr uint32_t SOUNDPLAY_LOOPING = 1;
constexpr uint32_t SOUNDSCL_EXCLUSIVE = 3;

struct WaveFormat {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};

struct SoundBufferDesc {
  uint32_t dwSize;
  uint32_t dwFlags;
  uint32_t dwBufferBytes;
  uint32_t dwReserved;
  const WaveFormat* lpwfxFormat;
};

class SoundBuffer {
 public:
  // Offsets in bytes of the play cursor (and, when asked, of the write cursor).
  virtual SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write) = 0;
  // Locks `bytes` from `offset` (or the whole buffer with SOUNDLOCK_ENTIREBUFFER): one region,
  // or two when the span wraps past the end.
  virtual SoundResult Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* length1, void** region2,
                           uint32_t* length2, uint32_t flags) = 0;
  virtual SoundResult Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) = 0;
  virtual SoundResult Play(uint32_t reserved, uint32_t priority, uint32_t flags) = 0;
  virtual SoundResult SetFormat(const WaveFormat* format) = 0;
  virtual SoundResult Restore() = 0;
  // Ends playback and frees the buffer.
  virtual uint32_t Release() = 0;

 protected:
  ~SoundBuffer() = default;
};

class SoundDevice {
 public:
  virtual SoundResult SetCooperativeLevel(intptr_t window, uint32_t level) = 0;
  virtual SoundResult CreateSoundBuffer(const SoundBufferDesc* desc, SoundBuffer** buffer) = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~SoundDevice() = default;
};

// Opens the default sound device; fails when there is none or it is busy.
SoundResult create_sound_device(SoundDevice** device);

// The window the sound device's cooperative level is set for.
intptr_t get_foreground_window();
