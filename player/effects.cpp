// Row and per-tick handlers of every effect and volume-column command, and the one table
// that dispatches them. A parameter of 0 reuses the channel's memory of that effect.
#include "player/effects.h"

#include <algorithm>

#include "player/envelope.h"
#include "player/pitch.h"

namespace {

using C = ChannelState;
using P = PlayerState;

inline uint8_t high(uint8_t v) {
  return v >> 4;
}
inline uint8_t low(uint8_t v) {
  return v & 15;
}
inline uint8_t clamp_volume(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 64));
}
inline bool between_rows(const P& p) {
  return p.rowTick == 0;
}
inline bool linear(const P& p) {
  return p.header.flags & FlagLinearPeriods;
}
inline void set_volume(C& c, int32_t v) {
  c.volume = c.workVolume = clamp_volume(v);
}
inline void set_panning(C& c, int32_t v) {
  c.panning = c.workPanning = static_cast<uint8_t>(std::clamp(v, 0, 255));
}
inline void set_period(C& c, P& p, int32_t period) {
  c.period = c.workPeriod = clamp_period(p.header, period);
}

void nothing(C&, Cell&, P&) {}

// --- Shared per-tick work -----------------------------------------------------------------

void tone_portamento(C& c, P& p) {
  int32_t period = c.period;
  if (between_rows(p) && period != c.portaTarget)
    period = period > c.portaTarget ? std::max(period - c.portaSpeed, c.portaTarget)
                                    : std::min(period + c.portaSpeed, c.portaTarget);
  c.period = period;
  if (c.glissando != 0) period = round_to_semitone(linear(p), period, c.pitchOffset);
  c.workPeriod = period;
}

void vibrato(C& c, P& p) {
  int32_t wave = p.WaveTables[c.vibratoWaveform & 3][c.vibratoPosition];
  c.workPeriod = clamp_period(p.header, c.workPeriod + ((wave * c.vibratoDepth) >> 3));
  if (between_rows(p)) c.vibratoPosition = static_cast<uint8_t>(c.vibratoPosition + c.vibratoSpeed / 2);
}

void volume_slide(C& c, P& p) {
  uint8_t m = c.volumeSlideMemory;
  if (between_rows(p)) c.volume = high(m) == 0 ? clamp_volume(c.volume - m) : clamp_volume(c.volume + high(m));
  c.workVolume = c.volume;
}

// --- Effects 0..35 ----------------------------------------------------------------------------

void arpeggio_row(C& c, Cell& cell, P&) {
  c.arpeggioOffsets[0] = 0;
  c.arpeggioOffsets[1] = high(cell.parameter);
  c.arpeggioOffsets[2] = low(cell.parameter);
  if (cell.parameter == 0) c.currentEffect = NoEffect;
}
void arpeggio_tick(C& c, Cell&, P& p) {
  uint8_t n = c.arpeggioOffsets[c.arpeggioIndex];
  if (linear(p))
    c.workPeriod = clamp_period(p.header, c.workPeriod - n * 256);
  else
    c.workPeriod = clamp_period(p.header, static_cast<int32_t>((int64_t{c.workPeriod} * PitchSemitone[n]) >> 15));
  c.arpeggioIndex = static_cast<uint8_t>((c.arpeggioIndex + 1) % 3);
}

void porta_up_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.portaUpSpeed = cell.parameter * 16;
}
void porta_up_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_period(c, p, c.period - c.portaUpSpeed);
}
void porta_down_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.portaDownSpeed = cell.parameter * 16;
}
void porta_down_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_period(c, p, c.period + c.portaDownSpeed);
}

void tone_porta_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.portaSpeed = cell.parameter * 16;
}
void tone_porta_tick(C& c, Cell&, P& p) {
  tone_portamento(c, p);
}

void vibrato_row(C& c, Cell& cell, P&) {
  if (low(cell.parameter) != 0) c.vibratoDepth = static_cast<uint8_t>(low(cell.parameter) * 4);
  if (high(cell.parameter) != 0) c.vibratoSpeed = static_cast<uint8_t>(high(cell.parameter) * 4);
}
void vibrato_tick(C& c, Cell&, P& p) {
  vibrato(c, p);
}

