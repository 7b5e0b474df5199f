#include "tools/playback/tune_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_set>

#include "player/player.h"

namespace {

// Watches the rows the player reads, tick by tick, to find where a pass of the song ends:
// at the first row read a second time that no pattern loop sent the song back to. Whether
// a loop is running is taken before the row is read, as the row itself may start a new
// loop (E6x on the row the song restarts at).
struct PassWatch {
  std::unordered_set<uint64_t> visited;
  bool loopRunning = false;

  static bool any_loop(const PlayerState& p) {
    return std::any_of(p.channels, p.channels + MaxChannels, [](const ChannelState& c) { return c.loopCount != 0; });
  }
  // After a tick: true when the row it read begins a new pass.
  bool row_read(const PlayerState& p) {
    const uint64_t key = uint64_t{p.orderPosition} << 32 | p.row;
    const bool again = !visited.insert(key).second;
    return again && !loopRunning;
  }
  void restart(const PlayerState& p) {
    visited.clear();
    visited.insert(uint64_t{p.orderPosition} << 32 | p.row);
  }
};

}  // namespace

RenderResult render_image_to(std::vector<uint8_t>& image, const RenderOptions& options, const FrameSink& sink) {
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
  const PlayerState& p = *state;

  const bool byPass = options.seconds <= 0;
  const uint32_t passes = std::max<uint32_t>(options.loops, 1);
  const uint64_t passLimit = static_cast<uint64_t>(options.maxPassSeconds * OutputRate + 0.5);
  const uint64_t total = byPass ? passLimit * passes : static_cast<uint64_t>(options.seconds * OutputRate + 0.5);
  constexpr uint32_t Chunk = 1024;
  std::vector<int32_t> mix(2 * Chunk);
  std::vector<int16_t> out(2 * Chunk);
  PassWatch watch;
  uint32_t passesDone = 0;
  uint64_t done = 0, passStart = 0, nextProgress = 5 * OutputRate;
  bool failed = false;
  while (done < total) {
    // Each call ends at a tick: a tick due now runs at the start of a one-frame call, so
    // the row it reads is seen before any of its sound is kept.
    const bool tickDue = p.TickClock < 256;
    uint32_t n = tickDue ? 1 : std::min<uint32_t>(Chunk, p.TickClock >> 8);
    n = static_cast<uint32_t>(std::min<uint64_t>(n, total - done));
    if (byPass) watch.loopRunning = PassWatch::any_loop(p);
    player_render(n, mix.data());
    if (byPass && tickDue && p.rowTick) {
      if (watch.row_read(p)) {
        result.returnPosition = p.orderPosition;
        ++passesDone;
        ++result.passesEnded;
        if (passesDone == passes) break;  // the frame belongs to the next pass
        watch.restart(p);
        passStart = done;
      } else if (done - passStart >= passLimit) {
        // A pass that never comes back round is cut at the limit.
        ++passesDone;
        if (passesDone == passes) break;
        watch.restart(p);
        passStart = done;
      }
    }
    for (uint32_t i = 0; i < 2 * n; ++i) out[i] = static_cast<int16_t>(std::clamp(mix[i], -OutputClamp, OutputClamp));
    if (!sink(std::span<const int16_t>(out.data(), 2 * n))) {
      failed = true;
      break;
    }
    done += n;
    if (options.progress && done >= nextProgress) {
      options.progress(static_cast<double>(done) / OutputRate);
      nextProgress += 5 * OutputRate;
    }
  }
  player_stop();
  result.frameCount = done;
  result.passEnded = byPass && result.passesEnded == passes;
  if (failed) {
    result.error = "the render was stopped";
    return result;
  }
  result.ok = true;
  return result;
}

RenderResult render_image(std::vector<uint8_t>& image, const RenderOptions& options) {
  std::vector<int16_t> frames;
  if (options.seconds > 0) frames.reserve(static_cast<size_t>(options.seconds * OutputRate + 0.5) * 2);
  RenderResult r = render_image_to(image, options, [&](std::span<const int16_t> piece) {
    frames.insert(frames.end(), piece.begin(), piece.end());
    return true;
  });
  r.frames = std::move(frames);
  return r;
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
