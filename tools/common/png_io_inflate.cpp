// read_png and decode_png over the reader of png_inflate.h, for builds without libpng.
#include "tools/common/file_io.h"
#include "tools/common/png_inflate.h"
#include "tools/common/png_io.h"

bool read_png(const std::string& path, RgbImage& image, std::string& error, int32_t max_width, int32_t max_height) {
  std::vector<uint8_t> bytes;
  if (!read_input(path, bytes, error, PictureInput)) return false;
  return inflate_png(bytes, display_name(path, false), image, error, max_width, max_height);
}

bool decode_png(std::span<const uint8_t> bytes, const std::string& name, RgbImage& image, std::string& error,
                int32_t max_width, int32_t max_height) {
  return inflate_png(bytes, name, image, error, max_width, max_height);
}