void slide_memory_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.volumeSlideMemory = cell.parameter;
}
void tone_porta_slide_tick(C& c, Cell&, P& p) {
  tone_portamento(c, p);
  volume_slide(c, p);
}
void vibrato_slide_tick(C& c, Cell&, P& p) {
  vibrato(c, p);
  volume_slide(c, p);
}
void volume_slide_tick(C& c, Cell&, P& p) {
  volume_slide(c, p);
}

void tremolo_row(C& c, Cell& cell, P&) {
  if (low(cell.parameter) != 0) c.tremoloDepth = static_cast<uint8_t>(low(cell.parameter) * 4);
  if (high(cell.parameter) != 0) c.tremoloSpeed = static_cast<uint8_t>(high(cell.parameter) * 4);
}
void tremolo_tick(C& c, Cell&, P& p) {
  int32_t wave = p.WaveTables[c.tremoloWaveform & 3][c.tremoloPosition];
  c.workVolume = clamp_volume(c.workVolume + ((wave * c.tremoloDepth) >> 6));
  if (between_rows(p)) c.tremoloPosition = static_cast<uint8_t>(c.tremoloPosition + c.tremoloSpeed);
}

void set_panning_row(C& c, Cell& cell, P&) {
  set_panning(c, cell.parameter);
}

void position_jump_row(C&, Cell& cell, P& p) {
  p.nextOrder = cell.parameter;
  p.nextRow = 0;
}
void set_volume_row(C& c, Cell& cell, P&) {
  set_volume(c, std::min<int32_t>(cell.parameter, 64));
}
void pattern_break_row(C&, Cell& cell, P& p) {
  if (p.nextOrder == NoOrder) p.nextOrder = p.orderPosition + 1;
  p.nextRow = 10u * high(cell.parameter) + low(cell.parameter);
}
void speed_tempo_row(C&, Cell& cell, P& p) {
  if (cell.parameter >= 32)
    p.tempo = cell.parameter;
  else if (cell.parameter != 0)
    p.speed = cell.parameter;
}

void global_volume_row(C&, Cell& cell, P& p) {
  p.globalVolume = std::min<uint8_t>(cell.parameter, 64);
}
void global_slide_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.globalSlideMemory = cell.parameter;
}
void global_slide_tick(C& c, Cell&, P& p) {
  if (!between_rows(p)) return;
  uint8_t m = c.globalSlideMemory;
  p.globalVolume = high(m) == 0 ? clamp_volume(p.globalVolume - m) : clamp_volume(p.globalVolume + high(m));
}

void key_off_row(C& c, Cell& cell, P&) {
  c.tickParameter = cell.parameter;
}
void key_off_tick(C& c, Cell&, P& p) {
  if (!between_rows(p) || p.tick != c.tickParameter) return;
  c.keyOn = 0;
  if (c.instrumentRecord != nullptr && c.instrumentRecord[InstrumentVolumeEnvelope] == 0) c.fade = 0;
}

void envelope_position_row(C& c, Cell& cell, P&) {
  if (c.instrumentRecord == nullptr) return;
  set_envelope_position(c.instrumentRecord + InstrumentVolumeEnvelope, cell.parameter, c.volumeEnvelopePoint,
                        c.volumeEnvelopeTick);
  set_envelope_position(c.instrumentRecord + InstrumentPanningEnvelope, cell.parameter, c.panningEnvelopePoint,
                        c.panningEnvelopeTick);
}

void panning_slide_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.panningSlideMemory = cell.parameter;
}
void panning_slide_tick(C& c, Cell&, P& p) {
  uint8_t m = c.panningSlideMemory;
  if (between_rows(p))
    c.panning = static_cast<uint8_t>(high(m) == 0 ? std::min(c.panning + m, 255) : std::max(c.panning - high(m), 0));
  c.workPanning = c.panning;
}

