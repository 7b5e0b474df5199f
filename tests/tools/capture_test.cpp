// The show without a display: its frames, and its sound with scripted keys. (Frames at given
// times: tools/make/make_test.cpp; bad arguments and the video: tools/cli_test.cpp.)
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/common/png_io.h"

namespace {

namespace fs = std::filesystem;
using Capture = ToolTest;
const std::string Exe = std::string(CAPTURE_EXE) + " ";

// Root-mean-square level of stereo frames [from, to).
double rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = 2 * from; i < 2 * to && i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(2 * (to - from)));
}

}  // namespace

TEST_F(Capture, WritesMovingFramesOfTheShow) {
  const ToolRun r = run(Exe + "--seconds 2 --png-every 25 --out frames");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir / "frames")) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 5u);  // frames 0, 25, 50, 75, 100 at 50 per second
  std::vector<RgbImage> images(files.size());
  std::string error;
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(read_png(files[i].string(), images[i], error)) << error;
    EXPECT_EQ(images[i].width * 1000 + images[i].height, 400300);
  }
  EXPECT_EQ(images[0].pixels[72 * 400], 0x7a90beu) << "the raster colour of bar 8 at 0 s";
  // Each written frame differs from the one before in the bar band and on the floor.
  for (size_t i = 1; i < images.size(); ++i)
    for (const auto& [y0, y1] : {std::pair{8, 128}, std::pair{140, 300}})
      EXPECT_FALSE(std::equal(images[i].pixels.begin() + y0 * 400, images[i].pixels.begin() + y1 * 400,
                              images[i - 1].pixels.begin() + y0 * 400))
          << i << ": rows " << y0 << " to " << y1;
}

// A tune switch at 5 s: the key reaches the show in the frame at 5.0 s, the old stream stops
// there, and the new tune is heard one buffer length (16384 frames, 371.5 ms) later.
TEST_F(Capture, ATuneSwitchIsHeardOneBufferLater) {
  ASSERT_EQ(run(Exe + "--seconds 10 --keys 5.0:right --wav show.wav").status, 0);
  const std::string wav = slurp(path("show.wav"));
  std::vector<int16_t> s((wav.size() - 44) / 2);
  std::memcpy(s.data(), wav.data() + 44, s.size() * 2);
  ASSERT_EQ(s.size(), 2u * 441000);
  const size_t key = 5 * 44100;
  EXPECT_LT(rms(s, key + 441, key + 16000), 1.0) << "silence while the new buffer comes round";
  size_t switched = key + 441;
  while (switched < s.size() / 2 && s[2 * switched] == 0 && s[2 * switched + 1] == 0) ++switched;
  EXPECT_NEAR(static_cast<double>(switched - key), 16384.0, 8.0);
  EXPECT_GT(rms(s, switched, switched + 2 * 44100), 300.0) << "tune 2 is heard";
}
