// The PNG reader of the Windows tools against libpng's, which the native tools use: the same
// pixels for every kind of PNG, the same refusals for damaged files. The files are written
// here with libpng from rows of varied bytes.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/png_inflate.h"

namespace {

struct Kind {
  const char* what;
  int colour, depth;
  bool interlaced;
  bool transparency;  // a tRNS chunk: a colour key, or alphas for the palette's first entries
};

// A PNG of that kind, `width` x `height`, its samples made from a running pattern, its rows
// filtered with the filters libpng may choose from.
std::vector<uint8_t> write_png_of(const Kind& k, uint32_t width, uint32_t height, int filters = PNG_ALL_FILTERS) {
  std::vector<uint8_t> file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &file, [](png_structp p, png_bytep data, size_t n) {
        auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + n);
      },
      nullptr);
  png_set_filter(png, 0, filters);
  png_set_IHDR(png, info, width, height, k.depth, k.colour, k.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256];
  uint8_t alphas[256];
  for (int i = 0; i < 256; ++i) {
    palette[i] = {static_cast<png_byte>(i * 7), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 13)};
    alphas[i] = static_cast<uint8_t>(i * 37);
  }
  const int entries = k.colour == PNG_COLOR_TYPE_PALETTE ? 1 << k.depth : 0;
  if (entries) png_set_PLTE(png, info, palette, entries);
  // The key is a sample the pattern below does make: 1 in every channel.
  png_color_16 key{0, 1, 1, 1, 1};
  if (k.transparency) png_set_tRNS(png, info, alphas, entries ? entries / 2 : 0, &key);
  png_write_info(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  std::vector<uint8_t> rows(row_bytes * height);
  // Every third row is all key pixels (samples of 1); the others vary.
  const uint8_t key_byte = k.depth == 1 ? 0xFF : k.depth == 2 ? 0x55 : k.depth == 4 ? 0x11 : 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    const bool key_row = (i / row_bytes) % 3 == 1;
    rows[i] = key_row ? (k.depth == 16 && i % 2 == 0 ? 0 : key_byte) : static_cast<uint8_t>(i * i / 3 + i / 5);
  }
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

Decoded by_libpng(const std::vector<uint8_t>& file, int32_t max_side = 0) {
  Decoded d{};
  d.ok = decode_png(file, "p.png", d.image, d.error, max_side, max_side);
  return d;
}

Decoded by_inflate(const std::vector<uint8_t>& file, int32_t max_side = 0) {
  Decoded d{};
  d.ok = inflate_png(file, "p.png", d.image, d.error, max_side, max_side);
  return d;
}

// `file` read by the new reader, against `reference` (the same picture) read by libpng.
void expect_same_pixels(const std::vector<uint8_t>& file, const std::vector<uint8_t>& reference) {
  const Decoded want = by_libpng(reference), got = by_inflate(file);
  ASSERT_TRUE(want.ok) << want.error;
  ASSERT_TRUE(got.ok) << got.error;
  ASSERT_EQ(got.image.width, want.image.width);
  ASSERT_EQ(got.image.height, want.image.height);
  int differing = 0;
  for (size_t i = 0; i < want.image.pixels.size(); ++i) differing += got.image.pixels[i] != want.image.pixels[i];
  EXPECT_EQ(differing, 0) << "of " << want.image.pixels.size() << " pixels; first " << std::hex
                          << want.image.pixels[0] << " against " << got.image.pixels[0];
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
      {"grey 1 bit", PNG_COLOR_TYPE_GRAY, 1, false, false},
      {"grey 2 bits, a key", PNG_COLOR_TYPE_GRAY, 2, false, true},
      {"grey 4 bits, interlaced", PNG_COLOR_TYPE_GRAY, 4, true, false},
      {"grey 8 bits, a key", PNG_COLOR_TYPE_GRAY, 8, false, true},
      {"grey 16 bits", PNG_COLOR_TYPE_GRAY, 16, false, false},
      {"palette 1 bit", PNG_COLOR_TYPE_PALETTE, 1, false, false},
      {"palette 2 bits, alphas", PNG_COLOR_TYPE_PALETTE, 2, false, true},
      {"palette 4 bits", PNG_COLOR_TYPE_PALETTE, 4, true, false},
      {"palette 8 bits, alphas, interlaced", PNG_COLOR_TYPE_PALETTE, 8, true, true},
      {"RGB 8 bits, a key", PNG_COLOR_TYPE_RGB, 8, false, true},
      {"RGB 8 bits, interlaced", PNG_COLOR_TYPE_RGB, 8, true, false},
      {"RGB 16 bits, a key", PNG_COLOR_TYPE_RGB, 16, false, true},
      {"grey and alpha 8 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
      {"grey and alpha 16 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
      {"RGBA 8 bits, interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
      {"RGBA 16 bits, interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false},
  };
  // Sizes that leave interlace passes empty or one pixel wide, and one of many rows; each
  // filter of its own.
  const struct {
    uint32_t width, height;
    int filters;
  } sizes[] = {{1, 1, PNG_ALL_FILTERS}, {3, 2, PNG_FILTER_SUB}, {37, 29, PNG_FILTER_PAETH},
               {640, 9, PNG_FILTER_AVG}, {41, 17, PNG_FILTER_UP}, {64, 64, PNG_ALL_FILTERS}};
  for (const Kind& k : kinds) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(k.what) + ", " + std::to_string(size.width) + " x " + std::to_string(size.height));
      // libpng's simple reader gives 16-bit interlaced pictures wrong pixels in 8 bits: an
      // interlaced picture is held against libpng's reading of the same rows not interlaced.
      const std::vector<uint8_t> file = write_png_of(k, size.width, size.height, size.filters);
      const std::vector<uint8_t> reference =
          write_png_of({k.what, k.colour, k.depth, false, k.transparency}, size.width, size.height);
      ASSERT_FALSE(file.empty());
      expect_same_pixels(file, reference);
    }
  }
}