void retrigger_row(C& c, Cell& cell, P&) {
  if (cell.parameter == 0) return;
  c.retrigInterval = low(cell.parameter);
  c.retrigVolume = high(cell.parameter);
  c.retrigCount = 0;
}
int32_t retrigger_volume(uint8_t code, int32_t v) {
  switch (code) {
    case 1: return v - 1;
    case 2: return v - 2;
    case 3: return v - 4;
    case 4: return v - 8;
    case 5: return v - 16;
    case 6: return (v + v / 4) / 2;
    case 7: return v / 2;
    case 9: return v + 1;
    case 10: return v + 2;
    case 11: return v + 4;
    case 12: return v + 8;
    case 13: return v + 16;
    case 14: return v + v / 2;
    case 15: return 2 * v == 128 ? 127 : 2 * v;
    default: return v;
  }
}
void retrigger_tick(C& c, Cell&, P&) {
  uint8_t count = c.retrigCount;
  c.retrigCount = static_cast<uint8_t>(count + 1);
  if (count != c.retrigInterval) return;
  c.retrigCount = 0;
  c.startPosition = 0;
  set_volume(c, retrigger_volume(c.retrigVolume, c.volume));
}

void sync_row(C&, Cell& cell, P& p) {
  p.syncValue = cell.parameter;
}

void tremor_row(C& c, Cell& cell, P&) {
  if (cell.parameter == 0) return;
  c.tremorOn = static_cast<uint8_t>(high(cell.parameter) + 1);
  c.tremorPeriod = static_cast<uint8_t>(high(cell.parameter) + low(cell.parameter) + 2);
  c.tremorCount = 0;
}
void tremor_tick(C& c, Cell&, P& p) {
  if (c.tremorCount >= c.tremorOn) c.workVolume = 0;
  if (between_rows(p) && ++c.tremorCount == c.tremorPeriod) c.tremorCount = 0;
}

void extra_fine_porta_row(C& c, Cell& cell, P& p) {
  uint8_t y = low(cell.parameter);
  if (high(cell.parameter) == 1) {
    if (y != 0) c.extraFineUpMemory = y;
    set_period(c, p, c.period - c.extraFineUpMemory * 4);
  } else if (high(cell.parameter) == 2) {
    if (y != 0) c.extraFineDownMemory = y;
    set_period(c, p, c.period + c.extraFineDownMemory * 4);
  }
}

// --- Extended effects E0..EF (the parameter is the low digit y) -------------------------------

void fine_porta_up_row(C& c, Cell& cell, P& p) {
  if (cell.parameter != 0) c.finePortaUpMemory = cell.parameter;
  set_period(c, p, c.period - c.finePortaUpMemory * 16);
}
void fine_porta_down_row(C& c, Cell& cell, P& p) {
  if (cell.parameter != 0) c.finePortaDownMemory = cell.parameter;
  set_period(c, p, c.period + c.finePortaDownMemory * 16);
}
void glissando_row(C& c, Cell& cell, P&) {
  c.glissando = cell.parameter;
}
void vibrato_waveform_row(C& c, Cell& cell, P&) {
  c.vibratoWaveform = cell.parameter & 3;
}
void pattern_loop_row(C& c, Cell& cell, P& p) {
  if (cell.parameter == 0) {
    c.loopRow = static_cast<uint8_t>(p.row);
    return;
  }
  if (++c.loopCount <= cell.parameter) {
    p.nextRow = c.loopRow;
    p.nextOrder = p.orderPosition;
  } else {
    c.loopCount = 0;
    c.loopRow = static_cast<uint8_t>(p.row + 1);
  }
}
void tremolo_waveform_row(C& c, Cell& cell, P&) {
  c.tremoloWaveform = cell.parameter & 3;
}
void fine_panning_row(C& c, Cell& cell, P&) {
  set_panning(c, cell.parameter * 17);
}
void tick_parameter_row(C& c, Cell& cell, P&) {
  c.tickParameter = cell.parameter;
}
void retrigger_note_tick(C& c, Cell&, P& p) {
  if (c.tickParameter != 0 && p.tick % c.tickParameter == 0) c.startPosition = 0;
}
void fine_volume_up_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.fineVolumeUpMemory = cell.parameter;
  set_volume(c, c.volume + c.fineVolumeUpMemory);
}
void fine_volume_down_row(C& c, Cell& cell, P&) {
  if (cell.parameter != 0) c.fineVolumeDownMemory = cell.parameter;
  set_volume(c, c.volume - c.fineVolumeDownMemory);
}
void note_cut_tick(C& c, Cell&, P& p) {
  if (between_rows(p) && p.tick == c.tickParameter) set_volume(c, 0);
}
void note_delay_tick(C& c, Cell&, P& p) {
  if (!between_rows(p) || p.tick != c.tickParameter) return;
  // The delayed note keeps the channel's volume and panning but restarts fade and envelopes.
  p.delayedTrigger = 1;
  Cell delayed{c.lastNote, c.instrument, 0, NoEffect, 0};
  trigger_note(p, c, delayed);
}
void pattern_delay_row(C&, Cell& cell, P& p) {
  p.patternDelay = cell.parameter;
}

