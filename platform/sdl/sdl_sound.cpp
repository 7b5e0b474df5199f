// The SDL2 sound device: one audio device at 44100 Hz, signed 16-bit stereo, whose callback
// plays the looping buffer from its play cursor and moves the cursor on.
#include <SDL.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/sound_device.h"

namespace {

class SdlBuffer;

struct DeviceState {
  SDL_AudioDeviceID id = 0;
  SdlBuffer* playing = nullptr;  // guarded by SDL_LockAudioDevice
};

class SdlBuffer final : public SoundBuffer {
 public:
  SdlBuffer(DeviceState* device, bool primary, uint32_t bytes)
      : device_(device), primary_(primary), memory_(bytes, 0) {}

  SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    const uint32_t cursor = cursor_.load(std::memory_order_acquire);
    if (play != nullptr) *play = cursor;
    if (write != nullptr) *write = cursor;
    return SOUND_OK;
  }

  SoundResult Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* length1, void** region2,
                   uint32_t* length2, uint32_t flags) override {
    *region1 = *region2 = nullptr;
    *length1 = *length2 = 0;
    if (flags & SOUNDLOCK_ENTIREBUFFER) {
      offset = 0;
      bytes = size();
    }
    if (primary_ || bytes == 0 || bytes > size() || offset >= size()) return SOUNDERR_GENERIC;
    const uint32_t first = std::min(bytes, size() - offset);
    *region1 = memory_.data() + offset;
    *length1 = first;
    if (first < bytes) {
      *region2 = memory_.data();
      *length2 = bytes - first;
    }
    return SOUND_OK;
  }

  SoundResult Unlock(void*, uint32_t, void*, uint32_t) override {
    // Publishes what was written to the callback, which reads it a buffer length later.
    written_.fetch_add(1, std::memory_order_release);
    return SOUND_OK;
  }

  SoundResult Play(uint32_t, uint32_t, uint32_t) override {
    if (primary_) return SOUNDERR_GENERIC;
    SDL_LockAudioDevice(device_->id);
    device_->playing = this;
    SDL_UnlockAudioDevice(device_->id);
    SDL_PauseAudioDevice(device_->id, 0);
    return SOUND_OK;
  }

  // The device was opened in exactly the stream's format; the primary only takes note.
  SoundResult SetFormat(const WaveFormat* format) override { return primary_ && format ? SOUND_OK : SOUNDERR_GENERIC; }
  SoundResult Restore() override { return SOUND_OK; }

  uint32_t Release() override {
    SDL_LockAudioDevice(device_->id);
    if (device_->playing == this) device_->playing = nullptr;
    SDL_UnlockAudioDevice(device_->id);
    delete this;
    return 0;
  }

  // Audio thread: plays `len` bytes from the cursor.
  void play_into(uint8_t* out, int len) {
    (void)written_.load(std::memory_order_acquire);
    uint32_t cursor = cursor_.load(std::memory_order_relaxed);
    while (len > 0) {
      const uint32_t n = std::min(static_cast<uint32_t>(len), size() - cursor);
      std::memcpy(out, memory_.data() + cursor, n);
      out += n;
      len -= static_cast<int>(n);
      cursor = (cursor + n) % size();
    }
    cursor_.store(cursor, std::memory_order_release);
  }

 private:
  uint32_t size() const { return static_cast<uint32_t>(memory_.size()); }
  DeviceState* device_;
  bool primary_;
  std::vector<uint8_t> memory_;
  std::atomic<uint32_t> cursor_{0};
  std::atomic<uint32_t> written_{0};
};

void SDLCALL fill_audio(void* userdata, Uint8* stream, int len) {
  auto* device = static_cast<DeviceState*>(userdata);
  if (device->playing != nullptr) {
    device->playing->play_into(stream, len);
  } else {
    std::memset(stream, 0, static_cast<size_t>(len));
  }
}

class SdlSoundDevice final : public SoundDevice {
 public:
  explicit SdlSoundDevice(DeviceState* state) : state_(state) {}
  SoundResult SetCooperativeLevel(intptr_t, uint32_t) override { return SOUND_OK; }
  SoundResult CreateSoundBuffer(const SoundBufferDesc* desc, SoundBuffer** buffer) override {
    *buffer = nullptr;
    const bool primary = (desc->dwFlags & SOUNDCAPS_PRIMARYBUFFER) != 0;
    if (!primary && (desc->dwBufferBytes < 4 || desc->lpwfxFormat == nullptr)) return SOUNDERR_GENERIC;
    *buffer = new SdlBuffer(state_, primary, primary ? 0 : desc->dwBufferBytes);
    return SOUND_OK;
  }
  uint32_t Release() override {
    SDL_CloseAudioDevice(state_->id);
    delete state_;
    delete this;
    return 0;
  }

 private:
  DeviceState* state_;
};

}  // namespace

SoundResult create_sound_device(SoundDevice** device) {
  *device = nullptr;
  if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    return SOUNDERR_GENERIC;
  }
  auto* state = new DeviceState();
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = 1024;
  want.callback = fill_audio;
  want.userdata = state;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts if the hardware wants another format.
  state->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (state->id == 0) {
    delete state;
    return SOUNDERR_GENERIC;
  }
  *device = new SdlSoundDevice(state);
  return SOUND_OK;
}
