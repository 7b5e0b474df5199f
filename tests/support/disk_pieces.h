// The built-in disk as the pieces of a disk block, for tests that make blocks of their own
// (the program's data must be linked: the show's libraries bring it).
#pragma once
#include <cstring>
#include <vector>

#include "assets/menu_texts.h"
#include "assets/pictures.h"
#include "assets/scroll_text.h"
#include "codecs/disk_block.h"
#include "codecs/samples.h"
#include "codecs/tunes.h"

namespace disktest {

// The built-in disk cut to `tunes` tunes and `links` links (its font strip left out).
inline DiskPieces builtin_pieces(int tunes = 13, int links = 17) {
  DiskPieces p;
  for (int n = 1; n <= tunes; ++n) {
    // Tune n as a packed tune: u32 L, u32 S, the stored part, the stream (the table holds no
    // length of the stream, so measure it).
    const StoredTune& t = StoredTunes[n - 1];
    const auto streamBytes = static_cast<uint32_t>(measure_sample_stream(t.stream, 1u << 24).streamBytes);
    std::vector<uint8_t> tune;
    for (uint32_t v : {t.storedLength, streamBytes}) {
      for (int i = 0; i < 4; ++i) tune.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    tune.insert(tune.end(), t.stored, t.stored + t.storedLength);
    tune.insert(tune.end(), t.stream, t.stream + streamBytes);
    p.tunes.push_back(tune);
  }
  // The texts' tables count from 1.
  p.tuneLabels.assign(TuneLabels + 1, TuneLabels + 1 + tunes);
  p.silenceLabel = TuneLabels[14];
  p.linkLabels.assign(LinkLabels + 1, LinkLabels + 1 + links);
  p.linkAddresses.assign(LinkAddresses + 1, LinkAddresses + 1 + links);
  p.logo.assign(LogoStream, LogoStream + LogoStream_size);
  p.sprite.assign(SpriteStream, SpriteStream + SpriteStream_size);
  p.scrollText.assign(ScrollText, ScrollText + std::strlen(reinterpret_cast<const char*>(ScrollText)));
  return p;
}

}  // namespace disktest
