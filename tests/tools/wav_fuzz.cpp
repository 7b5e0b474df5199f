// Any bytes as a WAV file: refused with a cause, or read into whole frames of samples that
// fit their stated width.
#include <cstdlib>
#include <span>

#include "tools/common/wav_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (!looks_like_wav(bytes)) return 0;
  WavData wav;
  std::string error;
  if (!read_wav(bytes, wav, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (wav.channels < 1 || wav.rate <= 0 || wav.samples.size() % static_cast<size_t>(wav.channels) != 0) std::abort();
  const int64_t high = (int64_t{1} << (wav.bits - 1)) - 1;
  for (int32_t v : wav.samples)
    if (v > high || v < -high - 1) std::abort();
  return 0;
}
