// The disk folder the disk maker's tests make disks from: two small tunes, a green logo, a
// text and two links, written here.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/common/png_io.h"
#include "tools/xm_import/xm_tunes.h"

namespace disk_files {

namespace fs = std::filesystem;

inline void write_file(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline void write_bytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void write_picture(const fs::path& path, int32_t width, int32_t height, uint32_t colour) {
  RgbImage image{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * static_cast<size_t>(height), colour)};
  std::string error;
  ASSERT_TRUE(write_png(path.string(), image, error)) << error;
}

// The folder every case starts from.
inline void write_good_folder(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir / "tunes");
  XmModule tune = xm::busy_module();
  tune.name = "Alpha Tune";
  tune.bpm = 140;
  write_bytes(dir / "tunes" / "a.xm", write_xm(tune));
  tune.name = "Beta Tune";
  tune.bpm = 90;
  write_bytes(dir / "tunes" / "b.xm", write_xm(tune));
  write_picture(dir / "logo.png", 640, 128, 0x00C800);
  write_picture(dir / "sprite.png", 32, 32, 0xC8C800);
  write_file(dir / "text.txt", "HELLO FROM THE TEST DISK\n");
  write_file(dir / "links.txt", "First Link  https://example.org/\nSecond https://example.com/a\n");
}

// Pixels of rows [top, bottom) of a frame `width` wide that are clearly green.
inline int green_pixels(const std::vector<uint32_t>& pixels, int width, int top, int bottom) {
  int n = 0;
  for (size_t i = static_cast<size_t>(top * width); i < static_cast<size_t>(bottom * width); ++i) {
    const int r = (pixels[i] >> 16) & 0xFF, g = (pixels[i] >> 8) & 0xFF, b = pixels[i] & 0xFF;
    n += g > r + 60 && g > b + 60;
  }
  return n;
}

// The 16-bit samples of a WAV file as tunetool writes it (a 44-byte header).
inline std::vector<int16_t> wav_samples(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<int16_t> s(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
  if (!s.empty()) std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
  return s;
}

}  // namespace disk_files
