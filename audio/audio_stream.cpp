#include "audio/audio_stream.h"

#include <cstring>

#include "platform/clock.h"
#include "player/player.h"

AudioStreamRecord AudioStream;

static_assert(sizeof(PlayerState) <= PlayerAreaBytes, "the player's state must fit its area");

namespace {

constexpr SoundBufferDesc PrimaryDesc = {20, SOUNDCAPS_PRIMARYBUFFER, 0, 0, nullptr};
constexpr SoundBufferDesc SecondaryDesc = {20, SOUNDCAPS_GETCURRENTPOSITION2 | SOUNDCAPS_GLOBALFOCUS,
                                           SoundBufferBytes, 0, &StreamFormat};

// The record lives in zero-initialised static storage, so before the first stream its two
// buffers (576 KB) are zero already; clearing them then would only fault their pages in at
// start-up.
bool RecordUsed = false;

void zero_record() {
  AudioStream.secondary = nullptr;
  AudioStream.primary = nullptr;
  AudioStream.device = nullptr;
  AudioStream.stop.store(0, std::memory_order_relaxed);
  AudioStream.thread = nullptr;
  AudioStream.region1 = AudioStream.region2 = nullptr;
  AudioStream.length1 = AudioStream.length2 = 0;
  AudioStream.playCursor = 0;
  AudioStream.writePosition = 0;
  AudioStream.format = WaveFormat{};
  if (RecordUsed) {
    std::memset(AudioStream.playerArea, 0, sizeof AudioStream.playerArea);
    std::memset(AudioStream.mixBuffer, 0, sizeof AudioStream.mixBuffer);
  }
  RecordUsed = true;
}

bool failed(SoundResult r) { return r < 0; }

// A buffer that stays lost (another program holds the device, so Restore keeps failing) is
// tried again after this pause, at the thread's high priority, instead of in a tight loop.
constexpr uint32_t LostBufferPauseMs = 10;

bool stop_requested() { return AudioStream.stop.load(std::memory_order_acquire) != 0; }

// Restores the lost buffer and says whether to try again in this cycle. The first loss of a
// cycle is tried again at once, as a buffer that comes straight back should be; after that
// each try waits a pause first, and none is made once the stream is asked to stop.
bool restore_lost_buffer(uint32_t& losses) {
  AudioStream.secondary->Restore();
  if (++losses == 1) return true;
  if (stop_requested()) return false;
  sleep_ms(LostBufferPauseMs);
  return !stop_requested();
}

}  // namespace

void clamp_to_pcm16(const int32_t* source, int16_t* destination, uint32_t bytes) {
  const uint32_t count = bytes / 2;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t v = source[i];
    if (v > Pcm16Limit) v = Pcm16Limit;
    if (v < -Pcm16Limit) v = -Pcm16Limit;
    destination[i] = static_cast<int16_t>(v);
  }
}

int32_t start_audio(intptr_t window, uint8_t* image) {
  zero_record();
  player_init(image, reinterpret_cast<PlayerState*>(AudioStream.playerArea));

  AudioStreamRecord& a = AudioStream;
  bool ok = !failed(create_sound_device(&a.device)) && !failed(a.device->SetCooperativeLevel(window, SOUNDSCL_EXCLUSIVE)) &&
            !failed(a.device->CreateSoundBuffer(&PrimaryDesc, &a.primary)) &&
            !failed(a.device->CreateSoundBuffer(&SecondaryDesc, &a.secondary));
  if (ok) {
    a.format = StreamFormat;
    a.primary->SetFormat(&a.format);
    void* r1 = nullptr;
    void* r2 = nullptr;
    uint32_t l1 = 0, l2 = 0;
    ok = !failed(a.secondary->Lock(0, 0, &r1, &l1, &r2, &l2, SOUNDLOCK_ENTIREBUFFER));
    if (ok) {
      if (r1 != nullptr) std::memset(r1, 0, l1);
      if (r2 != nullptr) std::memset(r2, 0, l2);
      ok = !failed(a.secondary->Unlock(r1, l1, r2, l2));
    }
  }
  if (ok) {
    ok = !failed(a.secondary->Play(0, 0, SOUNDPLAY_LOOPING));
  }
  if (!ok) {
    stop_audio();
    return 0;
  }
  a.thread = create_cycle_thread(audio_cycle, nullptr, RefillPeriodMs, &a.stop);
  if (a.thread != nullptr) {
    set_thread_priority_highest(a.thread);
  }
  return -1;
}

void audio_refill() {
  AudioStreamRecord& a = AudioStream;
  a.region1 = a.region2 = nullptr;
  a.length1 = a.length2 = 0;
  uint32_t losses = 0;
  while (true) {
    SoundResult r = a.secondary->GetCurrentPosition(&a.playCursor, nullptr);
    if (r == SOUNDERR_BUFFERLOST) {
      if (restore_lost_buffer(losses)) continue;
      return;
    }
    // Any other failure leaves the last cursor in place: the span is then normally 0.
    const uint32_t target = a.playCursor & ~31u;
    const uint32_t span = (target - a.writePosition) & (SoundBufferBytes - 1);
    const uint32_t offset = a.writePosition;
    // Moved before the lock: a span lost with the buffer is never rendered late.
    a.writePosition = target;
    r = a.secondary->Lock(offset, span, &a.region1, &a.length1, &a.region2, &a.length2, 0);
    if (r == SOUNDERR_BUFFERLOST) {
      a.region1 = a.region2 = nullptr;
      a.length1 = a.length2 = 0;
      if (restore_lost_buffer(losses)) continue;
      return;
    }
    if (failed(r)) {
      a.region1 = a.region2 = nullptr;
      a.length1 = a.length2 = 0;
    }
    // The song advances with the play cursor even when nothing can be written.
    player_render(span / 4, a.mixBuffer);
    const int32_t* source = a.mixBuffer;
    if (a.region1 != nullptr) {
      clamp_to_pcm16(source, static_cast<int16_t*>(a.region1), a.length1);
      source += a.length1 / 2;
    }
    if (a.region2 != nullptr) {
      clamp_to_pcm16(source, static_cast<int16_t*>(a.region2), a.length2);
    }
    a.secondary->Unlock(a.region1, a.length1, a.region2, a.length2);
    return;
  }
}

void audio_cycle(void*) { audio_refill(); }

void stop_audio() {
  AudioStreamRecord& a = AudioStream;
  a.stop.store(1, std::memory_order_release);
  if (a.thread != nullptr) {
    // Nothing is released while the thread can still touch it, however long it takes.
    while (!wait_thread(a.thread, 1000)) {
    }
    close_thread(a.thread);
    a.thread = nullptr;
  }
  if (a.secondary != nullptr) {
    a.secondary->Release();
    a.secondary = nullptr;
  }
  if (a.primary != nullptr) {
    a.primary->Release();
    a.primary = nullptr;
  }
  if (a.device != nullptr) {
    a.device->Release();
    a.device = nullptr;
  }
}
