// The song clock: ticks, rows, order positions, and the note trigger.
#include "player/effects.h"
#include "player/pitch.h"
#include "player/player.h"

namespace {

// Stands in for a pattern that has no data: 64 empty rows.
constexpr uint8_t EmptyPattern[4 + 64] = {64};

inline const uint8_t* skip_cell(const uint8_t* at) {
  uint8_t flag = *at++;
  return at + ((flag & CellHasNote) ? 2 : 0) + ((flag & CellHasVolume) ? 1 : 0) + ((flag & CellHasEffect) ? 2 : 0);
}

// Steps over the cells of a row and its zero byte.
inline const uint8_t* skip_row(const uint8_t* at) {
  while (*at != 0) at = skip_cell(at);
  return at + 1;
}

void enter_pattern(PlayerState& p) {
  const uint8_t* pattern = p.header.patterns[p.header.orders[p.orderPosition]];
  if (pattern == p.image || load_u32(pattern) == 0) pattern = EmptyPattern;
  p.rowCount = load_u32(pattern);
  p.patternCursor = pattern + 4;
  // A break or loop target past the pattern's end starts the pattern from its top.
  if (p.nextRow >= p.rowCount) p.row = p.nextRow = 0;
  for (; p.nextRow > 0; --p.nextRow) p.patternCursor = skip_row(p.patternCursor);
}

void row_step(PlayerState& p) {
  p.rowTick = 1;
  ++p.row;
  if (p.nextOrder == NoOrder) {
    if (p.row < p.rowCount) {
      read_row(p);
      return;
    }
    p.nextOrder = p.orderPosition + 1;
    p.nextRow = 0;
  }
  if (p.nextOrder != p.orderPosition) {
    for (ChannelState& c : p.channels) c.loopCount = c.loopRow = 0;
  }
  p.orderPosition = p.nextOrder >= p.header.songLength ? p.header.restartPosition : p.nextOrder;
  p.row = p.nextRow;
  p.nextOrder = NoOrder;
  enter_pattern(p);
  read_row(p);
}

}  // namespace

void read_row(PlayerState& p) {
  const uint8_t* at = p.patternCursor;
  const uint32_t count = p.header.channelCount;
  for (uint32_t c = 0; c < count; ++c) {
    ChannelState& channel = p.channels[c];
    p.cell = Cell{};
    channel.currentEffect = NoEffect;
    // A cell for a channel already passed is out of order, and one for a channel at or above
    // the count belongs to no channel: step over both, so that a valid cell after them counts.
    while (*at != 0 && ((*at & CellChannelMask) < c || (*at & CellChannelMask) >= count)) at = skip_cell(at);
    if (*at == 0 || (*at & CellChannelMask) != c) continue;
    uint8_t flag = *at++;
    if (flag & CellHasNote) {
      p.cell.note = at[0];
      p.cell.instrument = at[1];
      at += 2;
    }
    if (flag & CellHasVolume) p.cell.volume = *at++;
    if (flag & CellHasEffect) {
      p.cell.effect = at[0];
      p.cell.parameter = at[1];
      at += 2;
    }
    p.delayedTrigger = 0;
    trigger_note(p, channel, p.cell);
    channel.volumeCommand = p.cell.volume >> 4;
    p.cell.volume &= 15;
    EffectHandlers[VolumeRowHandlers + channel.volumeCommand](channel, p.cell, p);
    if (p.cell.effect < EffectCount) {
      channel.currentEffect = p.cell.effect;
      EffectHandlers[EffectRowHandlers + p.cell.effect](channel, p.cell, p);
    }
  }
  // Cells for channels at or above the channel count are stepped over with the zero byte.
  p.patternCursor = skip_row(at);
}

