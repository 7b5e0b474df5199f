// Effects and volume-column commands, dispatched through one table of handlers: a row
// handler runs on the row that carries the command (after the note trigger), a per-tick
// handler runs on every tick while the command is the channel's current one.
#pragma once
#include <array>
#include <cstdint>

#include "player/player.h"

using EffectHandler = void (*)(ChannelState& channel, Cell& cell, PlayerState& player);

constexpr uint32_t EffectRowHandlers = 0;     // + effect 0..51
constexpr uint32_t EffectTickHandlers = 52;   // + effect 0..51
constexpr uint32_t VolumeRowHandlers = 104;   // + volume command 0..15
constexpr uint32_t VolumeTickHandlers = 120;  // + volume command 0..15
constexpr uint32_t EffectHandlerCount = 136;

extern const std::array<EffectHandler, EffectHandlerCount> EffectHandlers;

// Effect numbers as stored in cells: 0..35 are 0..9 and A..Z, 36 + x is the extended Ex.
namespace Effect {
constexpr uint8_t Arpeggio = 0, PortaUp = 1, PortaDown = 2, TonePorta = 3, Vibrato = 4, TonePortaSlide = 5,
                  VibratoSlide = 6, Tremolo = 7, SetPanning = 8, SampleOffset = 9, VolumeSlide = 10,
                  PositionJump = 11, SetVolume = 12, PatternBreak = 13, SpeedTempo = 15, GlobalVolume = 16,
                  GlobalSlide = 17, KeyOff = 20, EnvelopePosition = 21, PanningSlide = 25, Retrigger = 27,
                  SyncS = 28, Tremor = 29, SyncW = 32, ExtraFinePorta = 33, Extended = 36;
constexpr uint8_t extended(uint8_t x) {
  return static_cast<uint8_t>(Extended + x);
}
constexpr uint8_t PatternLoop = extended(6), NoteDelay = extended(0xD), PatternDelay = extended(0xE);
}  // namespace Effect
