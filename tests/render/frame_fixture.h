// A frame buffer of the show's size in plain memory, for the effect tests.
#pragma once
#include <vector>

#include "render/framebuffer.h"

struct FrameFixture {
  std::vector<uint32_t> pixels;
  int32_t width;
  explicit FrameFixture(int32_t frame_width = 400, int32_t frame_height = 300) : width(frame_width) {
    set_frame_size(frame_width, frame_height);
    pixels.assign(static_cast<size_t>(frame_width) * static_cast<size_t>(frame_height), 0);
    Framebuffer.pixels = pixels.data();
  }
  ~FrameFixture() { Framebuffer.pixels = nullptr; }
  void fill(uint32_t colour) { pixels.assign(pixels.size(), colour); }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }
