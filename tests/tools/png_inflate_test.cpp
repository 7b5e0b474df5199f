// The PNG reader of the Windows tools against libpng's, which the native tools use: the same
// pixels for every kind of PNG, the same refusals for damaged files. The files are written
// here with libpng from rows of varied bytes.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/common/png_inflate.h"

namespace {

struct Kind {
  const char* what;
  int colour, depth;
  bool interlaced;
};

// A PNG of that kind, `width` x `height`, its samples made from a running pattern, its rows
// filtered with the filters libpng may choose from.
std::vector<uint8_t> write_png_of(const Kind& k, uint32_t width, uint32_t height, int filters = PNG_ALL_FILTERS) {
  std::vector<uint8_t> file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &file, [](png_structp p, png_bytep data, size_t n) {
        auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + n);
      },
      nullptr);
  png_set_filter(png, 0, filters);
  png_set_IHDR(png, info, width, height, k.depth, k.colour, k.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // A palette comes with alphas (a tRNS chunk) for its first half.
  png_color palette[256];
  uint8_t alphas[256];
  for (int i = 0; i < 256; ++i) {
    palette[i] = {static_cast<png_byte>(i * 7), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 13)};
    alphas[i] = static_cast<uint8_t>(i * 37);
  }
  if (k.colour == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, palette, 1 << k.depth);
    png_set_tRNS(png, info, alphas, (1 << k.depth) / 2, nullptr);
  }
  png_write_info(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  std::vector<uint8_t> rows(row_bytes * height);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * i / 3 + i / 5);
  std::vector<png_bytep> pointers(height);
  for (uint32_t y = 0; y < height; ++y) pointers[y] = &rows[y * row_bytes];
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

struct Decoded {
  bool ok;
  RgbImage image;
  std::string error;
};

// `file` read by `reader`: decode_png (libpng) or inflate_png (the reader under test).
template <typename Reader>
Decoded read_with(Reader reader, const std::vector<uint8_t>& file, int32_t max_side = 0) {
  Decoded d{};
  d.ok = reader(file, "p.png", d.image, d.error, max_side, max_side);
  return d;
}

// `file` read by the new reader, against `reference` (the same picture) read by libpng.
void expect_same_pixels(const std::vector<uint8_t>& file, const std::vector<uint8_t>& reference) {
  const Decoded want = read_with(decode_png, reference), got = read_with(inflate_png, file);
  ASSERT_TRUE(want.ok) << want.error;
  ASSERT_TRUE(got.ok) << got.error;
  ASSERT_EQ(got.image.width, want.image.width);
  ASSERT_EQ(got.image.height, want.image.height);
  size_t differing = 0;
  for (size_t i = 0; i < want.image.pixels.size(); ++i) differing += got.image.pixels[i] != want.image.pixels[i];
  EXPECT_EQ(differing, 0u) << "of " << want.image.pixels.size() << " pixels";
}

