// Small extended modules for the import tests and the fuzz seeds, written with write_xm.
#pragma once
#include <cmath>

#include "tools/xm_import/xm_import.h"

namespace xm {

// One cycle of a sine, `frames` long, 8-bit or 16-bit.
inline XmSample sine_sample(uint32_t frames, bool sixteenBit, uint8_t loopType = 1) {
  XmSample s;
  s.sixteenBit = sixteenBit;
  for (uint32_t i = 0; i < frames; ++i) {
    double v = std::sin(6.283185307179586 * i / frames) * 100;
    s.data.push_back(static_cast<int16_t>(std::lround(sixteenBit ? v * 256 : v)));
  }
  s.loopType = loopType;
  s.loopLength = loopType ? frames : 0;
  return s;
}

inline XmInstrument instrument(XmSample sample) {
  XmInstrument i;
  i.samples.push_back(std::move(sample));
  return i;
}

// A pattern of `rows` empty rows for `channels` channels.
inline XmPattern pattern(uint16_t rows, uint16_t channels) {
  XmPattern p;
  p.rows = rows;
  p.cells.assign(size_t{rows} * channels, XmCell{});
  return p;
}

// Two channels, two patterns, two instruments (8-bit forward loop, 16-bit ping-pong loop),
// a volume envelope with sustain and loop and a panning envelope.
inline XmModule busy_module(bool linear = true) {
  XmModule m;
  m.name = "busy";
  m.channels = 2;
  m.linear = linear;
  m.speed = 4;
  m.bpm = 140;
  m.orders = {0, 1, 0};
  m.restart = 1;
  XmInstrument a = instrument(sine_sample(32, false));
  a.samples[0].finetune = -16;
  a.samples[0].relativeNote = 12;
  a.volume.points = {{0, 0}, {4, 64}, {10, 48}, {20, 32}, {30, 40}};
  a.volume.on = a.volume.sustain = a.volume.loop = true;
  a.volume.sustainPoint = 2;
  a.volume.loopStart = 3;
  a.volume.loopEnd = 4;
  a.fadeout = 512;
  a.vibratoSweep = 16;
  a.vibratoDepth = 4;
  a.vibratoRate = 8;
  XmInstrument b = instrument(sine_sample(200, true, 2));
  b.samples[0].loopStart = 50;
  b.samples[0].loopLength = 100;
  b.samples[0].volume = 48;
  b.samples[0].panning = 200;
  b.panning.points = {{0, 0}, {8, 64}};
  b.panning.on = true;
  m.instruments = {a, b};
  XmPattern p0 = pattern(16, 2), p1 = pattern(8, 2);
  p0.cells[0] = {49, 1, 0x40, 0, 0};           // C-4, volume 48
  p0.cells[1] = {61, 2, 0, 0x0C, 0x20};        // C-5, set volume 32
  p0.cells[2 * 4] = {XmKeyOff, 0, 0, 0, 0};
  p0.cells[2 * 4 + 1] = {0, 0, 0xC4, 0x0E, 0x91};  // pan in volume column, E91 retrigger
  p0.cells[2 * 8] = {52, 1, 0, 0x04, 0x48};    // vibrato
  p1.cells[0] = {37, 2, 0, 0x0A, 0x04};        // volume slide
  p1.cells[2 * 7 + 1] = {0, 0, 0, 0x0D, 0x00};  // break
  m.patterns = {p0, p1};
  return m;
}

}  // namespace xm
