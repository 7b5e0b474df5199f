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

// Reads any PNG ("-" is standard input); transparent pixels are laid over black. A picture
// wider or taller than `max_side` (when above 0) is refused from its header, before any
// pixel memory is taken. On failure returns false and says why in `error`.
bool read_png(const std::string& path, RgbImage& image, std::string& error, int32_t max_side = 0);

// Writes an 8-bit RGB PNG, all or nothing ("-" is standard output).
bool write_png(const std::string& path, const RgbImage& image, std::string& error);
