// make-placeholder-tunes OUTDIR
// Writes tune01.packed .. tune13.packed: thirteen short, different tunes built with the image
// writer from synthesised instruments and packed like the built-in tunes, so every path of
// the show has sound.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "player/module.h"
#include "player/writer.h"
#include "tools/samplecodec/tune_pack.h"

namespace {

// One cycle of 32 frames, looped.
SampleSpec wave(int kind, uint8_t volume) {
  SampleSpec s;
  const int n = 32;
  for (int i = 0; i < n; ++i) {
    double x = static_cast<double>(i) / n;
    double v = 0;
    switch (kind) {
      case 0: v = std::sin(2 * std::numbers::pi * x); break;              // sine
      case 1: v = x < 0.5 ? 0.8 : -0.8; break;                           // square
      case 2: v = 2 * x - 1; break;                                      // saw
      case 3: v = x < 0.25 ? 4 * x : x < 0.75 ? 2 - 4 * x : 4 * x - 4;   // triangle
    }
    s.data.push_back(static_cast<int16_t>(std::lround(v * 100)));
  }
  s.loop = LoopKind::Forward;
  s.loopStart = 0;
  s.loopLength = static_cast<uint32_t>(n);
  s.volume = volume;
  s.pitchOffset = 0;
  return s;
}

// A short noise burst for a drum.
SampleSpec noise(uint32_t seed) {
  SampleSpec s;
  uint32_t state = seed;
  for (int i = 0; i < 3000; ++i) {
    state = state * 1103515245u + 12345u;
    double fade = 1.0 - i / 3000.0;
    s.data.push_back(static_cast<int16_t>(std::lround(((state >> 16) % 200 - 100) * fade * fade)));
  }
  s.volume = 48;
  return s;
}

InstrumentSpec instrument(SampleSpec sample) {
  InstrumentSpec in;
  in.samples.push_back(std::move(sample));
  in.volumeEnvelope.points = {{6, 64}, {20, 40}, {1, 0}};
  return in;
}

CellSpec cell(uint8_t channel, int note, uint8_t instr) {
  CellSpec c;
  c.channel = channel;
  c.note = static_cast<uint8_t>(note);
  c.instrument = instr;
  return c;
}

ModuleSpec tune(int number) {
  ModuleSpec m;
  m.channelCount = 4;
  m.speed = static_cast<uint8_t>(3 + number % 4);
  m.tempo = static_cast<uint8_t>(100 + 7 * number);
  m.linear = number % 2 == 1;
  m.panning = {};
  m.panning.fill(128);
  m.panning[0] = 80;
  m.panning[1] = 176;
  // Packed tunes begin their sample area with two zero samples: a silent first instrument
  // carries them, the audible ones are numbered from 2.
  InstrumentSpec lead;
  SampleSpec zeros;
  zeros.data = {0, 0};
  lead.samples.push_back(zeros);
  m.instruments.push_back(lead);
  m.instruments.push_back(instrument(wave(number % 4, 40)));
  m.instruments.push_back(instrument(wave((number + 1) % 4, 48)));
  m.instruments.push_back(instrument(noise(static_cast<uint32_t>(number))));
  // Scale degrees of a minor or major key; each tune its own root and melody.
  static const int minor[] = {0, 2, 3, 5, 7, 8, 10, 12};
  static const int major[] = {0, 2, 4, 5, 7, 9, 11, 12};
  const int* scale = number % 3 == 0 ? major : minor;
  const int root = 37 + number;  // around C-3
  PatternSpec p;
  for (int row = 0; row < 32; ++row) {
    std::vector<CellSpec> cells;
    if (row % 2 == 0) {
      int degree = scale[(row * (number + 3) / 2 + number) % 8];
      cells.push_back(cell(0, root + 12 + degree, 2));
    }
    if (row % 8 == 0) cells.push_back(cell(1, root - 12 + scale[(row / 8 + number) % 4], 3));
    if (row % 4 == 0) cells.push_back(cell(2, 49, 4));
    if (row % 16 == 4) cells.push_back(cell(3, root + scale[number % 8], 3));
    p.rows.push_back(cells);
  }
  m.patterns.push_back(p);
  m.orders = {0, 0};
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-placeholder-tunes OUTDIR\n");
    return 2;
  }
  for (int n = 1; n <= 13; ++n) {
    std::vector<uint8_t> image = write_module_image(tune(n));
    const ImageCheck check = validate_module_image(image.data(), image.size());
    if (check != ImageCheck::Ok) {
      std::fprintf(stderr, "make-placeholder-tunes: tune %d does not validate: %s\n", n, image_check_text(check));
      return 1;
    }
    const TunePackResult packed = pack_tune(image);
    if (packed.error != TunePackError::None) {
      std::fprintf(stderr, "make-placeholder-tunes: tune %d: %s\n", n, packed.message.c_str());
      return 1;
    }
    const std::vector<uint8_t> file = packed_tune_file(packed.tune);
    char name[32];
    std::snprintf(name, sizeof name, "/tune%02d.packed", n);
    const std::string path = std::string(argv[1]) + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "make-placeholder-tunes: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
