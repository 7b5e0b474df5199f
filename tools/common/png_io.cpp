#include "tools/common/png_io.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;
}  // namespace

bool write_png(const std::string& path, const RgbImage& image, std::string* error) {
  const std::string temp = path + ".part";
  File f(std::fopen(temp.c_str(), "wb"));
  if (!f) {
    *error = "cannot write " + path;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    *error = "out of memory writing " + path;
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(image.width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    f.reset();
    std::remove(temp.c_str());
    *error = "cannot write " + path;
    return false;
  }
  png_init_io(png, f.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint32_t p = image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)];
      row[3 * x] = static_cast<uint8_t>(p >> 16);
      row[3 * x + 1] = static_cast<uint8_t>(p >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(f.get()) != 0) {
    f.reset();
    std::remove(temp.c_str());
    *error = "cannot write " + path;
    return false;
  }
  f.reset();
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool read_png(const std::string& path, RgbImage* image, std::string* error) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = "cannot open " + path;
    return false;
  }
  uint8_t sig[8];
  if (std::fread(sig, 1, 8, f.get()) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
    *error = path + " is not a PNG file";
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *error = "out of memory reading " + path;
    return false;
  }
  std::vector<uint8_t> data;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = path + ": damaged PNG data";
    return false;
  }
  png_init_io(png, f.get());
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > 16384 || h > 16384) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = path + ": picture size out of range";
    return false;
  }
  data.resize(static_cast<size_t>(w) * h * 3);
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) {
    rows[y] = data.data() + static_cast<size_t>(y) * w * 3;
  }
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  image->width = static_cast<int>(w);
  image->height = static_cast<int>(h);
  image->pixels.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < image->pixels.size(); ++i) {
    image->pixels[i] = (static_cast<uint32_t>(data[3 * i]) << 16) | (static_cast<uint32_t>(data[3 * i + 1]) << 8) |
                       data[3 * i + 2];
  }
  return true;
}
