// The built-in disk as the pieces of a disk block, for tests that make blocks of their own
// (the program's data must be linked: the show's libraries bring it).
#pragma once
#include <cstring>
#include <vector>

#include "assets/font_strip.h"
#include "assets/menu_texts.h"
#include "assets/pictures.h"
#include "assets/scroll_text.h"
#include "codecs/disk_block.h"
#include "codecs/samples.h"
#include "codecs/tunes.h"

namespace disktest {

// Tune n (1..13) as a packed tune: u32 L, u32 S, the stored part, the stream.
inline std::vector<uint8_t> builtin_packed_tune(int n) {
  const StoredTune& t = StoredTunes[n - 1];
  // The stream's own end: the table holds no length, so measure it.
  const size_t streamBytes = measure_sample_stream(t.stream, 1u << 24).streamBytes;
  std::vector<uint8_t> out(8);
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(t.storedLength >> (8 * i));
    out[4 + i] = static_cast<uint8_t>(streamBytes >> (8 * i));
  }
  out.insert(out.end(), t.stored, t.stored + t.storedLength);
  out.insert(out.end(), t.stream, t.stream + streamBytes);
  return out;
}

// The built-in disk cut to `tunes` tunes and `links` links (its font strip left out unless
// `font`).
inline DiskPieces builtin_pieces(int tunes = 13, int links = 17, bool font = false) {
  DiskPieces p;
  for (int n = 1; n <= tunes; ++n) {
    p.tunes.push_back(builtin_packed_tune(n));
    p.tuneLabels.push_back(TuneLabels[n]);
  }
  p.silenceLabel = TuneLabels[14];
  for (int m = 1; m <= links; ++m) {
    p.linkLabels.push_back(LinkLabels[m]);
    p.linkAddresses.push_back(LinkAddresses[m]);
  }
  p.logo.assign(LogoStream, LogoStream + LogoStream_size);
  p.sprite.assign(SpriteStream, SpriteStream + SpriteStream_size);
  if (font) {
    p.font.width = FontStrip.width;
    p.font.height = FontStrip.height;
    p.font.levels.assign(FontStrip.levels, FontStrip.levels + size_t{FontStrip.width} * FontStrip.height);
  }
  p.scrollText.assign(ScrollText, ScrollText + std::strlen(reinterpret_cast<const char*>(ScrollText)));
  return p;
}

}  // namespace disktest
