// Plays validator-passing mutations of a real image: every image the validator accepts
// must play without reading outside it. The input is a list of (offset, value) writes.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_tune.h"
#include "player/player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> base = write_module_image(busy_tune());
  static PlayerState state;
  static std::vector<int32_t> mix(2 * 4096);

  std::vector<uint8_t> image = base;
  uint32_t records = ModuleHeaderSize;
  uint32_t recordsEnd = load_u32(base.data() + HeaderSampleDataOffset);
  size_t at = 0;
  for (; at + 4 <= size && at < 4 * 48; at += 4) {
    uint32_t pick = data[at] | data[at + 1] << 8 | (data[at + 2] & 0x7F) << 16;
    // Mostly into the instruments and patterns, sometimes anywhere.
    uint32_t offset = (data[at + 2] & 0x80) ? pick % image.size() : records + pick % (recordsEnd - records);
    image[offset] = data[at + 3];
  }
  if (validate_module_image(image.data(), image.size()) != ImageCheck::Ok) return 0;

  // An exact-size copy, so that any read past the image is caught.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[image.size()]);
  std::memcpy(exact.get(), image.data(), image.size());
  player_init(exact.get(), &state);
  player_start(at < size ? data[at] % 8 : 0);
  for (int run = 0; run < 12; ++run) player_render(1000 + 250 * run, mix.data());
  player_stop();
  return 0;
}
