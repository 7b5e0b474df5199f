// PNG files as 0x00RRGGBB pixels (tools only).
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // row-major 0x00RRGGBB
};

// The most pixels a picture may have, whatever else its reader allows: 2^28 (a gigabyte as
// 32-bit pixels), far above any picture the tools make or read.
constexpr uint64_t PngMaxPixels = uint64_t{1} << 28;

// Reads any PNG ("-" is standard input); transparent pixels are laid over black. A picture
// wider than `max_width` or taller than `max_height` (each when above 0), or of more than
// PngMaxPixels, is refused from its header, before any pixel memory is taken. On failure
// returns false and says why in `error`.
bool read_png(const std::string& path, RgbImage& image, std::string& error, int32_t max_width = 0,
              int32_t max_height = 0);
// The same from the bytes of a PNG file; `name` names it in messages.
bool decode_png(std::span<const uint8_t> bytes, const std::string& name, RgbImage& image, std::string& error,
                int32_t max_width = 0, int32_t max_height = 0);

// Writes an 8-bit RGB PNG, all or nothing ("-" is standard output).
bool write_png(const std::string& path, const RgbImage& image, std::string& error);
