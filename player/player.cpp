#include "player/player.h"

#include <cstring>
#include <new>
#include <thread>

#include "player/mixer.h"

namespace {
// The one player of the program, set by player_init.
PlayerState* Player = nullptr;
}  // namespace

const uint8_t QuarterSine[64] = {0,  2,  3,  5,  6,  8,  9,  11, 12, 14, 16, 17, 19, 20, 22, 23,
                                 24, 26, 27, 29, 30, 32, 33, 34, 36, 37, 38, 39, 41, 42, 43, 44,
                                 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 56, 57, 58, 59,
                                 59, 60, 60, 61, 61, 62, 62, 62, 63, 63, 63, 64, 64, 64, 64, 64};

void build_wave_tables(WaveTable& tables) {
  int8_t* sine = tables[0];
  for (int i = 0; i < 64; ++i) sine[i] = static_cast<int8_t>(QuarterSine[i]);
  sine[64] = 64;
  for (int i = 65; i < 128; ++i) sine[i] = static_cast<int8_t>(QuarterSine[128 - i]);
  for (int i = 128; i < 256; ++i) sine[i] = static_cast<int8_t>(-sine[i - 128]);
  for (int i = 0; i < 256; ++i) {
    int ramp = i <= 128 ? (i + 1) / 2 : -((256 - i) / 2);
    tables[1][i] = static_cast<int8_t>(ramp);
    tables[2][i] = static_cast<int8_t>(i >= 1 && i <= 128 ? 64 : -64);
    tables[3][i] = static_cast<int8_t>(-ramp);
  }
}

bool player_init(uint8_t* image, PlayerState* state) {
  Player = state;
  // The rendering thread does not exist yet, so the whole block may be rewritten.
  new (state) PlayerState{};
  state->masterVolume = 64;
  bool accepted = image != nullptr && load_u32(image) == ModuleMagic;
  if (accepted) {
    load_module_header(image, state->header);
    state->image = image;
    delta_decode_samples(image);
    build_wave_tables(state->WaveTables);
  }
  state->playing.store(0, std::memory_order_release);
  return accepted;
}

void player_start(uint32_t orderPosition) {
  PlayerState* p = Player;
  // Without an accepted image, or with tempo 0, there is no tick length: stay stopped.
  if (p == nullptr || p->image == nullptr || p->header.initialTempo == 0) return;
  if (p->playing.load(std::memory_order_acquire) != 0) return;
  // A render that began before the last player_stop still works on the channels: they are
  // rewritten only once it has ended. A render that begins from now on finds `playing` 0
  // and leaves them alone. (The show never gets here: it stops the stream first.)
  while (p->rendering.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  p->orderPosition = p->nextOrder = orderPosition;
  p->row = 0;
  for (uint32_t c = 0; c < MaxChannels; ++c) {
    p->channels[c] = ChannelState{};
    p->channels[c].panning = p->header.initialPanning[c];
  }
  p->globalVolume = 64;
  p->nextRow = 0;
  p->syncValue = 0;
  // A pattern delay left over from the last song would hold back its first row.
  p->patternDelay = 0;
  p->speed = p->header.initialSpeed;
  p->tick = static_cast<uint8_t>(p->speed - 1);  // the first tick reads a row
  p->tempo = p->header.initialTempo;
  p->playing.store(1, std::memory_order_release);
}

void player_stop() {
  PlayerState* p = Player;
  if (p != nullptr && p->playing.load(std::memory_order_acquire) != 0) p->playing.store(0, std::memory_order_release);
}

void player_render(uint32_t frames, int32_t* mix) {
  PlayerState* p = Player;
  if (p != nullptr) p->rendering.store(1, std::memory_order_seq_cst);
  if (p == nullptr || p->playing.load(std::memory_order_seq_cst) == 0) {
    if (p != nullptr) p->rendering.store(0, std::memory_order_release);
    if (frames != 0) std::memset(mix, 0, sizeof(int32_t) * 2 * frames);
    return;
  }
  p->framesRemaining = frames;
  while (p->framesRemaining > 0) {
    if (p->TickClock < 256) {
      player_tick(*p);
      // Taken after the tick, so a tempo set on this tick already times it.
      p->TickClock += tick_length(p->tempo);
    }
    uint32_t n = p->TickClock >> 8;
    if (n > p->framesRemaining) n = p->framesRemaining;
    p->TickClock -= n * 256;
    p->framesRemaining -= n;
    mix = mix_voices(p->channels, n, mix);
  }
  p->rendering.store(0, std::memory_order_release);
}

void player_set_master_volume(uint8_t volume) {
  if (Player != nullptr) Player->masterVolume = volume;
}

uint8_t player_get_sync() {
  return Player != nullptr ? Player->syncValue : 0;
}

uint16_t player_get_position() {
  if (Player == nullptr) return 0;
  return static_cast<uint16_t>((Player->orderPosition & 0xFF) << 8 | (Player->row & 0xFF));
}
