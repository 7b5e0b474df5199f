// Writes small extended modules (.xm 1.04) for the import tests and the import fuzz target.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xm {

struct Sample {
  std::vector<int16_t> data;  // frames
  bool sixteenBit = false;
  uint8_t loopType = 0;  // 0 none, 1 forward, 2 ping-pong
  uint32_t loopStart = 0, loopLength = 0;  // frames
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t panning = 128;
  int8_t relativeNote = 0;
};

struct Envelope {
  std::vector<std::pair<uint16_t, uint16_t>> points;  // (tick, value)
  uint8_t sustain = 0, loopStart = 0, loopEnd = 0;
  uint8_t type = 0;  // bit 0 on, bit 1 sustain, bit 2 loop
};

struct Instrument {
  std::vector<Sample> samples;
  std::array<uint8_t, 96> keyMap{};
  Envelope volume, panning;
  uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  uint16_t fadeout = 0;
};

// A cell: note, instrument, volume, effect, parameter.
using Cell = std::array<uint8_t, 5>;

struct Pattern {
  uint16_t rows = 4;
  std::vector<Cell> cells;  // rows x channels, row-major; missing cells are empty
};

struct Song {
  uint16_t channels = 4;
  bool linear = true;
  uint16_t speed = 6, bpm = 125, restart = 0;
  std::vector<uint8_t> orders = {0};
  std::vector<Pattern> patterns = {Pattern{}};
  std::vector<Instrument> instruments;
};

inline void put8(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v));
}
inline void put16(std::vector<uint8_t>& o, uint32_t v) {
  put8(o, v);
  put8(o, v >> 8);
}
inline void put32(std::vector<uint8_t>& o, uint32_t v) {
  put16(o, v);
  put16(o, v >> 16);
}
inline void text(std::vector<uint8_t>& o, const std::string& s, size_t length) {
  for (size_t i = 0; i < length; ++i) put8(o, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}

inline std::vector<uint8_t> write(const Song& song) {
  std::vector<uint8_t> o;
  text(o, "Extended Module: ", 17);
  text(o, "test", 20);
  put8(o, 0x1A);
  text(o, "tests", 20);
  put16(o, 0x0104);
  put32(o, 276);
  put16(o, static_cast<uint32_t>(song.orders.size()));
  put16(o, song.restart);
  put16(o, song.channels);
  put16(o, static_cast<uint32_t>(song.patterns.size()));
  put16(o, static_cast<uint32_t>(song.instruments.size()));
  put16(o, song.linear ? 1 : 0);
  put16(o, song.speed);
  put16(o, song.bpm);
  for (size_t i = 0; i < 256; ++i) put8(o, i < song.orders.size() ? song.orders[i] : 0);

  for (const Pattern& p : song.patterns) {
    std::vector<uint8_t> packed;
    for (size_t i = 0; i < size_t{p.rows} * song.channels; ++i) {
      Cell c = i < p.cells.size() ? p.cells[i] : Cell{};
      bool all = c[0] && c[1] && c[2] && c[3] && c[4] && c[0] < 0x80;
      if (all) {  // the unpacked form: the note byte first
        packed.insert(packed.end(), c.begin(), c.end());
        continue;
      }
      uint8_t mask = 0x80;
      for (int f = 0; f < 5; ++f)
        if (c[f]) mask |= static_cast<uint8_t>(1 << f);
      packed.push_back(mask);
      for (int f = 0; f < 5; ++f)
        if (c[f]) packed.push_back(c[f]);
    }
    put32(o, 9);
    put8(o, 0);
    put16(o, p.rows);
    put16(o, static_cast<uint32_t>(packed.size()));
    o.insert(o.end(), packed.begin(), packed.end());
  }

  for (const Instrument& ins : song.instruments) {
    put32(o, ins.samples.empty() ? 29 : 263);
    text(o, "instrument", 22);
    put8(o, 0);
    put16(o, static_cast<uint32_t>(ins.samples.size()));
    if (ins.samples.empty()) continue;
    put32(o, 40);
    for (uint8_t k : ins.keyMap) put8(o, k);
    for (const Envelope* e : {&ins.volume, &ins.panning})
      for (size_t i = 0; i < 12; ++i) {
        put16(o, i < e->points.size() ? e->points[i].first : 0);
        put16(o, i < e->points.size() ? e->points[i].second : 0);
      }
    put8(o, static_cast<uint32_t>(ins.volume.points.size()));
    put8(o, static_cast<uint32_t>(ins.panning.points.size()));
    for (const Envelope* e : {&ins.volume, &ins.panning}) {
      put8(o, e->sustain);
      put8(o, e->loopStart);
      put8(o, e->loopEnd);
    }
    put8(o, ins.volume.type);
    put8(o, ins.panning.type);
    put8(o, ins.vibratoType);
    put8(o, ins.vibratoSweep);
    put8(o, ins.vibratoDepth);
    put8(o, ins.vibratoRate);
    put16(o, ins.fadeout);
    text(o, "", 22);
    for (const Sample& s : ins.samples) {
      uint32_t width = s.sixteenBit ? 2 : 1;
      put32(o, static_cast<uint32_t>(s.data.size()) * width);
      put32(o, s.loopStart * width);
      put32(o, s.loopLength * width);
      put8(o, s.volume);
      put8(o, static_cast<uint8_t>(s.finetune));
      put8(o, s.loopType | (s.sixteenBit ? 0x10 : 0));
      put8(o, s.panning);
      put8(o, static_cast<uint8_t>(s.relativeNote));
      put8(o, 0);
      text(o, "sample", 22);
    }
    for (const Sample& s : ins.samples) {
      int32_t last = 0;
      for (int16_t v : s.data) {
        int32_t delta = v - last;
        last = v;
        if (s.sixteenBit)
          put16(o, static_cast<uint16_t>(delta));
        else
          put8(o, static_cast<uint8_t>(delta));
      }
    }
  }
  return o;
}

}  // namespace xm
