// The frame buffer, its pixel format and the colour arithmetic every effect shares.
//
// Pixels are 32-bit words 0x00RRGGBB, row-major, rows back to back. The top byte carries no
// meaning (saturating_add may leave bit 24 set). A colour whose three channels have their
// lowest bit clear is "prepared"; saturating_add is exact only for prepared operands.
#pragma once
#include <cstdint>

struct FramebufferRecord {
  int32_t width;        // pixels per row
  int32_t height;       // rows
  int32_t pixel_count;  // width x height
  int32_t byte_size;    // width x height x 4
  uint32_t* pixels;     // pixel (x, y) is pixels[y * width + x]
};

// The one frame buffer. The display set-up records the size; graphics preparation
// allocates and clears the pixels.
extern FramebufferRecord Framebuffer;

// Records the four size values of a width x height frame (pixels untouched).
void set_frame_size(int32_t width, int32_t height);

constexpr uint32_t PreparedMask = 0xfefefe;

// a + b per channel, saturating at 255. A channel that passed 255 also leaves a 1 in the
// lowest bit of the channel above it (bit 24 for red).
constexpr uint32_t saturating_add(uint32_t a, uint32_t b) {
  uint32_t s = a + b;
  uint32_t c = s & 0x1010100u;
  return s | (c - (c >> 8));
}

// Four pixels side by side (SSE2 natively, WebAssembly's 128-bit vectors in the browser),
// for the loops that compilers do not vectorise well by themselves. Shifts of a lane are
// logical; of PixelLanesSigned, arithmetic.
using PixelLanes = uint32_t __attribute__((vector_size(16)));
using PixelLanesSigned = int32_t __attribute__((vector_size(16)));

// Adds `colour` (already prepared) to `count` pixels from `run` with saturation; the pixels
// are taken as they are. `count` must be even and positive.
void add_colour_to_run(uint32_t* run, int32_t count, uint32_t colour);

constexpr uint32_t half_brightness(uint32_t p) { return (p >> 1) & 0x7e7e7e; }
constexpr uint32_t quarter_brightness(uint32_t p) { return (p >> 2) & 0x3e3e3e; }

// Per channel (a x b) >> 8, packed 0x00RRGGBB.
constexpr uint32_t modulate_colour(uint32_t a, uint32_t b) {
  uint32_t r = (((a >> 16) & 0xff) * ((b >> 16) & 0xff)) >> 8;
  uint32_t g = (((a >> 8) & 0xff) * ((b >> 8) & 0xff)) >> 8;
  uint32_t bl = ((a & 0xff) * (b & 0xff)) >> 8;
  return (r << 16) | (g << 8) | bl;
}

// The particles' random generator: state x 214013 + 2531011, result (state >> 16) & 0x7fff.
// The state starts at 1 on every run.
extern uint32_t RandomState;
void reset_random();
int32_t lcg_next();
// lcg_next() x x / 32768 in double precision: a real in [0, x).
double random_below(float x);

// Truncates toward zero and keeps the low 32 bits of the 64-bit result, so values beyond
// the 32-bit range wrap instead of saturating. Values beyond the 64-bit range (and NaN)
// give 0, the low bits of the machine's "integer indefinite".
int32_t float_to_int(double v);

// The smallest integer not below v, with v taken to 1/65536:
// (65535 - float_to_int(-65536 x v)) >> 16, arithmetic shift.
int32_t ceil_fixed(double v);
