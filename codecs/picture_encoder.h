// Our own encoder of picture streams: one MPEG-1 intra picture in exactly the syntax the
// picture decoder accepts (a sequence header, optionally with its own intra matrix, one
// group of pictures, one intra picture, one slice over all macroblock rows, intra and
// intra-with-quantiser macroblocks). Used by the tools; the show only decodes.
#pragma once
#include <cstdint>
#include <vector>

#include "codecs/bitreader.h"

struct PictureEncoderOptions {
  int32_t quantiserScale = 4;     // 1 (finest) to 31
  bool adaptiveQuantiser = true;  // finer scales for flat macroblocks, coarser for busy ones
  // (any macroblock whose levels would pass 255 gets the finest scale that avoids it)
  bool writeMatrix = false;       // send intraMatrix in the sequence header
  IntraMatrix intraMatrix = DefaultIntraMatrix;  // scan order; the first weight must be 8
  int32_t blackLevel = 22;        // the level stretch the show applies; -1 for none
};

// A flat intra matrix (16 everywhere but the DC weight 8).
IntraMatrix flat_intra_matrix();

// Encodes `rgb` (0x00RRGGBB, `width` x `height`, both multiples of 16 from 16 to 4080) so
// that decoding and the level stretch give back approximately these pixels. Returns an
// empty stream for sizes or options out of range.
std::vector<uint8_t> encode_picture(const uint32_t* rgb, int32_t width, int32_t height,
                                    const PictureEncoderOptions& options);

// The reference forward and inverse transforms in double precision, raster order, the
// scaling of the standard (a DC value of 8p is a block of p).
void forward_dct_reference(const double* samples, double* coefficients);
void inverse_dct_reference(const double* coefficients, double* samples);
