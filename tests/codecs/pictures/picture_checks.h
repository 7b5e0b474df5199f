// Checks shared by the picture tests: decoding into a guarded buffer, and the distance
// between two pictures.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs/picture.h"

// What the decoder has not written.
constexpr uint32_t Untouched = 0xDEADBEEF;

// Decodes `stream` into a w x h buffer filled with Untouched and followed by a guard band
// that must stay untouched. The stream is read from its own vector, so that the sanitizers
// see any read beyond it. `accepted` receives whether the headers were taken.
inline std::vector<uint32_t> decode_guarded(const std::vector<uint8_t>& stream, int w, int h, bool* accepted = nullptr) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h) + 256, Untouched);
  PictureDecoder decoder;
  const bool ok = parse_picture_headers(decoder, stream.data(), stream.size()) == 1;
  if (ok) decode_picture(decoder, pixels.data(), w, h);
  if (accepted) *accepted = ok;
  for (size_t i = static_cast<size_t>(w * h); i < pixels.size(); ++i) EXPECT_EQ(pixels[i], Untouched) << "guard " << i;
  pixels.resize(static_cast<size_t>(w * h));
  return pixels;
}

// Peak signal-to-noise ratio of two pictures of the same size over their three channels, in dB.
inline double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = static_cast<double>((a[i] >> shift) & 0xFF) - static_cast<double>((b[i] >> shift) & 0xFF);
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(a.size()) / std::max(sum, 1e-9));
}
