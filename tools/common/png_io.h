// PNG files as 0x00RRGGBB pixels (tools only).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // row-major 0x00RRGGBB
};

// Reads any PNG; transparent pixels are laid over black. On failure returns false and says
// why in `error`.
bool read_png(const std::string& path, RgbImage& image, std::string& error);

// Writes an 8-bit RGB PNG through a temporary file, so a failed write leaves no output.
bool write_png(const std::string& path, const RgbImage& image, std::string& error);
