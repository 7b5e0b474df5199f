// A tune that touches most of the player: 8 channels, 8-bit and 16-bit samples, forward and
// ping-pong loops, envelopes, and most effects. The fuzz target mutates it; the benchmark
// and the tests may play it.
#pragma once
#include "player/writer.h"

inline ModuleSpec busy_tune() {
  ModuleSpec m;
  m.channelCount = 8;
  m.speed = 3;
  m.tempo = 150;
  m.orders = {0, 1, 0, 2};
  m.restartPosition = 1;
  m.deltaCoded = true;

  SampleSpec loop8;
  for (int i = 0; i < 300; ++i) loop8.data.push_back(static_cast<int16_t>((i * 37) % 256 - 128));
  loop8.loop = LoopKind::Forward;
  loop8.loopStart = 20;
  loop8.loopLength = 260;
  SampleSpec pingpong16;
  pingpong16.sixteenBit = true;
  for (int i = 0; i < 200; ++i) pingpong16.data.push_back(static_cast<int16_t>(i * 311 - 30000));
  pingpong16.loop = LoopKind::PingPong;
  pingpong16.loopStart = 50;
  pingpong16.loopLength = 150;
  pingpong16.pitchOffset = -77;
  SampleSpec shot;
  for (int i = 0; i < 500; ++i) shot.data.push_back(static_cast<int16_t>(100 - i % 200));

  InstrumentSpec a;
  a.samples = {loop8};
  InstrumentSpec b;
  b.samples = {pingpong16, shot};
  for (int n = 48; n < 96; ++n) b.keyMap[n] = 1;
  b.fadeout = 2000;
  b.vibratoSweep = 20;
  b.vibratoDepth = 6;
  b.vibratoRate = 9;
  b.volumeEnvelope = {{{4, 48}, {4, 64}, {10, 20}, {6, 40}, {0, 10}}, 1, 2, 3};
  b.panningEnvelope = {{{8, 0}, {8, 64}, {0, 32}}, EnvelopeNone, 0, 1};
  InstrumentSpec c;
  c.samples = {shot};
  m.instruments = {a, b, c};

  m.patterns.push_back(pattern_from_rows({
      "C-4 01 .. 037 | C-5 02 40 F06 | G-3 03 .. 903 | E-4 01 .. 4A4 | C-2 02 .. 7A8 | D-4 01 .. 120 | A-4 02 .. 220 | C-6 03 .. R13",
      "... .. .. 000 | ... .. 65 A04 | ... .. B4 | ... .. .. 600 | ... .. .. E93 | ... .. C8 E62 | ... .. .. T12 | ... .. .. ED2",
      "E-4 .. .. 304 | === .. .. K00 | C-4 03 .. L08 | ... .. 73 H04 | ... .. .. P30 | ... .. D2 | F-4 .. F8 | ... .. .. EC2",
      "... .. .. 5A0 | C-5 02 .. E31 | ... .. .. X14 | ... .. .. X24 | ... .. 84 EA3 | ... .. 95 EB2 | ... .. E3 G20 | ... .. .. E81",
      "C-4 01 .. E12 | ... .. .. E22 | ... .. A4 E41 | ... .. .. E71 | ... .. .. 8F0 | ... .. .. C20 | ... .. .. W10 | ... .. .. EE1",
      "... .. .. E60 | ... .. .. S05 | ... .. .. EF3 | ... .. .. 2FF | ... .. .. 1FF | ... .. .. 930 | ... .. .. D02 | ... .. .. E61",
  }));
  m.patterns.push_back(pattern_from_rows({
      "C-1 01 .. F1F | B-7 02 .. F20 | C-4 .. 10 | === 02 | ... 03 | C-3 02 .. 9FF | D-5 01 .. 0FF | E-5 03 .. K02",
      "... .. .. B03 | ... .. .. F01 | ... .. .. FFF | ... .. .. 3FF",
  }));
  m.patterns.push_back(pattern_from_rows({"C-4 01 | D-4 02 | E-4 03 | F-4 01 | G-4 02 | A-4 03 | B-4 01 | C-5 02",
                                          "... .. .. D63"}));
  return m;
}
