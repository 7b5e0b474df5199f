#include "player/mixer.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#include <immintrin.h>
#endif

#include "player/player.h"

namespace {

template <typename T>
inline int32_t sample_at(const uint8_t* data, int64_t index) {
  T value;
  std::memcpy(&value, data + index * static_cast<int64_t>(sizeof(T)), sizeof(T));
  return value;
}

// n frames of one voice with no boundary in between; returns the new position.
// The last argument is the highest frame the run may read (the scalar loop reads up to it anyway).
using RunFunction = int64_t (*)(const uint8_t*, int64_t, int64_t, uint32_t, int32_t, int32_t, int32_t*, int64_t);

template <typename T, bool Backwards>
int64_t mix_run(const uint8_t* data, int64_t position, int64_t delta, uint32_t n, int32_t gainLeft,
                int32_t gainRight, int32_t* out, int64_t = 0) {
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

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define MD_MIX_AVX2 1
// The same n frames eight at a time with AVX2: the eight positions of a block are formed from
// the block's first one, the sample pairs fetched by one gather, and the arithmetic is the
// scalar loop's, lane by lane (the same bits). Frames left over go through the scalar loop.
template <typename T, bool Backwards>
__attribute__((target("avx2"))) int64_t mix_run_avx2(const uint8_t* data, int64_t position, int64_t delta,
                                                      uint32_t n, int32_t gainLeft, int32_t gainRight,
                                                      int32_t* out, int64_t lastReadable) {
  const int32_t step = static_cast<int32_t>(delta >> 22);  // 1/1024 frames per output frame
  // Each lane's distance from the block's first frame, in 1/1024 frames.
  const __m256i lanes =
      _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(Backwards ? -step : step));
  const __m256i left = _mm256_set1_epi32(gainLeft), right = _mm256_set1_epi32(gainRight);
  const int64_t block = 8 * delta;
  while (n >= 8) {
    const int64_t first = position >> 32;
    // 8-bit pairs are fetched as the four bytes ending with the pair, so the two bytes
    // before the lowest frame must be part of the sample: near its start, one frame scalar.
    if constexpr (sizeof(T) == 1) {
      const int64_t lowest = Backwards ? (position - 7 * delta) >> 32 : first;
      if (lowest < 2) {
        position = mix_run<T, Backwards>(data, position, delta, 1, gainLeft, gainRight, out);
        out += 2;
        --n;
        continue;
      }
    }
    // Lane position = first frame + q / 1024, q = the fraction's top ten bits + the lane's
    // distance; the fraction's bits below those ten are the same in every lane.
    const uint32_t fraction = static_cast<uint32_t>(position);
    const __m256i q = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(fraction >> 22)), lanes);
    const __m256i offsets = _mm256_srai_epi32(q, 10);
    const __m256i f = _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(q, _mm256_set1_epi32(1023)), 6),
                                      _mm256_set1_epi32(static_cast<int32_t>((fraction >> 16) & 63)));
    __m256i s;
    if constexpr (sizeof(T) == 1) {
      // When the block's frames lie within 13 frames of its lowest one and the 16 bytes from
      // two before it may be read, the pairs come from one load and a byte shuffle (each
      // lane gets bytes lowest - 2 + rel and rel + 1 in its top two bytes), else a gather.
      const int64_t lowest = Backwards ? (position - 7 * delta) >> 32 : first;
      const int64_t highest = Backwards ? first : (position + 7 * delta) >> 32;
      __m256i w;
      if (highest - lowest <= 12 && lowest + 13 <= lastReadable) {
        const __m256i window =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + lowest - 2)));
        const __m256i rel = _mm256_add_epi32(offsets, _mm256_set1_epi32(static_cast<int32_t>(first - lowest + 2)));
        // Bytes 0x80, 0x80 (cleared), rel, rel + 1 (rel <= 14, so no carries between bytes).
        const __m256i control = _mm256_add_epi32(
            _mm256_set1_epi32(static_cast<int32_t>(0x01008080)),
            _mm256_add_epi32(_mm256_slli_epi32(rel, 16), _mm256_slli_epi32(rel, 24)));
        w = _mm256_shuffle_epi8(window, control);
      } else {
        w = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data + first - 2), offsets, 1);
      }
      const __m256i s0 = _mm256_srai_epi32(_mm256_slli_epi32(w, 8), 24);
      const __m256i s1 = _mm256_srai_epi32(w, 24);
      s = _mm256_add_epi32(s0, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(s1, s0), f), 16));
    } else {
      const __m256i w = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data + 2 * first), offsets, 2);
      const __m256i s0 = _mm256_srai_epi32(_mm256_slli_epi32(w, 16), 16);
      const __m256i s1 = _mm256_srai_epi32(w, 16);
      // floor(d * f / 65536) for a 17-bit d without 64-bit lanes: f = 256 fh + fl and
      // floor(d f / 65536) = floor((d fh + floor(d fl / 256)) / 256).
      const __m256i d = _mm256_sub_epi32(s1, s0);
      const __m256i high = _mm256_mullo_epi32(d, _mm256_srli_epi32(f, 8));
      const __m256i low = _mm256_mullo_epi32(d, _mm256_and_si256(f, _mm256_set1_epi32(255)));
      s = _mm256_add_epi32(s0, _mm256_srai_epi32(_mm256_add_epi32(high, _mm256_srai_epi32(low, 8)), 8));
    }
    const __m256i l = _mm256_srai_epi32(_mm256_mullo_epi32(s, left), 16);
    const __m256i r = _mm256_srai_epi32(_mm256_mullo_epi32(s, right), 16);
    // l0 r0 l1 r1 | l4 r4 l5 r5 and l2 r2 l3 r3 | l6 r6 l7 r7, then frames 0-3 and 4-7.
    const __m256i low = _mm256_unpacklo_epi32(l, r), high = _mm256_unpackhi_epi32(l, r);
    __m256i* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, _mm256_add_epi32(_mm256_loadu_si256(o), _mm256_permute2x128_si256(low, high, 0x20)));
    _mm256_storeu_si256(o + 1,
                        _mm256_add_epi32(_mm256_loadu_si256(o + 1), _mm256_permute2x128_si256(low, high, 0x31)));
    out += 16;
    n -= 8;
    position += Backwards ? -block : block;
  }
  return mix_run<T, Backwards>(data, position, delta, n, gainLeft, gainRight, out);
}
#endif