TEST(PngInflate, RefusesWhatLibpngRefuses) {
  const std::vector<uint8_t> good = write_png_of({"RGB", PNG_COLOR_TYPE_RGB, 8, false, false}, 40, 30);
  const size_t ihdr = 8, idat = 8 + 25;  // the first chunks libpng writes: IHDR, then IDAT
  ASSERT_EQ(std::string(good.begin() + idat + 4, good.begin() + idat + 8), "IDAT");
  using Change = std::function<void(std::vector<uint8_t>&)>;
  const struct {
    const char* what;
    Change change;
    const char* message;  // in the new reader's words
  } cases[] = {
      {"no signature", [](auto& f) { f[1] = 'Q'; }, "not a PNG file"},
      {"cut inside the image data", [&](auto& f) { f.resize(idat + 30); }, "cut short"},
      {"cut inside its header", [](auto& f) { f.resize(20); }, "cut short"},
      {"a byte of the image data changed", [&](auto& f) { f[idat + 20] ^= 0x10; }, "IDAT chunk is damaged"},
      {"a byte of the header changed", [&](auto& f) { f[ihdr + 11] ^= 1; }, "IHDR chunk is damaged"},
      {"no rows left, CRC mended",
       [&](auto& f) {
         f[ihdr + 8 + 7] = 200;  // 200 rows for the data of 30
         mend_crc(f, ihdr);
       },
       "too little image data"},
      {"a depth RGB cannot have, CRC mended",
       [&](auto& f) {
         f[ihdr + 8 + 8] = 4;
         mend_crc(f, ihdr);
       },
       "colour type 2, 4 bits"},
      {"zlib data broken, CRC mended",
       [&](auto& f) {
         f[idat + 8] = 0x00;
         mend_crc(f, idat);
       },
       "damaged image data"},
      {"an unknown row filter, CRC mended",
       [&](auto& f) {
         const size_t length = size_t{f[idat]} << 24 | f[idat + 1] << 16 | f[idat + 2] << 8 | f[idat + 3];
         std::vector<uint8_t> rows(30 * 121);
         uLongf packed = compressBound(rows.size());
         std::vector<uint8_t> data(packed);
         rows[121] = 9;
         compress(data.data(), &packed, rows.data(), rows.size());
         data.resize(packed);
         std::vector<uint8_t> chunk = {0, 0, static_cast<uint8_t>(packed >> 8), static_cast<uint8_t>(packed), 'I', 'D', 'A', 'T'};
         chunk.insert(chunk.end(), data.begin(), data.end());
         chunk.insert(chunk.end(), 4, 0);
         f.erase(f.begin() + idat, f.begin() + idat + 12 + length);
         f.insert(f.begin() + idat, chunk.begin(), chunk.end());
         mend_crc(f, idat);
       },
       "unknown row filter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    c.change(file);
    const Decoded want = by_libpng(file), got = by_inflate(file);
    EXPECT_FALSE(want.ok) << "libpng read it";
    EXPECT_FALSE(got.ok);
    EXPECT_NE(got.error.find(c.message), std::string::npos) << got.error;
    EXPECT_EQ(got.error.rfind("p.png: ", 0), 0u) << got.error;
  }

  // A header claiming a huge picture is refused from its sizes, before the data is read.
  std::vector<uint8_t> huge = good;
  huge[ihdr + 8 + 2] = 0x10;  // 4136 x 30
  mend_crc(huge, ihdr);
  for (const Decoded& d : {by_libpng(huge, 4080), by_inflate(huge, 4080)})
    EXPECT_EQ(d.error, "p.png: the picture is 4136 x 30; at most 4080 on either side is accepted");
  huge[ihdr + 8 + 1] = 0x40;
  huge[ihdr + 8 + 5] = 0x40;
  mend_crc(huge, ihdr);
  EXPECT_NE(by_inflate(huge).error.find("at most 268435456 pixels"), std::string::npos);

  // A damaged ancillary chunk is skipped, as libpng skips it.
  std::vector<uint8_t> text = good;
  const uint8_t chunk[] = {0, 0, 0, 1, 't', 'E', 'X', 't', 'x', 0, 0, 0, 0};
  text.insert(text.begin() + idat, chunk, chunk + sizeof chunk);
  expect_same_pixels(text, good);
}
