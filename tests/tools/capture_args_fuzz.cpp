// Any text as the capture tool's --keys and --at lists: refused with a message, or read into
// times within a day of show time (no wrap of the 32-bit clock), keys the show knows.
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/capture/capture_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  constexpr uint32_t MaxMs = static_cast<uint32_t>(CaptureMaxSeconds * 1000);
  std::string error;
  std::vector<HeadlessKey> keys;
  if (parse_capture_keys(text, keys, error)) {
    for (const HeadlessKey& k : keys) {
      if (k.time_ms > MaxMs + 100) std::abort();
      if (k.vk != VK_LEFT && k.vk != VK_RIGHT && k.vk != VK_UP && k.vk != VK_DOWN && k.vk != VK_RETURN &&
          k.vk != VK_ESCAPE)
        std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  std::vector<uint32_t> times;
  error.clear();
  if (parse_capture_times(text, times, error)) {
    for (uint32_t t : times)
      if (t > MaxMs) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
