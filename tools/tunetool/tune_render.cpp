#include "tools/tunetool/tune_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "player/player.h"

RenderResult render_image(std::vector<uint8_t>& image, const RenderOptions& options) {
  RenderResult result;
  if (validate_module_image(image.data(), image.size()) != ImageCheck::Ok) {
    result.error = "not a valid module image";
    return result;
  }
  // The player keeps a pointer to its state, as the show's audio record does; zeroed as
  // the audio set-up clears it.
  auto state = std::make_unique<PlayerState>();
  if (!player_init(image.data(), state.get())) {
    result.error = "the player refused the image";
    return result;
  }
  player_start(0);

  const bool onePass = options.seconds <= 0;
  const double limit = onePass ? options.maxPassSeconds : options.seconds;
  const uint64_t total = static_cast<uint64_t>(limit * OutputRate + 0.5);
  // Short steps, so a row change is seen in the step it happens (a row lasts at least one
  // tick, some hundreds of frames).
  constexpr uint32_t Chunk = 64;
  std::vector<int32_t> mix(2 * Chunk);
  std::vector<bool> visited(256, false);
  visited[0] = true;
  uint32_t lastOrder = 0, lastRow = 0;
  uint64_t done = 0, nextProgress = 5 * OutputRate;
  result.frames.reserve(static_cast<size_t>(std::min<uint64_t>(total, 600ull * OutputRate)) * 2);
  while (done < total) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(Chunk, total - done));
    player_render(n, mix.data());
    if (onePass) {
      const uint32_t order = state->orderPosition, row = state->row;
      bool wrapped = false;
      if (order != lastOrder) {
        wrapped = order < visited.size() && visited[order];
        if (order < visited.size()) visited[order] = true;
      } else if (row < lastRow) {
        // Back within the same position: a pattern loop while any loop counts down, else
        // a jump or break to the position that is playing.
        wrapped = std::none_of(state->channels, state->channels + MaxChannels,
                               [](const ChannelState& c) { return c.loopCount != 0; });
      }
      lastOrder = order;
      lastRow = row;
      if (wrapped) {
        result.passEnded = true;
        result.returnPosition = order;
        break;
      }
    }
    for (uint32_t i = 0; i < 2 * n; ++i)
      result.frames.push_back(static_cast<int16_t>(std::clamp(mix[i], -OutputClamp, OutputClamp)));
    done += n;
    if (options.progress && done >= nextProgress) {
      options.progress(static_cast<double>(done) / OutputRate);
      nextProgress += 5 * OutputRate;
    }
  }
  player_stop();
  result.ok = true;
  return result;
}

ImageFigures image_figures(const std::vector<uint8_t>& image) {
  // The player's own reading of the header, relocated tables included.
  ModuleHeader h;
  load_module_header(image.data(), h);
  ImageFigures f{};
  f.songLength = h.songLength;
  f.restartPosition = h.restartPosition;
  f.channels = h.channelCount;
  f.patterns = h.patternCount;
  f.instruments = h.instrumentCount;
  f.speed = h.initialSpeed;
  f.tempo = h.initialTempo;
  f.linear = h.flags & FlagLinearPeriods;
  f.sampleAreaOffset = h.sampleDataOffset;
  f.sampleBytes8 = h.sampleData8Size;
  f.sampleValues16 = h.sampleData16Count;
  f.imageBytes = image.size();
  f.samples = 0;
  for (uint32_t k = 0; k < f.instruments; ++k) f.samples += load_u32(h.instruments[k] + InstrumentSampleCount);
  return f;
}

size_t longest_clamp_run(const std::vector<int16_t>& frames) {
  size_t best = 0;
  for (size_t side = 0; side < 2; ++side) {
    size_t run = 0;
    for (size_t i = side; i < frames.size(); i += 2) {
      run = (frames[i] >= OutputClamp || frames[i] <= -OutputClamp) ? run + 1 : 0;
      best = std::max(best, run);
    }
  }
  return best;
}

double snr_db(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
  const size_t n = std::min(reference.size(), test.size());
  double signal = 0, noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = reference[i], d = r - test[i];
    signal += r * r;
    noise += d * d;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  if (signal == 0) return -std::numeric_limits<double>::infinity();
  return 10 * std::log10(signal / noise);
}
