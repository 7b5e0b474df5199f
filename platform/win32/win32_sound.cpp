// The Win32 backend's sound device: DirectSound itself. The wrappers only change types
// (the kernel's DWORD and WAVEFORMATEX for the platform's fixed-width ones); every result is
// DirectSound's own, so a lost buffer reports DSERR_BUFFERLOST as the show expects.
#include "platform/win32/win32_backend.h"

#include <mmsystem.h>
#include <dsound.h>

static_assert(SOUNDERR_BUFFERLOST == static_cast<SoundResult>(DSERR_BUFFERLOST));
static_assert(SOUNDCAPS_PRIMARYBUFFER == DSBCAPS_PRIMARYBUFFER);
static_assert(SOUNDCAPS_GETCURRENTPOSITION2 == DSBCAPS_GETCURRENTPOSITION2);
static_assert(SOUNDCAPS_GLOBALFOCUS == DSBCAPS_GLOBALFOCUS);
static_assert(SOUNDLOCK_ENTIREBUFFER == DSBLOCK_ENTIREBUFFER);
static_assert(SOUNDPLAY_LOOPING == DSBPLAY_LOOPING);
static_assert(SOUNDSCL_EXCLUSIVE == DSSCL_EXCLUSIVE);

namespace {

WAVEFORMATEX wave_format(const WaveFormat& f) {
  WAVEFORMATEX w = {};
  w.wFormatTag = f.wFormatTag;
  w.nChannels = f.nChannels;
  w.nSamplesPerSec = f.nSamplesPerSec;
  w.nAvgBytesPerSec = f.nAvgBytesPerSec;
  w.nBlockAlign = f.nBlockAlign;
  w.wBitsPerSample = f.wBitsPerSample;
  w.cbSize = f.cbSize;
  return w;
}

class Win32SoundBuffer final : public SoundBuffer {
 public:
  explicit Win32SoundBuffer(IDirectSoundBuffer* b) : buffer(b) {}

  SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    DWORD p = 0, w = 0;
    const HRESULT hr = buffer->GetCurrentPosition(play != nullptr ? &p : nullptr, write != nullptr ? &w : nullptr);
    if (SUCCEEDED(hr)) {
      if (play != nullptr) {
        *play = p;
      }
      if (write != nullptr) {
        *write = w;
      }
    }
    return hr;
  }

  SoundResult Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* length1, void** region2,
                   uint32_t* length2, uint32_t flags) override {
    DWORD l1 = 0, l2 = 0;
    void* r1 = nullptr;
    void* r2 = nullptr;
    const HRESULT hr = buffer->Lock(offset, bytes, &r1, &l1, &r2, &l2, flags);
    if (SUCCEEDED(hr)) {
      *region1 = r1;
      *length1 = l1;
      if (region2 != nullptr) {
        *region2 = r2;
      }
      if (length2 != nullptr) {
        *length2 = l2;
      }
    }
    return hr;
  }

  SoundResult Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) override {
    return buffer->Unlock(region1, length1, region2, length2);
  }

  SoundResult Play(uint32_t reserved, uint32_t priority, uint32_t flags) override {
    return buffer->Play(reserved, priority, flags);
  }

  SoundResult SetFormat(const WaveFormat* format) override {
    WAVEFORMATEX w = wave_format(*format);
    return buffer->SetFormat(&w);
  }

  SoundResult Restore() override { return buffer->Restore(); }

  uint32_t Release() override {
    const ULONG left = buffer->Release();
    delete this;
    return left;
  }

 private:
  IDirectSoundBuffer* buffer;
};

class Win32SoundDevice final : public SoundDevice {
 public:
  explicit Win32SoundDevice(IDirectSound* d) : device(d) {}

  SoundResult SetCooperativeLevel(intptr_t window, uint32_t level) override {
    return device->SetCooperativeLevel(reinterpret_cast<HWND>(window), level);
  }

  SoundResult CreateSoundBuffer(const SoundBufferDesc* desc, SoundBuffer** out) override {
    // The description without the 3-D algorithm identifier, as the show asks: the record of
    // the first interface version, whatever its size on this processor.
    WAVEFORMATEX format = {};
    DSBUFFERDESC1 d = {};
    d.dwSize = sizeof(d);
    d.dwFlags = desc->dwFlags;
    d.dwBufferBytes = desc->dwBufferBytes;
    d.dwReserved = desc->dwReserved;
    if (desc->lpwfxFormat != nullptr) {
      format = wave_format(*desc->lpwfxFormat);
      d.lpwfxFormat = &format;
    }
    IDirectSoundBuffer* buffer = nullptr;
    const HRESULT hr = device->CreateSoundBuffer(reinterpret_cast<const DSBUFFERDESC*>(&d), &buffer, nullptr);
    if (FAILED(hr)) {
      return hr;
    }
    *out = new Win32SoundBuffer(buffer);
    return hr;
  }

  uint32_t Release() override {
    const ULONG left = device->Release();
    delete this;
    return left;
  }

 private:
  IDirectSound* device;
};

}  // namespace

SoundResult create_sound_device(SoundDevice** out) {
  IDirectSound* device = nullptr;
  const HRESULT hr = DirectSoundCreate(nullptr, &device, nullptr);
  if (FAILED(hr)) {
    return hr;
  }
  *out = new Win32SoundDevice(device);
  return hr;
}

intptr_t get_foreground_window() {
  // DirectSound refuses a cooperative level without a window. When no window has the focus
  // as a tune starts (while the focus moves between windows, or on a desktop that has none),
  // the show's own window stands in: its buffer plays with global focus either way.
  HWND window = GetForegroundWindow();
  return reinterpret_cast<intptr_t>(window != nullptr ? window : Win32Window);
}
