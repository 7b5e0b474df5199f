#include "player/pitch.h"

#include <cstdlib>

#include "player/module.h"

uint32_t pitch_value(int32_t x) {
  uint32_t u = (static_cast<uint32_t>(x) + 32768u) & 0xFFFF;
  uint64_t r = PitchBase[u >> 12];
  r = static_cast<uint32_t>(r * PitchSemitone[(u >> 8) & 15] >> 15);
  r = static_cast<uint32_t>(r * PitchSixteenth[(u >> 4) & 15] >> 15);
  r = static_cast<uint32_t>(r * PitchFine[u & 15] >> 15);
  return static_cast<uint32_t>(r);
}

int32_t note_period(bool linear, uint32_t note, int16_t pitchOffset) {
  int32_t pitch = static_cast<int32_t>(note - 1) * 256 + pitchOffset;
  if (linear) return static_cast<int16_t>(static_cast<uint16_t>(12288 - pitch));
  return static_cast<int32_t>(pitch_value(static_cast<int16_t>(static_cast<uint16_t>(pitch - 12288))));
}

int32_t clamp_period(const ModuleHeader& header, int32_t period) {
  if (period < header.minimumPeriod) period = header.minimumPeriod;
  if (period > header.maximumPeriod) period = header.maximumPeriod;
  return period;
}

int32_t round_to_semitone(bool linear, int32_t period, int16_t pitchOffset) {
  if (linear) {
    // Floor division: halves round toward the lower pitch (the larger period).
    int64_t shifted = int64_t{period} + pitchOffset + 128;
    int64_t q = shifted >= 0 ? shifted / 256 : -((-shifted + 255) / 256);
    return static_cast<int32_t>(256 * q - pitchOffset);
  }
  int32_t best = note_period(false, 1, pitchOffset);
  int64_t bestDistance = std::llabs(int64_t{best} - period);
  for (uint32_t note = 2; note <= 96; ++note) {
    int32_t candidate = note_period(false, note, pitchOffset);
    int64_t distance = std::llabs(int64_t{candidate} - period);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

uint16_t period_step(bool linear, int32_t period) {
  uint32_t step;
  if (linear) {
    step = static_cast<uint32_t>(uint64_t{pitch_value(period)} * 14 / 494);
  } else {
    uint32_t p = static_cast<uint32_t>(period);
    step = p >= 100 ? 1329006 / p : p;
  }
  return static_cast<uint16_t>(step & 0xFFFE);
}
