// The encoder for the subband sample codec (tool side; the show only decodes).
//
// The analysis filterbank is the transpose of the decoder's synthesis: block b's value for
// subband m is the correlation of the signal with the synthesis impulse response of that
// subband placed at block b, divided by 32. The synthesis bank is tight with bound 32 to
// about 1e-4, so decoding the unquantised values gives the signal back with no shift and
// the decoded error energy is 32 times the subband error energy.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codecs/samples.h"

struct SampleEncoderSettings {
  // What one stream bit is worth, in squared error summed over the decoded samples (8-bit
  // sample units). Each group's subbands take the class that minimises error + bitCost x
  // bits; 0 gives the smallest error the codec can reach at any size.
  double bitCost = 4.0;
};

struct EncodedSamples {
  std::vector<uint8_t> stream;  // the whole stream: block count and groups, no padding
  uint32_t blocks = 0;
  uint32_t groups = 0;
  uint64_t decodedCount = 0;    // samples it decodes to, at least the signal's length
};

// Blocks needed for `count` samples: the fewest n with 32 n - 480 >= count (0 for none).
uint32_t blocks_for_samples(size_t count);

// Codes one continuous signal (the whole sample area of a tune). The decoded samples line up
// with the signal; the decoder's tail beyond it decodes from silence.
EncodedSamples encode_samples(std::span<const int8_t> signal, const SampleEncoderSettings& settings = {});

using SubbandRow = std::array<double, SubbandCount>;

// The value the encoder aims the decoder's sums at for one sample: the decoder truncates
// toward zero, so half a step away from zero makes truncation land on the sample.
double decoder_target(int8_t sample);

// Subband values of `blocks` blocks for the decoder targets in `target`, which lines up
// with the decoded samples (target[i] is aimed at decoded sample i); values outside it are
// taken as 0.
std::vector<SubbandRow> analyse_samples(std::span<const double> target, uint32_t blocks);

// One subband of one group after quantisation: its class (mask bits A, B, C), the codes,
// and the subband-domain squared error.
struct QuantisedSubband {
  bool a = false, b = false, c = false;
  int bits = 0;
  int exponent = 0;
  uint8_t codes[GroupBlocks] = {};
  double error = 0.0;
};

// The class for values[0..count-1] with the least 32 x error + bitCost x stream bits.
QuantisedSubband choose_subband_class(const double* values, int count, double bitCost);
