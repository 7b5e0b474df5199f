// Playing a module image into 16-bit stereo frames, as the show's audio output does it
// (player_render, then each value clamped to +-32500), and reading an image's figures.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

constexpr int32_t OutputClamp = 32500;

struct RenderOptions {
  // Seconds of sound; 0 or less renders whole passes of the song (see `loops`).
  double seconds = 0;
  // Passes of the song when no seconds are given. The first pass starts at position 0 and
  // ends where the song comes back to a row it has already played, other than by a
  // pattern loop; each further pass starts where the song came back to (its restart
  // position) and ends the same way. Each pass is cut at maxPassSeconds.
  uint32_t loops = 1;
  double maxPassSeconds = 1800;
  // Called now and then with the seconds rendered so far.
  std::function<void(double)> progress;
};

struct RenderResult {
  bool ok = false;
  std::string error;
  std::vector<int16_t> frames;  // interleaved left, right at 44100 Hz (render_image only)
  uint64_t frameCount = 0;      // stereo frames rendered
  uint32_t passesEnded = 0;     // passes that came back round (the rest were cut)
  bool passEnded = false;       // whole-pass render: every pass came back round
  uint32_t returnPosition = 0;  // ... to this order position (the last pass that did)
};

// The longest run of consecutive frames in which a channel sits at +-OutputClamp (left and
// right counted apart), in frames.
size_t longest_clamp_run(const std::vector<int16_t>& frames);

// Signal-to-noise ratio of `test` against `reference` in dB over their common length:
// 10 log10(sum ref^2 / sum (ref - test)^2); +infinity when they are equal.
double snr_db(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

// The image is played in place (player_init may rewrite delta-coded data in it, so play a
// copy to play it twice); it must pass validate_module_image.
RenderResult render_image(std::vector<uint8_t>& image, const RenderOptions& options);

// As render_image, handing the frames to `sink` in pieces (interleaved left, right) instead
// of keeping them; a sink that returns false stops the render, which then fails.
using FrameSink = std::function<bool(std::span<const int16_t>)>;
RenderResult render_image_to(std::vector<uint8_t>& image, const RenderOptions& options, const FrameSink& sink);

struct ImageFigures {
  uint32_t songLength, restartPosition, channels, patterns, instruments, samples;
  uint32_t speed, tempo;
  bool linear;
  uint32_t sampleAreaOffset, sampleBytes8, sampleValues16;
  uint64_t imageBytes;
};
// The header's figures and the sample records counted over all instruments; the image
// must pass validate_module_image.
ImageFigures image_figures(const std::vector<uint8_t>& image);
