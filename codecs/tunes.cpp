#include "codecs/tunes.h"

#include <cstring>

#include "assets/disk.h"
#include "codecs/samples.h"
#include "platform/blocks.h"
#include "platform/memory.h"

uint8_t* tune_images[TuneCount + 1] = {};

namespace {

uint32_t stream_blocks(const uint8_t* stream) {
  return static_cast<uint32_t>(stream[0]) | static_cast<uint32_t>(stream[1]) << 8 |
         static_cast<uint32_t>(stream[2]) << 16 | static_cast<uint32_t>(stream[3]) << 24;
}

}  // namespace

void assemble_tune(int n) {
  if (n < 1 || n > disk_tune_count()) return;
  const StoredTune& tune = CustomDisk ? CustomDisk->tunes[n - 1] : StoredTunes[n - 1];
  // The decoder writes as many samples as the block count says; one that would run past
  // the buffer is not decoded at all.
  const uint64_t decoded = decoded_sample_count(stream_blocks(tune.stream));
  if (tune.storedLength > TuneImageBytes || decoded > TuneImageBytes - tune.storedLength) return;

  auto* image = static_cast<uint8_t*>(alloc_block(TuneImageBytes));
  if (image == nullptr) return;
  tune_images[n] = image;
  // alloc_block gives zero-filled pages; filling them again would only touch (and so fault
  // in) the whole buffer, of which the tune uses a fraction.
  std::memcpy(image, tune.stored, tune.storedLength);
  decode_samples(TheSampleDecoder, tune.stream, reinterpret_cast<int8_t*>(image + tune.storedLength));
  // The rest of the buffer stays zero and is never written: its pages go back.
  page_trim(image, TuneImageBytes, tune.storedLength + decoded);
}

void free_tune_images() {
  for (uint8_t*& image : tune_images) {
    free_block(image);
    image = nullptr;
  }
}
