// Untrusted streams through the checked decoder: it must never read past the bytes given,
// never write outside the room given, and write nothing when it refuses.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "codecs/samples.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t Guard = 64;
  // The input is copied so that reading one byte past it is caught.
  const std::vector<uint8_t> stream(data, data + size);
  const SampleStreamInfo info = measure_sample_stream(stream.data(), stream.size());
  // Room for the samples (at most 256 Ki), one less when the first input byte is odd, to
  // exercise the refusal; a broken stream gets a little room to leave alone.
  size_t room = info.error != SampleStreamError::None ? Guard : std::min<uint64_t>(info.decodedCount, 1u << 18);
  if (size > 0 && (data[0] & 1) != 0 && room > 0) --room;
  std::vector<int8_t> out(room + 2 * Guard, 0x5A);
  const bool decoded = decode_samples_checked(TheSampleDecoder, stream.data(), stream.size(), out.data() + Guard, room);
  const bool should = info.error == SampleStreamError::None && info.decodedCount <= room;
  if (decoded != should || (should && info.streamBytes > size)) std::abort();
  for (size_t i = 0; i < out.size(); ++i) {
    if ((!decoded || i < Guard || i >= Guard + room) && out[i] != 0x5A) std::abort();
  }
  return 0;
}
