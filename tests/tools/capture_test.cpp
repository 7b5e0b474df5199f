#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/common/png_io.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int code;
  std::string output;
};

Result run_capture(const std::string& args) {
  std::string command = std::string(CAPTURE_EXE) + " " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  Result r{-1, {}};
  if (p == nullptr) return r;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr) r.output += buffer;
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

fs::path scratch(const char* name) {
  fs::path dir = fs::temp_directory_path() / (std::string("md_capture_") + name + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  return dir;
}

}  // namespace

TEST(Capture, WritesMovingFramesOfTheShow) {
  fs::path dir = scratch("frames");
  Result r = run_capture("--seconds 2 --png-every 25 --out " + dir.string());
  ASSERT_EQ(r.code, 0) << r.output;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 5u);  // frames 0, 25, 50, 75, 100 at 50 per second
  EXPECT_EQ(files[2].filename(), "frame_00050_0001000ms.png");
  std::vector<RgbImage> images(files.size());
  std::string error;
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(read_png(files[i].string(), images[i], error)) << error;
    EXPECT_EQ(images[i].width, 400);
    EXPECT_EQ(images[i].height, 300);
  }
  // The bars and the plane are there: the raster colour of bar 8 at t = 0 and the floor's
  // full-level colours near the bottom.
  EXPECT_EQ(images[0].pixels[72 * 400], 0x7a90beu);
  uint32_t bottom = images[0].pixels[299 * 400 + 10];
  EXPECT_TRUE(bottom == 0x3f4f6fu || bottom == 0x2f3f5fu);
  // And they move: each written frame differs from the one before in the bar band and the floor.
  for (size_t i = 1; i < images.size(); ++i) {
    auto band_differs = [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < 400; ++x)
          if (images[i].pixels[y * 400 + x] != images[i - 1].pixels[y * 400 + x]) return true;
      return false;
    };
    EXPECT_TRUE(band_differs(8, 128)) << i;
    EXPECT_TRUE(band_differs(140, 300)) << i;
  }
  fs::remove_all(dir);
}

TEST(Capture, FramesAtGivenTimesAndScriptedKeys) {
  fs::path dir = scratch("at");
  Result r = run_capture("--seconds 1 --fps 20 --at 0.5,0.52,2 --keys 0.2:left,0.3:up:hold --out " + dir.string());
  ASSERT_EQ(r.code, 0) << r.output;
  // 0.5 and 0.52 fall on the frames at 500 and 550 ms; 2 s lies past the end.
  EXPECT_TRUE(fs::exists(dir / "frame_00010_0000500ms.png"));
  EXPECT_TRUE(fs::exists(dir / "frame_00011_0000550ms.png"));
  EXPECT_NE(r.output.find("21 frames presented, 2 written"), std::string::npos) << r.output;
  fs::remove_all(dir);
}

TEST(Capture, BadArgumentsAreRefusedClearly) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"--seconds", "--seconds needs a value"},
      {"--seconds abc", "bad --seconds 'abc'"},
      {"--seconds -1", "--seconds must be above 0"},
      {"--png-every 0 --out /tmp/x", "--png-every must be a whole number"},
      {"--png-every 5", "need --out DIR"},
      {"--keys 1:jump", "unknown key 'jump'"},
      {"--keys 1", "bad key '1'"},
      {"--frobnicate", "unknown option '--frobnicate'"},
  };
  for (const Case& c : cases) {
    Result r = run_capture(c.args);
    EXPECT_EQ(r.code, 2) << c.args;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << ": " << r.output;
  }
  Result help = run_capture("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.output.find("usage: musicdisk-capture"), std::string::npos);
}
