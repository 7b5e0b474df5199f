// A frame buffer of the show's size in plain memory, for the effect tests.
#pragma once
#include <vector>

#include "render/framebuffer.h"

struct FrameFixture {
  std::vector<uint32_t> pixels;
  explicit FrameFixture(int32_t width = 400, int32_t height = 300) {
    set_frame_size(width, height);
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    Framebuffer.pixels = pixels.data();
  }
  ~FrameFixture() { Framebuffer.pixels = nullptr; }
  void fill(uint32_t colour) { pixels.assign(pixels.size(), colour); }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * 400 + static_cast<size_t>(x)]; }
};

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }
