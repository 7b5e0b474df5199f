// PNG files for the tools: 8-bit RGB in, 8-bit RGB out, pixels as 0x00RRGGBB words.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row-major
};

// Writes `image` to `path` (written to a temporary name and renamed, so a failed write never
// leaves a partial file). False with `error` set on failure.
bool write_png(const std::string& path, const RgbImage& image, std::string* error);
// Reads any PNG (palette, grey, alpha and 16-bit are turned into 8-bit RGB; alpha dropped).
bool read_png(const std::string& path, RgbImage* image, std::string* error);
