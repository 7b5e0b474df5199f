// Writing the strip, with libpng (native builds only: the Windows tools only read strips).
#include <png.h>

#include <cstring>

#include "tools/common/file_io.h"
#include "tools/font/strip_png.h"

bool write_strip_png(const std::string& path, const StripLevels& strip, std::string& error) {
  std::vector<uint8_t> grey(strip.levels.size());
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = level_to_grey(strip.levels[i]);
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(strip.width);
  png.height = static_cast<png_uint_32>(strip.height);
  png.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(png, size, 0, grey.data(), 0, nullptr)) {
    error = path + ": " + png.message;
    return false;
  }
  std::vector<uint8_t> encoded(size);
  if (!png_image_write_to_memory(&png, encoded.data(), &size, 0, grey.data(), 0, nullptr)) {
    error = path + ": " + png.message;
    return false;
  }
  encoded.resize(size);
  return write_whole_output(path, encoded, error);
}
