#include "player/mixer.h"

#include <cstring>

#include "player/player.h"

namespace {

template <typename T>
inline int32_t sample_at(const uint8_t* data, int64_t index) {
  T value;
  std::memcpy(&value, data + index * static_cast<int64_t>(sizeof(T)), sizeof(T));
  return value;
}

// n frames of one voice with no boundary in between; returns the new position.
template <typename T, bool Backwards>
int64_t mix_run(const uint8_t* data, int64_t position, int64_t delta, uint32_t n, int32_t gainLeft,
                int32_t gainRight, int32_t* out) {
  for (uint32_t i = 0; i < n; ++i) {
    int64_t index = position >> 32;
    int32_t f = static_cast<int32_t>(static_cast<uint32_t>(position) >> 16);  // 16.16 fraction
    int32_t s0 = sample_at<T>(data, index);
    int32_t s1 = sample_at<T>(data, index + 1);
    int32_t s;
    if constexpr (sizeof(T) == 1)
      s = s0 + (((s1 - s0) * f) >> 16);
    else
      s = s0 + static_cast<int32_t>((static_cast<int64_t>(s1 - s0) * f) >> 16);
    out[0] += (s * gainLeft) >> 16;
    out[1] += (s * gainRight) >> 16;
    out += 2;
    if constexpr (Backwards)
      position -= delta;
    else
      position += delta;
  }
  return position;
}

using RunFunction = int64_t (*)(const uint8_t*, int64_t, int64_t, uint32_t, int32_t, int32_t, int32_t*);
// Indexed by (16-bit ? 2 : 0) + (backwards ? 1 : 0).
constexpr RunFunction Runs[4] = {mix_run<int8_t, false>, mix_run<int8_t, true>, mix_run<int16_t, false>,
                                 mix_run<int16_t, true>};

}  // namespace

bool settle_voice(ChannelState& v) {
  for (;;) {
    bool backwards = v.voiceFlags & SampleBackwards;
    int64_t ahead = static_cast<int64_t>(v.boundAhead) << 32;
    if (backwards ? v.position >= ahead : v.position < ahead) return true;
    if (v.voiceFlags & SamplePingPongLoop) {
      if (backwards ? v.boundAhead >= v.boundBehind : v.boundAhead <= v.boundBehind) return false;
      v.position = 2 * ahead - v.position;
      v.voiceFlags ^= SampleBackwards;
      uint32_t bound = v.boundAhead;
      v.boundAhead = v.boundBehind;
      v.boundBehind = bound;
    } else if ((v.voiceFlags & SampleForwardLoop) && !backwards && v.boundAhead > v.boundBehind) {
      // Back by whole loop lengths until before the loop end; the fraction stays.
      int64_t length = v.boundAhead - v.boundBehind;
      int64_t over = (v.position >> 32) - v.boundAhead;
      v.position -= ((over / length + 1) * length) << 32;
    } else {
      return false;
    }
  }
}

int32_t* mix_voices(ChannelState* channels, uint32_t frames, int32_t* output) {
  if (frames == 0) return output;
  std::memset(output, 0, sizeof(int32_t) * 2 * frames);
  for (uint32_t c = 0; c < MaxChannels; ++c) {
    ChannelState& v = channels[c];
    if (!v.active) continue;
    if (v.startPosition != -1) {
      v.position = static_cast<int64_t>(v.startPosition) << 32;
      v.startPosition = -1;
    }
    bool wide = v.voiceFlags & Sample16Bit;
    int32_t gainLeft = v.mixVolume * (255 - v.mixPanning) * (wide ? 1 : 256);
    int32_t gainRight = v.mixVolume * v.mixPanning * (wide ? 1 : 256);
    int64_t delta = static_cast<int64_t>(v.step) << 22;
    int32_t* out = output;
    uint32_t remaining = frames;
    while (remaining > 0) {
      if (!settle_voice(v)) {
        v.active = 0;
        break;
      }
      // A voice without step would never reach its bound: it holds still and is silent.
      if (v.step == 0) break;
      bool backwards = v.voiceFlags & SampleBackwards;
      int64_t ahead = static_cast<int64_t>(v.boundAhead) << 32;
      // Distance to the bound in 1/1024 frames (positions move in whole 1/1024 steps).
      uint64_t distance = static_cast<uint64_t>(backwards ? v.position - ahead : ahead - v.position) >> 22;
      uint64_t fit = backwards ? distance / v.step + 1 : (distance + v.step - 1) / v.step;
      uint32_t n = fit < remaining ? static_cast<uint32_t>(fit) : remaining;
      v.position = Runs[(wide ? 2 : 0) + (backwards ? 1 : 0)](v.sampleData, v.position, delta, n, gainLeft,
                                                              gainRight, out);
      out += 2 * n;
      remaining -= n;
    }
  }
  return output + 2 * frames;
}
