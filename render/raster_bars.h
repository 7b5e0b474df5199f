// Raster bars: sixteen bars of eight rows added over the logo band (frame rows 8-135),
// their brightness read from a ramp that slides with a sine of the show time.
#pragma once
#include <array>
#include <cstdint>

// 33 brightness levels, symmetric about index 16.
constexpr std::array<uint8_t, 33> BarRamp = {0,   0,   8,   20,  30,  37,  45,  53,  73,  85,  97,
                                             110, 125, 146, 178, 214, 242, 214, 178, 146, 125, 110,
                                             97,  85,  73,  53,  45,  37,  30,  20,  8,   0,   0};

struct BarTint {
  int32_t red, green, blue;
};

// Bar i: red 187 - 7i, green 120 + 4.1875 i and blue 174 + 3.625 i, both truncated
// (16.16 steps 0x43000 and 0x3a000).
constexpr BarTint bar_tint(int32_t i) {
  return {187 - 7 * i, (120 * 65536 + i * 0x43000) >> 16, (174 * 65536 + i * 0x3a000) >> 16};
}

constexpr int32_t RasterBarCount = 16;
constexpr int32_t RasterBarRows = 8;
constexpr int32_t RasterBarFirstRow = 8;

// The prepared colour of row j of bar i when the ramp stands at whole step s and 16-bit
// fraction f.
uint32_t raster_bar_colour(int32_t s, int32_t f, int32_t i, int32_t j);

// Adds the bars to the frame buffer for show time t.
void draw_raster_bars(float t);
