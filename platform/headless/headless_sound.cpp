// The headless sound device: a looping buffer whose play cursor moves with the virtual
// clock at 44100 frames per second, and a record of everything it played.
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/internal.h"
#include "platform/shell.h"
#include "platform/sound_device.h"
#include "platform/window.h"

namespace {

constexpr uint64_t Rate = 44100;

std::mutex SoundMutex;  // guards everything below against the streaming thread
HeadlessSoundStats Stats;
std::vector<int16_t> Heard;
// When set, the heard sound goes here as it is played instead of into Heard.
std::function<void(const int16_t*, size_t)> Sink;
std::vector<int16_t> SinkScratch;
std::vector<std::string> Opened;

class HeadlessBuffer;
HeadlessBuffer* Playing = nullptr;

uint64_t frames_at(uint64_t us) { return us * Rate / 1000000u; }

class HeadlessBuffer final : public SoundBuffer {
 public:
  HeadlessBuffer(bool primary, uint32_t bytes) : primary_(primary), memory_(bytes, 0x7f) {}

  SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    std::lock_guard<std::mutex> lock(SoundMutex);
    if (lost_) return SOUNDERR_BUFFERLOST;
    if (play != nullptr) *play = cursor_;
    if (write != nullptr) *write = (cursor_ + 4 * 441) % size();
    return SOUND_OK;
  }

  SoundResult Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* length1, void** region2,
                   uint32_t* length2, uint32_t flags) override {
    std::unique_lock<std::mutex> lock(SoundMutex);
    *region1 = *region2 = nullptr;
    *length1 = *length2 = 0;
    if (flags & SOUNDLOCK_ENTIREBUFFER) {
      offset = 0;
      bytes = size();
    }
    if (lose_at_lock_) {
      lose_at_lock_ = false;
      lost_ = true;
    }
    const bool ok = !primary_ && !lost_ && !headless_config().sound_fail_lock && bytes > 0 && bytes <= size() &&
                    offset < size();
    Stats.locks.push_back({offset, bytes, ok});
    if (lost_) return SOUNDERR_BUFFERLOST;
    if (!ok) return SOUNDERR_GENERIC;
    const uint32_t first = std::min(bytes, size() - offset);
    *region1 = memory_.data() + offset;
    *length1 = first;
    if (first < bytes) {
      *region2 = memory_.data();
      *length2 = bytes - first;
    }
    // Held until Unlock: the device does not play from the buffer while it is written.
    lock.release();
    locked_ = true;
    return SOUND_OK;
  }

  SoundResult Unlock(void*, uint32_t, void*, uint32_t) override {
    if (locked_) {
      locked_ = false;
      SoundMutex.unlock();
    }
    return SOUND_OK;
  }

  SoundResult Play(uint32_t, uint32_t, uint32_t) override {
    std::lock_guard<std::mutex> lock(SoundMutex);
    if (primary_ || headless_config().sound_fail_play) return SOUNDERR_GENERIC;
    Playing = this;
    return SOUND_OK;
  }

  SoundResult SetFormat(const WaveFormat* format) override {
    std::lock_guard<std::mutex> lock(SoundMutex);
    if (!primary_ || format == nullptr) return SOUNDERR_GENERIC;
    Stats.format_rate = format->nSamplesPerSec;
    Stats.format_channels = format->nChannels;
    Stats.format_bits = format->wBitsPerSample;
    return SOUND_OK;
  }

  SoundResult Restore() override {
    std::lock_guard<std::mutex> lock(SoundMutex);
    ++Stats.restores;
    if (headless_config().sound_fail_restore) return SOUNDERR_BUFFERLOST;
    lost_ = false;
    return SOUND_OK;
  }

  uint32_t Release() override {
    {
      std::lock_guard<std::mutex> lock(SoundMutex);
      ++Stats.buffers_released;
      if (Playing == this) Playing = nullptr;
    }
    delete this;
    return 0;
  }

  // Plays `frames` frames from the cursor into the record. Caller holds SoundMutex.
  void play_into(std::vector<int16_t>& out, uint64_t frames) {
    for (uint64_t i = 0; i < frames; ++i) {
      int16_t s[2];
      std::memcpy(s, memory_.data() + cursor_, 4);
      out.push_back(s[0]);
      out.push_back(s[1]);
      cursor_ = (cursor_ + 4) % size();
    }
  }

  void lose(bool at_next_lock) {
    if (at_next_lock) {
      lose_at_lock_ = true;
    } else {
      lost_ = true;
    }
  }

 private:
  uint32_t size() const { return static_cast<uint32_t>(memory_.size()); }
  bool primary_;
  bool lost_ = false;
  bool lose_at_lock_ = false;
  bool locked_ = false;  // between a successful Lock and its Unlock, on the locking thread
  uint32_t cursor_ = 0;
  std::vector<uint8_t> memory_;
};

class HeadlessSoundDevice final : public SoundDevice {
 public:
  SoundResult SetCooperativeLevel(intptr_t, uint32_t) override {
    return headless_config().sound_fail_cooperative ? SOUNDERR_GENERIC : SOUND_OK;
  }
  SoundResult CreateSoundBuffer(const SoundBufferDesc* desc, SoundBuffer** buffer) override {
    *buffer = nullptr;
    const bool primary = (desc->dwFlags & SOUNDCAPS_PRIMARYBUFFER) != 0;
    if (primary ? headless_config().sound_fail_primary : headless_config().sound_fail_secondary) {
      return SOUNDERR_GENERIC;
    }
    if (!primary && (desc->dwBufferBytes < 4 || desc->lpwfxFormat == nullptr)) return SOUNDERR_GENERIC;
    std::lock_guard<std::mutex> lock(SoundMutex);
    ++Stats.buffers_made;
    *buffer = new HeadlessBuffer(primary, primary ? 0 : desc->dwBufferBytes);
    return SOUND_OK;
  }
  uint32_t Release() override {
    {
      std::lock_guard<std::mutex> lock(SoundMutex);
      ++Stats.devices_released;
    }
    delete this;
    return 0;
  }
};

}  // namespace

void sound_clock_moved(uint64_t from_us, uint64_t to_us) {
  std::lock_guard<std::mutex> lock(SoundMutex);
  const uint64_t frames = frames_at(to_us) - frames_at(from_us);
  std::vector<int16_t>& into = Sink ? SinkScratch : Heard;
  if (Sink) SinkScratch.clear();
  if (Playing != nullptr) {
    Playing->play_into(into, frames);
  } else {
    into.resize(into.size() + 2 * frames, 0);
  }
  if (Sink) Sink(SinkScratch.data(), SinkScratch.size() / 2);
}

void sound_reset() {
  std::lock_guard<std::mutex> lock(SoundMutex);
  Stats = HeadlessSoundStats{};
  Heard.clear();
  Sink = nullptr;
  Opened.clear();
  Playing = nullptr;  // buffers of an earlier run are released by their owner
}

void headless_set_sound_sink(std::function<void(const int16_t* frames, size_t count)> sink) {
  std::lock_guard<std::mutex> lock(SoundMutex);
  Sink = std::move(sink);
}

std::vector<int16_t> headless_heard_sound() {
  std::lock_guard<std::mutex> lock(SoundMutex);
  return Heard;
}

HeadlessSoundStats headless_sound_stats() {
  std::lock_guard<std::mutex> lock(SoundMutex);
  return Stats;
}

void headless_lose_sound_buffer(bool at_next_lock) {
  std::lock_guard<std::mutex> lock(SoundMutex);
  if (Playing != nullptr) Playing->lose(at_next_lock);
}

std::vector<std::string> headless_opened_addresses() {
  std::lock_guard<std::mutex> lock(SoundMutex);
  return Opened;
}

SoundResult create_sound_device(SoundDevice** device) {
  *device = nullptr;
  if (headless_config().sound_absent) return SOUNDERR_GENERIC;
  std::lock_guard<std::mutex> lock(SoundMutex);
  ++Stats.devices_made;
  *device = new HeadlessSoundDevice();
  return SOUND_OK;
}

intptr_t get_foreground_window() { return window_exists() ? 1 : 0; }

void open_address(const char* address) {
  std::lock_guard<std::mutex> lock(SoundMutex);
  Opened.emplace_back(address);
}
