// Perspective plane: the turning checkerboard floor over frame rows 128 to the bottom,
// fading to black toward the horizon.
#pragma once
#include <cstdint>

// Two colours per frame row: entry 2i is colour A of plane row i, 2i + 1 colour B.
// height x 2 entries, allocated once at start-up.
extern uint32_t* PlaneColours;

constexpr int32_t PlaneFirstRow = 128;

// The level of plane row i: min((341 x i) >> 6, 255).
constexpr int32_t plane_level(int32_t i) {
  int32_t l = (341 * i) >> 6;
  return l < 255 ? l : 255;
}

// Allocates and fills PlaneColours for the recorded frame height.
void build_plane_colours();

// Fills frame rows 128 to the bottom of `target` (the frame buffer's pixels). near_far_a is
// the depth of the horizon row, near_far_b the depth just below the last row, angle turns
// the floor (x 0.01 radians), camera_u and camera_v move it along U and V.
void draw_plane(uint32_t* target, float near_far_a, float near_far_b, float angle, float camera_u,
                float camera_v);
