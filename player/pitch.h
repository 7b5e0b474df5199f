// Periods and playback steps. Linear periods count 1/256 semitone (3072 per octave, larger
// is lower, 0 is note 49); Amiga periods are proportional to the duration of a sample
// frame (6848 for note 49). Every conversion goes through pitch_value, about
// 6848 * 2^(-x/3072), built from four small tables.
#pragma once
#include <array>
#include <cstdint>

// Entry n = round(32768 * 2^(-n/3072)).
constexpr std::array<uint16_t, 16> PitchFine = {32768, 32761, 32753, 32746, 32738, 32731, 32724, 32716,
                                                32709, 32702, 32694, 32687, 32679, 32672, 32665, 32657};
// Entry n = round(32768 * 2^(-n/192)).
constexpr std::array<uint16_t, 16> PitchSixteenth = {32768, 32650, 32532, 32415, 32298, 32182, 32066, 31950,
                                                     31835, 31720, 31606, 31492, 31379, 31266, 31153, 31041};
// Entry n = round(32768 * 2^(-n/12)).
constexpr std::array<uint16_t, 16> PitchSemitone = {32768, 30929, 29193, 27554, 26008, 24548, 23170, 21870,
                                                    20643, 19484, 18390, 17358, 16384, 15464, 14596, 13777};
// Entry k = round(6848 * 2^(-(k-8) * 4/3)).
constexpr std::array<uint32_t, 16> PitchBase = {11131415, 4417505, 1753088, 695713, 276094, 109568, 43482, 17256,
                                                6848,     2718,    1078,    428,    170,    67,     27,     11};

struct ModuleHeader;

// About 6848 * 2^(-x/3072); x is taken modulo 65536 around -32768..32767.
uint32_t pitch_value(int32_t x);

// Period of note 1..96 played with a sample's pitch offset (1/256 semitone); not clamped.
int32_t note_period(bool linear, uint32_t note, int16_t pitchOffset);

// The period held within the header's minimum and maximum.
int32_t clamp_period(const ModuleHeader& header, int32_t period);

// The nearest note period to `period` for a sample with `pitchOffset` (glissando).
int32_t round_to_semitone(bool linear, int32_t period, int16_t pitchOffset);

// Playback step, 6.10 fixed-point sample frames per 44100 Hz output frame, bit 0 clear.
uint16_t period_step(bool linear, int32_t period);
