// Subband sample codec: turns one compressed stream (the whole sample area of a tune) into
// signed 8-bit samples.
//
// Stream: u32 block count n (little-endian), then ceil(n / 16) groups; every group covers 16
// blocks except the last, which covers the rest. A group is three u32 masks A, B, C (bit m
// belongs to subband m) and then the data of subbands 0..31, each c values of g bits packed
// from the top bit of a fresh byte. The stream decodes to 32 x n - 480 samples.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int SubbandCount = 32;          // subbands, and samples per block
constexpr int GroupBlocks = 16;           // blocks per full group
constexpr int SynthesisTaps = 512;        // window length and accumulator size
constexpr int DiscardedSamples = 480;     // the first 15 blocks' output, sums of fewer than 16 blocks
constexpr size_t GroupHeaderBytes = 12;   // masks A, B and C

// The codec's working record. All values double precision.
struct alignas(32) SampleDecoder {
  double window[SynthesisTaps];
  double matrix[SubbandCount][2 * SubbandCount];  // [subband m][column j]
  double accumulator[SynthesisTaps];
  double blockRows[GroupBlocks][SubbandCount];    // [block within group][subband]
  // decode_samples' own state. The accumulator as a ring of sixteen 32-value chunks, so the
  // shift after each block is a change of offset: value p at ring[(p + ringOffset) % 512].
  double ring[SynthesisTaps];
  uint32_t ringOffset;
  // The current group's coded subbands, ascending, and their values per block.
  int coded[SubbandCount];
  int codedCount;
  double codedRows[GroupBlocks][SubbandCount];  // [block within group][index into coded]
};

// The one decoder of the program; one decode at a time.
extern SampleDecoder TheSampleDecoder;

// The class a subband's three mask bits select: `bits` per value (0: the subband is silent,
// every value 0.0) and the exponent of its step.
struct SubbandClass {
  int bits;
  int exponent;
};
SubbandClass subband_class(bool a, bool b, bool c);

// The value a g-bit code stands for: (t + 0.5) x 2^e, t the code read as two's complement.
double dequantise(uint32_t code, int bits, int exponent);

// One output sample from an accumulator value: truncated toward zero, limited to -128..127.
int8_t accumulator_to_sample(double value);

// Samples a stream of `blocks` blocks decodes to: 32 x blocks - 480, or 0 for 15 blocks or
// fewer.
uint64_t decoded_sample_count(uint32_t blocks);

// Fills window and matrix from the eight stored window coefficients and zeroes the
// accumulator.
void build_synthesis_tables(SampleDecoder& decoder);

// Reads the group at `group` that covers `blocks` blocks (1..16) into block rows
// 0..blocks-1; returns the bytes the group occupies (12 plus its subband data).
size_t read_group(SampleDecoder& decoder, const uint8_t* group, int blocks);

// Adds block row `row` into the accumulator.
void synthesise_block(SampleDecoder& decoder, int row);

// Decodes a whole stream and writes 32 x n - 480 samples to `destination`, which must have
// room for them; nothing before or after them is written, and nothing at all for 15 blocks
// or fewer. The stream is trusted: its block count alone decides how much is read.
// The samples are those of the steps below done one block at a time (decode_samples_plain);
// this one skips silent subbands and blocks, keeps the accumulator as a ring and builds its
// tables once per process, with the same bits out. It uses only the ring and coded fields.
void decode_samples(SampleDecoder& decoder, const uint8_t* stream, int8_t* destination);

// decode_samples as written out step by step through `decoder`: build_synthesis_tables,
// read_group, synthesise_block, 32 samples out, the accumulator shifted. The reference the
// fast decode is held against.
void decode_samples_plain(SampleDecoder& decoder, const uint8_t* stream, int8_t* destination);

// What a stream holds, found by walking its group headers without decoding.
enum class SampleStreamError {
  None,
  NoBlockCount,  // fewer than 4 bytes
  Truncated,     // a group runs past the end of the bytes given
};
struct SampleStreamInfo {
  SampleStreamError error;
  uint32_t blocks;
  uint32_t groups;
  size_t streamBytes;     // up to the end of the last group
  uint64_t decodedCount;  // samples it decodes to
};
SampleStreamInfo measure_sample_stream(const uint8_t* stream, size_t size);

// decode_samples for streams that are not trusted (the tools, the fuzzer): decodes only when
// every group lies within `size` bytes and the samples fit `capacity`; otherwise writes
// nothing and returns false.
bool decode_samples_checked(SampleDecoder& decoder, const uint8_t* stream, size_t size,
                            int8_t* destination, size_t capacity);
