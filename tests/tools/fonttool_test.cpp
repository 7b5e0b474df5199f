// fontrender and fonttool as an artist uses them: make a strip, look at it, try a label.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/common/png_io.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int code;
  std::string output;
};

ToolRun run(const std::string& command) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  ToolRun r{-1, {}};
  if (p == nullptr) return r;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr) r.output += buffer;
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

const std::string Strip = std::string(MD_SOURCE_DIR) + "/assets/font/font_strip.png";

fs::path scratch(const std::string& name) {
  return fs::temp_directory_path() / ("md_fonttool_" + std::to_string(getpid()) + "_" + name);
}

}  // namespace

TEST(FontRender, MakesAStripTheBuildAccepts) {
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  if (!fs::exists(font)) GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
  const fs::path out = scratch("strip.png");
  const ToolRun r = run(std::string(FONTRENDER_EXE) + " " + font + " --size 26 -o " + out.string());
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("codes 32 to 238"), std::string::npos) << r.output;
  RgbImage image;
  std::string error;
  ASSERT_TRUE(read_png(out.string(), image, error)) << error;
  EXPECT_EQ(image.height, 52);
  const ToolRun embed = run(std::string(EMBED_EXE) + " font " + scratch("strip.cpp").string() + " " + out.string() + " 238");
  EXPECT_EQ(embed.code, 0) << embed.output;
  fs::remove(out);
  fs::remove(scratch("strip.cpp"));
  const ToolRun bad = run(std::string(FONTRENDER_EXE) + " /nonexistent.ttf -o " + out.string());
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.output.find("/nonexistent.ttf: not a font FreeType can read"), std::string::npos) << bad.output;
  EXPECT_FALSE(fs::exists(out));
}

TEST(FontTool, ContactSheetAndTexts) {
  const fs::path sheet = scratch("sheet.png"), text = scratch("text.png");
  ToolRun r = run(std::string(FONTTOOL_EXE) + " sheet " + Strip + " --scale 1 -o " + sheet.string());
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("208 glyphs (codes 32 to 239)"), std::string::npos) << r.output;
  RgbImage image;
  std::string error;
  ASSERT_TRUE(read_png(sheet.string(), image, error)) << error;
  EXPECT_EQ(image.height, 13 * 48);  // 208 glyphs, 16 to a row

  struct Case {
    std::string args;
    int code;
    std::string output;
    int width, height;
  };
  const Case cases[] = {
      {"'Tune 1 - MD Team'", 0, "400 x 51, the text measures", 400, 51},
      {"'Caf# Cr#me' --bar link", 0, "400 x 50", 400, 50},
      {"'café crème' --scroller", 0, "x 37", 0, 37},
      {"'WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW'", 1, "more than the row's 400", 0, 0},
      {"'x' --bar tuna", 2, "--bar takes tune or link", 0, 0},
      {"'x' --frobnicate", 2, "unknown option '--frobnicate'", 0, 0},
  };
  for (const Case& c : cases) {
    fs::remove(text);
    r = run(std::string(FONTTOOL_EXE) + " text " + Strip + " " + c.args + " -o " + text.string());
    EXPECT_EQ(r.code, c.code) << c.args << ": " << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << c.args << ": " << r.output;
    if (c.code == 0) {
      ASSERT_TRUE(read_png(text.string(), image, error)) << error;
      if (c.width > 0) {
        EXPECT_EQ(image.width, c.width) << c.args;
      }
      EXPECT_EQ(image.height, c.height) << c.args;
      int lit = 0;
      for (uint32_t p : image.pixels) lit += p != 0 ? 1 : 0;
      EXPECT_GT(lit, 100) << c.args << ": the text is drawn";
    } else {
      EXPECT_FALSE(fs::exists(text)) << c.args;
    }
  }
  fs::remove(sheet);
  fs::remove(text);
}