// --- Volume-column commands (the cell's volume holds the low digit p) ------------------------

void column_set_volume_row(C& c, Cell& cell, P&) {
  set_volume(c, (c.volumeCommand - 1) * 16 + cell.volume);
}
void column_full_volume_row(C& c, Cell&, P&) {
  set_volume(c, 64);
}
void column_parameter_row(C& c, Cell& cell, P&) {
  c.volumeColumnParameter = cell.volume;
}
void column_slide_down_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_volume(c, c.volume - c.volumeColumnParameter);
}
void column_slide_up_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_volume(c, c.volume + c.volumeColumnParameter);
}
void column_fine_down_row(C& c, Cell& cell, P&) {
  set_volume(c, c.volume - cell.volume);
}
void column_fine_up_row(C& c, Cell& cell, P&) {
  set_volume(c, c.volume + cell.volume);
}
void column_vibrato_speed_row(C& c, Cell& cell, P&) {
  if (cell.volume != 0) c.vibratoSpeed = static_cast<uint8_t>(cell.volume * 4);
}
void column_vibrato_row(C& c, Cell& cell, P&) {
  if (cell.volume != 0) c.vibratoDepth = static_cast<uint8_t>(cell.volume * 4);
}
void column_panning_row(C& c, Cell& cell, P&) {
  set_panning(c, cell.volume * 17);
}
void column_panning_left_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_panning(c, c.panning - c.volumeColumnParameter);
}
void column_panning_right_tick(C& c, Cell&, P& p) {
  if (between_rows(p)) set_panning(c, c.panning + c.volumeColumnParameter);
}
void column_tone_porta_row(C& c, Cell& cell, P&) {
  if (cell.volume != 0) c.portaSpeed = cell.volume * 256;
}

struct HandlerPair {
  EffectHandler row, tick;
};

