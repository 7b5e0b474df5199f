// The tracker-module player: one PlayerState, owned by the caller, that turns a module
// image into 44100 Hz stereo frames. Pure logic: nothing here allocates after player_init,
// touches the platform or takes a lock.
//
// Threads: player_init runs while no rendering thread exists; player_start and player_stop
// may run on another thread than player_render. They meet in `playing` and `rendering`:
// player_render marks itself in `rendering` for the whole call, then reads `playing` once;
// player_stop only clears `playing`, so a render in flight finishes with the old state;
// player_start changes the channels only while stopped and no render is in flight (it
// waits for one that began while the song played), and sets `playing` last.
#pragma once
#include <atomic>
#include <cstdint>

#include "player/module.h"

constexpr uint32_t OutputRate = 44100;  // frames per second
constexpr uint32_t NoOrder = 0xFFFFFFFF;
constexpr uint8_t NoEffect = 0xFF;
constexpr uint16_t FullFade = 0x8000;

// One pattern cell as read (volume keeps only its low digit once the command is taken).
struct Cell {
  uint8_t note;
  uint8_t instrument;
  uint8_t volume;
  uint8_t effect;
  uint8_t parameter;
};

struct ChannelState {
  // The voice, as the mixer sees it.
  uint8_t active;
  const uint8_t* sampleData;
  uint32_t boundAhead;   // frame the position moves toward (end, or loop start going back)
  uint32_t boundBehind;  // the other loop bound
  uint8_t voiceFlags;    // sample type bits plus SampleBackwards
  int32_t startPosition;  // frame to (re)start from at the next mix run; -1 = none
  uint16_t step;          // 6.10 sample frames per output frame
  uint16_t mixVolume;     // 0..128
  uint8_t mixPanning;     // 0 left .. 255 right
  // 32.32 frames. Held signed so that a backwards run stepping below frame 0 is still
  // seen as below its bound.
  int64_t position;

  uint8_t volume, workVolume;    // 0..64 (work: this tick's value)
  uint8_t panning, workPanning;  // 0..255
  int32_t period, workPeriod;
  uint8_t instrument;
  const uint8_t* instrumentRecord;
  int16_t pitchOffset;
  uint8_t keyOn;
  uint16_t fade;  // FullFade = full level
  uint8_t autoVibratoPosition, autoVibratoSweep;
  uint32_t volumeEnvelopePoint;
  uint16_t volumeEnvelopeTick;
  uint32_t panningEnvelopePoint;
  uint16_t panningEnvelopeTick;
  uint8_t sampleVolume, samplePanning;
  uint8_t currentEffect;  // NoEffect = none
  uint8_t volumeCommand;  // high digit of the last volume-column byte

  // Effect memories and counters.
  int32_t portaTarget, portaSpeed;
  uint8_t volumeSlideMemory;
  uint8_t globalSlideMemory;
  uint8_t volumeColumnParameter;
  uint8_t panningSlideMemory;
  uint8_t fineVolumeUpMemory, fineVolumeDownMemory;
  int32_t portaUpSpeed, portaDownSpeed;
  uint8_t finePortaUpMemory, finePortaDownMemory;
  uint8_t extraFineUpMemory, extraFineDownMemory;
  uint8_t vibratoSpeed, vibratoPosition, vibratoWaveform, vibratoDepth;
  uint8_t tremoloSpeed, tremoloPosition, tremoloWaveform, tremoloDepth;
  uint8_t loopCount, loopRow;
  uint8_t arpeggioIndex;
  uint8_t arpeggioOffsets[3];
  uint8_t tickParameter;
  uint8_t retrigCount, retrigInterval, retrigVolume;
  uint8_t lastNote;
  uint8_t offsetMemory;
  uint8_t glissando;
  uint8_t tremorCount, tremorPeriod, tremorOn;
};

// Waveforms of vibrato, tremolo and auto-vibrato: 0 sine, 1 rising ramp, 2 square,
// 3 falling ramp, each 256 steps of -64..64.
using WaveTable = int8_t[4][256];

struct PlayerState {
  uint8_t globalVolume;  // 0..64
  uint8_t masterVolume;  // 0..64
  uint8_t syncValue;
  uint8_t tick;  // within the row
  uint8_t speed;  // ticks per row
  uint8_t rowTick;  // 1 while the current tick read a row
  uint32_t row;
  const uint8_t* patternCursor;  // next row to read
  uint32_t rowCount;
  uint32_t orderPosition;
  uint32_t nextOrder;  // NoOrder = none
  uint32_t nextRow;
  uint8_t patternDelay;  // row periods still to wait
  Cell cell;
  uint8_t delayedTrigger;
  uint32_t tempo;  // beats per minute
  ModuleHeader header;
  const uint8_t* image;  // start of the accepted image, null until one is accepted
  ChannelState channels[MaxChannels];
  WaveTable WaveTables;
  uint32_t framesRemaining;
  uint32_t TickClock;  // 24.8 fixed point output frames until the next tick
  std::atomic<uint8_t> playing;
  std::atomic<uint8_t> rendering;  // 1 while a player_render call runs
};

// QuarterSine[i] = round(64 sin(pi i / 128)).
extern const uint8_t QuarterSine[64];
void build_wave_tables(WaveTable& tables);

// Entry points; all act on the state given to player_init.
// Resets `state`, accepts `image` by its magic, copies its header with addresses,
// delta-decodes its samples in place. The image must stay put while it is the tune.
bool player_init(uint8_t* image, PlayerState* state);
// Starts the song at an order position; does nothing while playing or without an image.
// Safe while another thread renders: it first waits for a render in flight to end.
void player_start(uint32_t orderPosition);
void player_stop();
// Writes `frames` stereo frames (left, right; 2 * frames values) into `mix`.
void player_render(uint32_t frames, int32_t* mix);
void player_set_master_volume(uint8_t volume);
uint8_t player_get_sync();
// Order position (low 8 bits) * 256 + row (low 8 bits).
uint16_t player_get_position();

// Tick length in 24.8 output frames at a tempo (882 frames at tempo 125).
inline uint32_t tick_length(uint32_t tempo) {
  return 1411200000u / (tempo * 50);
}

// The sequencer and note trigger; exposed for the tests, which step the song tick by tick.
void player_tick(PlayerState& player);
void read_row(PlayerState& player);
void trigger_note(PlayerState& player, ChannelState& channel, const Cell& cell);
// Per-tick volume scaling, fadeout, envelopes and auto-vibrato of a channel that has an
// instrument record.
void apply_instrument(PlayerState& player, ChannelState& channel);
