// A PNG reader of its own over zlib's inflate, for builds without libpng (the Windows tools).
// It reads every kind of PNG: greyscale of 1, 2, 4, 8 and 16 bits, palette of 1 to 8 bits,
// RGB, grey with alpha and RGBA of 8 and 16 bits, a tRNS colour or palette alphas, and
// interlaced files. The pixels come out as read_png gives them, laid over black. Sixteen-bit
// samples are taken as linear light and given the screen's gamma (1/2.2), as libpng's simple
// reader does; 8-bit samples as they are. Colour chunks (gAMA, sRGB, iCCP, sBIT) are skipped,
// where libpng would apply them.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "tools/common/png_io.h"

// decode_png's promises: the sizes are checked from the header before any pixel memory is
// taken, every chunk's CRC is checked (a damaged ancillary chunk is skipped, as libpng does),
// and a file cut short or with too little image data is refused.
bool inflate_png(std::span<const uint8_t> bytes, const std::string& name, RgbImage& image, std::string& error,
                 int32_t max_width = 0, int32_t max_height = 0);

// The message for a picture over the sizes decode_png accepts; empty when it is within them.
std::string png_size_refusal(const std::string& name, uint64_t width, uint64_t height, int32_t max_width,
                             int32_t max_height);