// Effects 0..51 in cell order: 0..9, A..Z, then E0..EF.
constexpr HandlerPair EffectTable[EffectCount] = {
    {arpeggio_row, arpeggio_tick},                 // 0xy arpeggio
    {porta_up_row, porta_up_tick},                 // 1xx portamento up
    {porta_down_row, porta_down_tick},             // 2xx portamento down
    {tone_porta_row, tone_porta_tick},             // 3xx tone portamento
    {vibrato_row, vibrato_tick},                   // 4xy vibrato
    {slide_memory_row, tone_porta_slide_tick},     // 5xy tone portamento + volume slide
    {slide_memory_row, vibrato_slide_tick},        // 6xy vibrato + volume slide
    {tremolo_row, tremolo_tick},                   // 7xy tremolo
    {set_panning_row, nothing},                    // 8xx set panning
    {nothing, nothing},                            // 9xx sample offset (taken by the note trigger)
    {slide_memory_row, volume_slide_tick},         // Axy volume slide
    {position_jump_row, nothing},                  // Bxx position jump
    {set_volume_row, nothing},                     // Cxx set volume
    {pattern_break_row, nothing},                  // Dxy pattern break
    {nothing, nothing},                            // E (stored as 36..51)
    {speed_tempo_row, nothing},                    // Fxx speed or tempo
    {global_volume_row, nothing},                  // Gxx global volume
    {global_slide_row, global_slide_tick},         // Hxy global volume slide
    {nothing, nothing},                            // I
    {nothing, nothing},                            // J
    {key_off_row, key_off_tick},                   // Kxx key-off
    {envelope_position_row, nothing},              // Lxx envelope position
    {nothing, nothing},                            // M
    {nothing, nothing},                            // N
    {nothing, nothing},                            // O
    {panning_slide_row, panning_slide_tick},       // Pxy panning slide
    {nothing, nothing},                            // Q
    {retrigger_row, retrigger_tick},               // Rxy multi retrigger
    {sync_row, nothing},                           // Sxx sync
    {tremor_row, tremor_tick},                     // Txy tremor
    {nothing, nothing},                            // U
    {nothing, nothing},                            // V
    {sync_row, nothing},                           // Wxx sync
    {extra_fine_porta_row, nothing},               // Xxy extra fine portamento
    {nothing, nothing},                            // Y
    {nothing, nothing},                            // Z
    {nothing, nothing},                            // E0y
    {fine_porta_up_row, nothing},                  // E1y fine portamento up
    {fine_porta_down_row, nothing},                // E2y fine portamento down
    {glissando_row, nothing},                      // E3y glissando
    {vibrato_waveform_row, nothing},               // E4y vibrato waveform
    {nothing, nothing},                            // E5y
    {pattern_loop_row, nothing},                   // E6y pattern loop
    {tremolo_waveform_row, nothing},               // E7y tremolo waveform
    {fine_panning_row, nothing},                   // E8y set panning
    {tick_parameter_row, retrigger_note_tick},     // E9y retrigger
    {fine_volume_up_row, nothing},                 // EAy fine volume up
    {fine_volume_down_row, nothing},               // EBy fine volume down
    {tick_parameter_row, note_cut_tick},           // ECy note cut
    {tick_parameter_row, note_delay_tick},         // EDy note delay
    {pattern_delay_row, nothing},                  // EEy pattern delay
    {sync_row, nothing},                           // EFy sync
};

// Volume commands 0..15 by the high digit of the volume byte.
constexpr HandlerPair VolumeTable[16] = {
    {nothing, nothing},                                   // 0x0p none
    {column_set_volume_row, nothing},                     // 0x1p..0x4p set volume 0..63
    {column_set_volume_row, nothing},
    {column_set_volume_row, nothing},
    {column_set_volume_row, nothing},
    {column_full_volume_row, nothing},                    // 0x5p volume 64
    {column_parameter_row, column_slide_down_tick},       // 0x6p slide down
    {column_parameter_row, column_slide_up_tick},         // 0x7p slide up
    {column_fine_down_row, nothing},                      // 0x8p fine slide down
    {column_fine_up_row, nothing},                        // 0x9p fine slide up
    {column_vibrato_speed_row, nothing},                  // 0xAp vibrato speed
    {column_vibrato_row, vibrato_tick},                   // 0xBp vibrato
    {column_panning_row, nothing},                        // 0xCp set panning
    {column_parameter_row, column_panning_left_tick},     // 0xDp panning slide left
    {column_parameter_row, column_panning_right_tick},    // 0xEp panning slide right
    {column_tone_porta_row, tone_porta_tick},             // 0xFp tone portamento
};

constexpr std::array<EffectHandler, EffectHandlerCount> build_table() {
  std::array<EffectHandler, EffectHandlerCount> table{};
  for (uint32_t e = 0; e < EffectCount; ++e) {
    table[EffectRowHandlers + e] = EffectTable[e].row;
    table[EffectTickHandlers + e] = EffectTable[e].tick;
  }
  for (uint32_t v = 0; v < 16; ++v) {
    table[VolumeRowHandlers + v] = VolumeTable[v].row;
    table[VolumeTickHandlers + v] = VolumeTable[v].tick;
  }
  return table;
}

}  // namespace

constinit const std::array<EffectHandler, EffectHandlerCount> EffectHandlers = build_table();