// Indexed by (16-bit ? 2 : 0) + (backwards ? 1 : 0).
constexpr RunFunction PlainRuns[4] = {mix_run<int8_t, false>, mix_run<int8_t, true>, mix_run<int16_t, false>,
                                      mix_run<int16_t, true>};
#ifdef MD_MIX_AVX2
constexpr RunFunction Avx2Runs[4] = {mix_run_avx2<int8_t, false>, mix_run_avx2<int8_t, true>,
                                     mix_run_avx2<int16_t, false>, mix_run_avx2<int16_t, true>};
#endif

bool avx2_present() {
#ifdef MD_MIX_AVX2
  __builtin_cpu_init();  // may run before the runtime's own constructors
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The build the processor runs best, chosen once when the program loads.
const RunFunction* const Runs =
#ifdef MD_MIX_AVX2
    avx2_present() ? Avx2Runs :
#endif
                   PlainRuns;

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
      if (gainLeft == 0 && gainRight == 0)  // silent (faded out or at volume 0): only move on
        v.position += (backwards ? -delta : delta) * n;
      else
        // Forward, the run reads up to its bound; backwards, up to the frame after its first.
        v.position = Runs[(wide ? 2 : 0) + (backwards ? 1 : 0)](
            v.sampleData, v.position, delta, n, gainLeft, gainRight, out,
            backwards ? (v.position >> 32) + 1 : static_cast<int64_t>(v.boundAhead));
      out += 2 * n;
      remaining -= n;
    }
  }
  return output + 2 * frames;
}

bool mix_build_available(MixBuild build) {
  return build == MixBuild::Plain || avx2_present();
}

int64_t mix_run_with(MixBuild build, bool sixteenBit, bool backwards, const uint8_t* data, int64_t position,
                     int64_t delta, uint32_t n, int32_t gainLeft, int32_t gainRight, int32_t* out,
                     int64_t lastReadable) {
  const RunFunction* runs = PlainRuns;
#ifdef MD_MIX_AVX2
  if (build == MixBuild::Vector && avx2_present()) runs = Avx2Runs;
#endif
  return runs[(sixteenBit ? 2 : 0) + (backwards ? 1 : 0)](data, position, delta, n, gainLeft, gainRight, out,
                                                          lastReadable);
}
