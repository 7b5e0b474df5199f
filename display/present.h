// Presenting the 32-bit frame: nearest-neighbour scaling in 12.20 fixed point and
// conversion into the display's pixel format, then a blit (windowed) or a flip.
#pragma once
#include <cstdint>

#include "platform/display_device.h"
#include "render/framebuffer.h"

struct Scaling {
  int32_t width, height;  // destination size in pixels
  int32_t step_x, step_y; // 12.20 source pixels per destination pixel
};

// Destination size and steps for the current mode; false when either size is below 2.
bool compute_scaling(Scaling* scaling);

using RowConverter = void (*)(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step);
void convert_row_32(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step);
void convert_row_24(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step);
void convert_row_565(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step);
void convert_row_555(uint8_t* dest, const uint32_t* source, int32_t count, int32_t step);

// Scales and converts the whole frame into the locked surface at `dest` by DisplayDepth.
void convert_frame(uint8_t* dest, const FramebufferRecord& frame, int32_t pitch);

// The converter and scaling work on memory alone, so they are testable without a display:
// converts `frame` into a destination of the given size and depth.
void convert_frame_to(uint8_t* dest, const FramebufferRecord& frame, int32_t pitch, int32_t depth,
                      const Scaling& scaling);

bool lock_back_surface(SurfaceLock* lock);
void unlock_back_surface();
void show_back_surface();
void present_frame(const FramebufferRecord& frame);
