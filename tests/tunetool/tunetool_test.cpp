// tunetool end to end: exit codes, messages, no partial outputs, and the WAV it renders.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../player/xm_writer.h"
#include "player/module.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string output;
};

ToolRun tunetool(const std::string& args) {
  std::string command = std::string(TUNETOOL) + " " + args + " 2>&1";
  ToolRun run{0, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::vector<uint8_t> read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write(const fs::path& path, const std::vector<uint8_t>& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

class Tunetool : public ::testing::Test {
 protected:
  fs::path dir = fs::path(MD_BINARY_DIR) / "tunetool_test";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
    xm::Song s;
    s.channels = 2;
    s.speed = 3;
    xm::Pattern p;
    p.rows = 4;
    p.cells = {{49, 1, 0x50, 0, 0}, {61, 1, 0, 0, 0}};
    s.patterns = {p};
    xm::Instrument i;
    xm::Sample loud;
    for (int k = 0; k < 100; ++k) loud.data.push_back(k % 2 ? 127 : -128);
    loud.loopType = 1;
    loud.loopLength = 100;
    i.samples = {loud};
    s.instruments = {i};
    write(dir / "song.xm", xm::write(s));
  }
  std::string path(const char* name) { return (dir / name).string(); }
};

TEST_F(Tunetool, ImportInfoValidateRender) {
  ToolRun r = tunetool("import " + path("song.xm") + " -o " + path("song.img"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<uint8_t> image = read(dir / "song.img");
  EXPECT_EQ(validate_module_image(image.data(), image.size()), ImageCheck::Ok);

  r = tunetool("info " + path("song.img"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("channels:         2"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("frequency table:  linear"), std::string::npos);
  EXPECT_NE(r.output.find("samples:          1"), std::string::npos);
  EXPECT_EQ(tunetool("validate " + path("song.img")).status, 0);

  r = tunetool("render " + path("song.xm") + " --seconds 0.5 -o " + path("song.wav"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<uint8_t> wav = read(dir / "song.wav");
  ASSERT_EQ(wav.size(), 44u + 22050 * 4);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(load_u32(wav.data() + 24), 44100u);
  EXPECT_EQ(load_u16(wav.data() + 22), 2);
  EXPECT_EQ(load_u16(wav.data() + 34), 16);
  int peak = 0;
  for (size_t at = 44; at < wav.size(); at += 2) peak = std::max(peak, std::abs(static_cast<int16_t>(load_u16(wav.data() + at))));
  EXPECT_GT(peak, 10000);
  EXPECT_LE(peak, 32500);

  // Without --seconds: one pass of the 4-row song at speed 3 and tempo 125 (12 ticks).
  r = tunetool("render " + path("song.img") + " -o " + path("once.wav"));
  ASSERT_EQ(r.status, 0) << r.output;
  size_t frames = (read(dir / "once.wav").size() - 44) / 4;
  EXPECT_NEAR(static_cast<double>(frames), 12 * 882, 256);
}

TEST_F(Tunetool, FailuresAreNamedAndLeaveNoOutput) {
  std::vector<uint8_t> file = read(dir / "song.xm");
  file.resize(60 + 276 + 4);  // ends inside the first pattern header
  write(dir / "short.xm", file);
  ToolRun r = tunetool("import " + path("short.xm") + " -o " + path("short.img"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("short.xm: pattern 0: header past the end of the file"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "short.img"));
  EXPECT_FALSE(fs::exists(dir / "short.img.part"));

  write(dir / "bad.img", std::vector<uint8_t>(100, 7));
  r = tunetool("validate " + path("bad.img"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("not a module image"), std::string::npos) << r.output;

  EXPECT_EQ(tunetool("render " + path("song.xm")).status, 1);
  EXPECT_EQ(tunetool("render " + path("song.xm") + " --seconds x -o " + path("x.wav")).status, 1);
  EXPECT_EQ(tunetool("frobnicate " + path("song.xm")).status, 1);
  EXPECT_EQ(tunetool("info " + path("missing.img")).status, 1);
  EXPECT_EQ(tunetool("--help").status, 0);
  EXPECT_FALSE(fs::exists(dir / "x.wav"));
}

}  // namespace
