// An extended module packed for the program, as `tunetool pack` and the disk maker do it:
// imported with every sample in 8 bits, packed, assembled again with the real decoder and
// checked the way the show's assembly and player need it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/samplecodec/tune_pack.h"

struct XmPack {
  bool ok = false;
  std::string error;                  // the cause, without the file's name
  std::vector<std::string> warnings;  // what the image cannot carry, by place and name
  std::string title;                  // the module's title as the file holds it
  std::vector<uint8_t> image;         // the unpacked image (8-bit samples)
  PackedTune tune;
};

// `quality` 1..9 (settings_for_quality).
XmPack pack_xm(std::span<const uint8_t> file, int quality = 5);

// The rules the show's assembly and player rely on for a stored tune. On a broken one
// returns false with the rule in words.
bool check_stored_rules(const PackedTune& tune, std::string& error);
