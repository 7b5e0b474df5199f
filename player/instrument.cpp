// The per-tick volume pipeline of a channel with an instrument record: master, global and
// fade scaling, fadeout after key-off, the volume and panning envelopes, auto-vibrato.
#include "player/envelope.h"
#include "player/pitch.h"
#include "player/player.h"

namespace {
inline uint16_t point_length(const uint8_t* envelope, uint32_t i) {
  return load_u16(envelope + 4 + 4 * i);
}
inline int32_t point_value(const uint8_t* envelope, uint32_t i) {
  return envelope[4 + 4 * i + 2];  // low byte of the stored value
}
}  // namespace

int32_t envelope_step(const uint8_t* envelope, uint8_t keyOn, uint32_t& point, uint16_t& tick) {
  uint8_t last = envelope[0], sustain = envelope[1], loopStart = envelope[2], loopEnd = envelope[3];
  // At the loop end the envelope shows that point for one tick, then jumps back.
  if (tick != 0 && point == loopEnd) point = loopStart;
  if (point == last) return point_value(envelope, point);
  int32_t from = point_value(envelope, point), to = point_value(envelope, point + 1);
  uint16_t length = point_length(envelope, point);
  int32_t value = from + (to - from) * tick / length;  // truncates toward zero
  if (tick == 0 && keyOn == 1 && point == sustain) return value;
  if (++tick == length) {
    tick = 0;
    ++point;
  }
  return value;
}

void set_envelope_position(const uint8_t* envelope, uint32_t ticks, uint32_t& point, uint16_t& tick) {
  uint8_t last = envelope[0];
  uint32_t i = 0;
  while (i != last) {
    if (ticks < point_length(envelope, i)) break;
    ticks -= point_length(envelope, i);
    ++i;
  }
  point = i;
  tick = i == last ? 0 : static_cast<uint16_t>(ticks);
}

void apply_instrument(PlayerState& p, ChannelState& c) {
  const uint8_t* instrument = c.instrumentRecord;
  uint32_t v = c.workVolume * p.masterVolume / 64u;
  c.workVolume = static_cast<uint8_t>((uint64_t{v} * p.globalVolume * c.fade) >> 20);

  if (c.keyOn == 0) {
    uint16_t fadeout = load_u16(instrument + InstrumentFadeout);
    c.fade = c.fade > fadeout ? static_cast<uint16_t>(c.fade - fadeout) : 0;
  }

  int32_t e = envelope_step(instrument + InstrumentVolumeEnvelope, c.keyOn, c.volumeEnvelopePoint,
                            c.volumeEnvelopeTick);
  c.workVolume = static_cast<uint8_t>(e * c.workVolume / 64);

  e = envelope_step(instrument + InstrumentPanningEnvelope, c.keyOn, c.panningEnvelopePoint, c.panningEnvelopeTick);
  int32_t pan = c.workPanning;
  int32_t distance = pan < 128 ? pan : 255 - pan;  // to the nearer edge
  c.workPanning = static_cast<uint8_t>(pan + (((e - 32) * distance) >> 5));

  // Auto-vibrato: a positive wave value lowers the period, raising the pitch.
  uint8_t sweep = instrument[InstrumentVibratoSweep];
  int32_t wave = p.WaveTables[instrument[InstrumentVibratoWaveform] & 3][c.autoVibratoPosition];
  int32_t amount = (wave * instrument[InstrumentVibratoDepth]) >> 4;
  if (c.autoVibratoSweep < sweep) {
    amount = amount * c.autoVibratoSweep / sweep;
    ++c.autoVibratoSweep;
  }
  c.workPeriod = clamp_period(p.header, c.workPeriod - amount);
  c.autoVibratoPosition = static_cast<uint8_t>(c.autoVibratoPosition + instrument[InstrumentVibratoRate]);
}