void player_tick(PlayerState& p) {
  uint32_t channels = p.header.channelCount;
  p.rowTick = 0;
  for (uint32_t c = 0; c < channels; ++c) {
    ChannelState& channel = p.channels[c];
    channel.workVolume = channel.volume;
    channel.workPanning = channel.panning;
    channel.workPeriod = channel.period;
  }
  if (++p.tick == p.speed) {
    p.tick = 0;
    if (p.patternDelay != 0)
      --p.patternDelay;
    else
      row_step(p);
  }
  bool linear = p.header.flags & FlagLinearPeriods;
  for (uint32_t c = 0; c < channels; ++c) {
    ChannelState& channel = p.channels[c];
    EffectHandlers[VolumeTickHandlers + channel.volumeCommand](channel, p.cell, p);
    if (channel.currentEffect < EffectCount)
      EffectHandlers[EffectTickHandlers + channel.currentEffect](channel, p.cell, p);
    if (channel.instrumentRecord != nullptr) apply_instrument(p, channel);
    channel.mixVolume = channel.workVolume;
    channel.mixPanning = channel.workPanning;
    channel.step = period_step(linear, channel.workPeriod);
  }
}

void trigger_note(PlayerState& p, ChannelState& channel, const Cell& cell) {
  const ModuleHeader& header = p.header;
  bool tonePorta = cell.effect == Effect::TonePorta || cell.effect == Effect::TonePortaSlide || cell.volume >= 0xF0;
  bool keyOff = (cell.effect == Effect::KeyOff && cell.parameter == 0) || cell.note == NoteKeyOff;
  uint8_t note = cell.note == NoteKeyOff ? 0 : cell.note;
  if (keyOff) channel.keyOn = 0;
  // An instrument number above the count is ignored as if absent.
  bool hasInstrument = cell.instrument != 0 && cell.instrument <= header.instrumentCount;
  if (hasInstrument) channel.instrument = cell.instrument;
  if (channel.instrument == 0) return;

  if (note != 0) {
    if (hasInstrument) channel.keyOn = 1;
    channel.lastNote = note;
    if (cell.effect == Effect::NoteDelay && cell.parameter != 0) return;  // sounds later
    bool linear = header.flags & FlagLinearPeriods;
    if (tonePorta) {
      channel.portaTarget = note_period(linear, note, channel.pitchOffset);
    } else {
      const uint8_t* record = header.instruments[channel.instrument - 1];
      uint32_t sampleNumber = record[InstrumentKeyMap + note - 1];
      if (sampleNumber >= load_u32(record + InstrumentSampleCount)) return;
      SampleRecord sample = read_sample_record(record, sampleNumber);
      channel.active = 1;
      channel.sampleData = header.sampleData[sample.dataIndex];
      channel.boundBehind = sample.loopStart;
      channel.boundAhead = sample.end;
      channel.voiceFlags = sample.type;
      if (hasInstrument) {
        channel.instrumentRecord = record;
        channel.sampleVolume = sample.volume;
        channel.samplePanning = sample.panning;
      }
      channel.pitchOffset = sample.pitchOffset;
      channel.period = channel.workPeriod = channel.portaTarget = note_period(linear, note, sample.pitchOffset);
      if (cell.effect == Effect::SampleOffset) {
        if (cell.parameter != 0) channel.offsetMemory = cell.parameter;
        channel.startPosition = channel.offsetMemory * 256;
      } else {
        channel.startPosition = 0;
      }
      channel.vibratoPosition = channel.tremoloPosition = channel.arpeggioIndex = 0;
      channel.retrigCount = channel.tremorCount = 0;
    }
  }

  if (channel.keyOn == 1 && hasInstrument) {
    if (p.delayedTrigger != 1) {
      channel.volume = channel.workVolume = channel.sampleVolume;
      if (!(header.flags & FlagKeepChannelPanning)) channel.panning = channel.workPanning = channel.samplePanning;
    }
    channel.fade = FullFade;
    channel.autoVibratoPosition = channel.autoVibratoSweep = 0;
    channel.volumeEnvelopePoint = channel.panningEnvelopePoint = 0;
    channel.volumeEnvelopeTick = channel.panningEnvelopeTick = 0;
  }
  if (keyOff && !hasInstrument && channel.instrumentRecord != nullptr &&
      channel.instrumentRecord[InstrumentVolumeEnvelope] == 0)
    channel.fade = 0;  // no envelope to release through: the note stops at once
}
