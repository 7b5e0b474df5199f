// The web backend's sound device: the looping secondary buffer is memory here, and the page
// plays it through Web Audio at its own pace (an audio worklet keeps a copy of the loop and
// reports how far it has played). What the streaming refill writes is handed to the page
// at Unlock; the play cursor is the page's report. Until the page's audio runs (browsers
// start sound only after a user gesture) the cursor stays at 0, so the refill renders
// nothing and the tune waits at its beginning.
#include <algorithm>
#include <vector>

#include "platform/sound_device.h"
#include "platform/web/web_backend.h"

namespace {

class WebBuffer;
WebBuffer* Playing = nullptr;

class WebBuffer final : public SoundBuffer {
 public:
  WebBuffer(bool primary, uint32_t bytes) : primary_(primary), memory_(bytes, 0) {}

  SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    if (primary_) return SOUNDERR_GENERIC;
    const uint32_t cursor = Playing == this ? md_sound_cursor() % size() : 0;
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
    if (primary_ || bytes > size() || offset >= size()) return SOUNDERR_GENERIC;
    const uint32_t first = std::min(bytes, size() - offset);
    *region1 = memory_.data() + offset;
    *length1 = first;
    if (first < bytes) {
      *region2 = memory_.data();
      *length2 = bytes - first;
    }
    return SOUND_OK;
  }

  SoundResult Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) override {
    if (Playing != this) return SOUND_OK;
    if (region1 != nullptr && length1 > 0) {
      md_sound_written(memory_.data(), static_cast<uint32_t>(static_cast<uint8_t*>(region1) - memory_.data()), length1);
    }
    if (region2 != nullptr && length2 > 0) md_sound_written(memory_.data(), 0, length2);
    return SOUND_OK;
  }

  SoundResult Play(uint32_t, uint32_t, uint32_t) override {
    if (primary_) return SOUND_OK;
    if (Playing != nullptr && Playing != this) Playing->halt();
    Playing = this;
    md_sound_play(memory_.data(), size());
    return SOUND_OK;
  }

  SoundResult SetFormat(const WaveFormat*) override { return SOUND_OK; }
  SoundResult Restore() override { return SOUND_OK; }
  uint32_t Release() override {
    halt();
    delete this;
    return 0;
  }

 private:
  uint32_t size() const { return static_cast<uint32_t>(memory_.size()); }
  void halt() {
    if (Playing == this) {
      md_sound_stop();
      Playing = nullptr;
    }
  }

  bool primary_;
  std::vector<uint8_t> memory_;
};

class WebSoundDevice final : public SoundDevice {
 public:
  SoundResult SetCooperativeLevel(intptr_t, uint32_t) override { return SOUND_OK; }
  SoundResult CreateSoundBuffer(const SoundBufferDesc* desc, SoundBuffer** buffer) override {
    *buffer = nullptr;
    if (desc->dwFlags & SOUNDCAPS_PRIMARYBUFFER) {
      *buffer = new WebBuffer(true, 0);
      return SOUND_OK;
    }
    // The page plays 44100 Hz 16-bit stereo, in a loop of whole frames.
    const WaveFormat* f = desc->lpwfxFormat;
    if (f == nullptr || f->nChannels != 2 || f->wBitsPerSample != 16 || f->nSamplesPerSec != 44100 ||
        desc->dwBufferBytes == 0 || desc->dwBufferBytes % 4 != 0) {
      return SOUNDERR_GENERIC;
    }
    *buffer = new WebBuffer(false, desc->dwBufferBytes);
    return SOUND_OK;
  }
  uint32_t Release() override {
    delete this;
    return 0;
  }
};

}  // namespace

SoundResult create_sound_device(SoundDevice** device) {
  *device = nullptr;
  if (!md_sound_available()) return SOUNDERR_GENERIC;
  *device = new WebSoundDevice();
  return SOUND_OK;
}

intptr_t get_foreground_window() { return 1; }
