#include "tools/common/png_io.h"

#include <png.h>

#include <cstring>

#include "tools/common/file_io.h"
#include "tools/common/png_inflate.h"

bool read_png(const std::string& path, RgbImage& image, std::string& error, int32_t max_width, int32_t max_height) {
  std::vector<uint8_t> bytes;
  if (!read_input(path, bytes, error, PictureInput)) return false;
  return decode_png(bytes, display_name(path, false), image, error, max_width, max_height);
}

bool decode_png(std::span<const uint8_t> bytes, const std::string& name, RgbImage& image, std::string& error,
                int32_t max_width, int32_t max_height) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    error = name + ": " + png.message;
    return false;
  }
  // Checked in 64 bits: the library's own size macro is a 32-bit product that wraps.
  const uint64_t pixels = uint64_t{png.width} * png.height;
  if (std::string why = png_size_refusal(name, png.width, png.height, max_width, max_height); !why.empty()) {
    error = why;
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(static_cast<size_t>(pixels) * 4);
  if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr)) {
    error = name + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  image.width = static_cast<int32_t>(png.width);
  image.height = static_cast<int32_t>(png.height);
  image.pixels.resize(static_cast<size_t>(png.width) * png.height);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const uint8_t* p = &rgba[4 * i];
    auto over_black = [&](uint8_t c) { return static_cast<uint32_t>((c * p[3] + 127) / 255); };
    image.pixels[i] = (over_black(p[0]) << 16) | (over_black(p[1]) << 8) | over_black(p[2]);
  }
  return true;
}

bool write_png(const std::string& path, const RgbImage& image, std::string& error) {
  std::vector<uint8_t> rgb(image.pixels.size() * 3);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    rgb[3 * i] = static_cast<uint8_t>(image.pixels[i] >> 16);
    rgb[3 * i + 1] = static_cast<uint8_t>(image.pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(image.pixels[i]);
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(png, size, 0, rgb.data(), 0, nullptr)) {
    error = "cannot write " + display_name(path, true) + ": " + png.message;
    return false;
  }
  std::vector<uint8_t> encoded(size);
  if (!png_image_write_to_memory(&png, encoded.data(), &size, 0, rgb.data(), 0, nullptr)) {
    error = "cannot write " + display_name(path, true) + ": " + png.message;
    return false;
  }
  encoded.resize(size);
  return write_whole_output(path, encoded, error);
}
