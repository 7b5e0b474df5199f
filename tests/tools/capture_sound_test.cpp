#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<int16_t> read_wav(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples;
  if (bytes.size() < 44) return samples;
  samples.resize((bytes.size() - 44) / 2);
  std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
  return samples;
}

// Root-mean-square level of frames [from, to), both channels.
double rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = 2 * from; i < 2 * to && i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(2 * (to - from)));
}

size_t first_sound(const std::vector<int16_t>& s, size_t from_frame) {
  for (size_t i = 2 * from_frame; i < s.size(); ++i)
    if (s[i] != 0) return i / 2;
  return s.size() / 2;
}

}  // namespace

// Ten seconds of show with a tune switch at 5 s: sound starts one buffer length (16384
// frames, 371.5 ms) after the show and after the switch.
TEST(CaptureSound, LatencyOfTheFirstSoundAndOfATuneSwitch) {
  const fs::path wav = fs::temp_directory_path() / ("md_capture_" + std::to_string(getpid()) + ".wav");
  const std::string command = std::string(CAPTURE_EXE) + " --seconds 10 --keys 5.0:right --wav " + wav.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<int16_t> s = read_wav(wav);
  fs::remove(wav);
  ASSERT_EQ(s.size(), 2u * 441000);

  const size_t start = first_sound(s, 0);
  EXPECT_NEAR(static_cast<double>(start), 16384.0, 8.0) << "first sound at frame " << start;
  EXPECT_GT(rms(s, 44100, 5 * 44100), 300.0) << "tune 1 is heard";

  // The key reaches the show in the frame at 5.0 s: the old stream stops there, the new
  // tune is heard one buffer length later.
  const size_t key = 5 * 44100;
  EXPECT_LT(rms(s, key + 441, key + 16000), 1.0) << "silence while the new buffer comes round";
  const size_t switched = first_sound(s, key + 441);
  EXPECT_NEAR(static_cast<double>(switched - key), 16384.0, 8.0);
  EXPECT_GT(rms(s, switched, switched + 2 * 44100), 300.0) << "tune 2 is heard";
}
