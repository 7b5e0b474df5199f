// Logo swing: the 128-row logo band (frame rows 8-135), its visible window sliding across
// the 640-pixel picture with a sine of the show time. It writes every pixel of its rows, so
// it also clears them for the raster bars added on top.
#pragma once
#include <cstdint>

constexpr int32_t LogoBandFirstRow = 8;

// The picture column shown at the left edge (negative: that many black columns first).
int32_t logo_offset(float t);

void draw_logo_swing(float t);