// Puts a chunk's CRC right after a change inside it, so only the change itself is seen.
void mend_crc(std::vector<uint8_t>& file, size_t chunk) {
  const uint32_t length = uint32_t{file[chunk]} << 24 | file[chunk + 1] << 16 | file[chunk + 2] << 8 | file[chunk + 3];
  const uint32_t crc = crc32(0, &file[chunk + 4], length + 4);
  for (int i = 0; i < 4; ++i) file[chunk + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

}  // namespace

TEST(PngInflate, GivesLibpngsPixelsForEveryKind) {
  const Kind kinds[] = {
      {"grey 1 bit", PNG_COLOR_TYPE_GRAY, 1, false},
      {"grey 2 bits", PNG_COLOR_TYPE_GRAY, 2, false},
      {"grey 4 bits, interlaced", PNG_COLOR_TYPE_GRAY, 4, true},
      {"grey 16 bits", PNG_COLOR_TYPE_GRAY, 16, false},
      {"palette 2 bits, alphas", PNG_COLOR_TYPE_PALETTE, 2, false},
      {"palette 8 bits, alphas, interlaced", PNG_COLOR_TYPE_PALETTE, 8, true},
      {"RGB 8 bits", PNG_COLOR_TYPE_RGB, 8, false},
      {"RGB 16 bits", PNG_COLOR_TYPE_RGB, 16, false},
      {"grey and alpha 16 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false},
      {"RGBA 8 bits, interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
  };
  // Sizes that leave interlace passes empty or one pixel wide, and one of many rows; each
  // filter of its own.
  const struct {
    uint32_t width, height;
    int filters;
  } sizes[] = {{1, 1, PNG_ALL_FILTERS}, {3, 2, PNG_FILTER_SUB}, {37, 29, PNG_FILTER_PAETH}, {640, 9, PNG_FILTER_AVG},
               {41, 17, PNG_FILTER_UP}};
  for (const Kind& k : kinds) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(k.what) + ", " + std::to_string(size.width) + " x " + std::to_string(size.height));
      // libpng's simple reader gives 16-bit interlaced pictures wrong pixels in 8 bits: an
      // interlaced picture is held against libpng's reading of the same rows not interlaced.
      const std::vector<uint8_t> file = write_png_of(k, size.width, size.height, size.filters);
      const std::vector<uint8_t> reference =
          write_png_of({k.what, k.colour, k.depth, false}, size.width, size.height);
      expect_same_pixels(file, reference);
    }
  }
}

TEST(PngInflate, RefusesWhatLibpngRefuses) {
  const std::vector<uint8_t> good = write_png_of({"RGB", PNG_COLOR_TYPE_RGB, 8, false}, 40, 30);
  const size_t ihdr = 8, idat = 8 + 25;  // the first chunks libpng writes: IHDR, then IDAT
  using Change = std::function<void(std::vector<uint8_t>&)>;
  const struct {
    const char* what;
    Change change;
    const char* message;  // in the new reader's words
  } cases[] = {
      {"no signature", [](auto& f) { f[1] = 'Q'; }, "not a PNG file"},
      {"cut inside the image data", [&](auto& f) { f.resize(idat + 30); }, "cut short"},
      {"a byte of the image data changed", [&](auto& f) { f[idat + 20] ^= 0x10; }, "IDAT chunk is damaged"},
      {"no rows left, CRC mended",
       [&](auto& f) {
         f[ihdr + 8 + 7] = 200;  // 200 rows for the data of 30
         mend_crc(f, ihdr);
       },
       "too little image data"},
      {"an unknown row filter, CRC mended",
       [&](auto& f) {
         // The image data replaced by 30 rows of 40 black pixels, the second row's filter 5,
         // the first that is not one.
         std::vector<uint8_t> rows(30 * 121), packed(compressBound(rows.size()));
         rows[121] = 5;
         uLongf size = packed.size();
         compress(packed.data(), &size, rows.data(), rows.size());
         const size_t old_size = size_t{f[idat + 2]} << 8 | f[idat + 3];  // far below 64 KiB
         f.erase(f.begin() + idat + 8, f.begin() + idat + 8 + old_size);
         f.insert(f.begin() + idat + 8, packed.begin(), packed.begin() + size);
         f[idat + 2] = static_cast<uint8_t>(size >> 8);
         f[idat + 3] = static_cast<uint8_t>(size);
         mend_crc(f, idat);
       },
       "unknown row filter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    c.change(file);
    const Decoded want = read_with(decode_png, file), got = read_with(inflate_png, file);
    EXPECT_FALSE(want.ok) << "libpng read it";
    EXPECT_FALSE(got.ok);
    EXPECT_NE(got.error.find(c.message), std::string::npos) << got.error;
    EXPECT_EQ(got.error.rfind("p.png: ", 0), 0u) << got.error;
  }

  // A header claiming a huge picture is refused from its sizes, before the data is read.
  std::vector<uint8_t> huge = good;
  huge[ihdr + 8 + 2] = 0x10;  // 4136 x 30
  mend_crc(huge, ihdr);
  for (const Decoded& d : {read_with(decode_png, huge, 4080), read_with(inflate_png, huge, 4080)})
    EXPECT_EQ(d.error, "p.png: the picture is 4136 x 30; at most 4080 on either side is accepted");
}
