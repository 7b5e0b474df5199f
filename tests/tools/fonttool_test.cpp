// fontrender and fonttool as an artist uses them: make a strip, look at it, try a label.
// (Bad arguments: tools/cli_test.cpp.)
#include <algorithm>
#include <filesystem>
#include <string>

#include "support/tool_run.h"
#include "tools/common/png_io.h"

namespace {

using FontTools = ToolTest;
const std::string Strip = std::string(MD_SOURCE_DIR) + "/assets/font/font_strip.png";

}  // namespace

TEST_F(FontTools, RenderMakesAStripTheBuildAccepts) {
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  if (!std::filesystem::exists(font)) GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
  const ToolRun r = run(std::string(FONTRENDER_EXE) + " " + font + " --size 26 -o strip.png");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("codes 32 to 238"), std::string::npos) << r.out;
  const ToolRun embed = run(std::string(EMBED_EXE) + " font strip.cpp strip.png 238");
  EXPECT_EQ(embed.status, 0) << embed.err;
}

// The contact sheet holds every glyph, 16 to a row; a text is drawn at the size of what it
// stands for: a menu label, a menu bar, a scroller line.
TEST_F(FontTools, SheetAndTexts) {
  ToolRun r = run(std::string(FONTTOOL_EXE) + " sheet " + Strip + " --scale 1 -o sheet.png");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("208 glyphs (codes 32 to 239)"), std::string::npos) << r.out;
  RgbImage image;
  std::string error;
  ASSERT_TRUE(read_png(path("sheet.png"), image, error)) << error;
  EXPECT_EQ(image.height, 13 * 48);
  const struct {
    std::string args;
    int width, height;  // width 0: as long as the text
  } cases[] = {
      {"'Tune 1 - MD Team'", 400, 51},
      {"'Caf# Cr#me' --bar link", 400, 50},
      {"'café crème' --scroller", 0, 37},
  };
  for (const auto& c : cases) {
    r = run(std::string(FONTTOOL_EXE) + " text " + Strip + " " + c.args + " -o text.png");
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    ASSERT_TRUE(read_png(path("text.png"), image, error)) << error;
    if (c.width > 0) {
      EXPECT_EQ(image.width, c.width) << c.args;
    }
    EXPECT_EQ(image.height, c.height) << c.args;
    EXPECT_GT(std::count_if(image.pixels.begin(), image.pixels.end(), [](uint32_t p) { return p != 0; }), 100)
        << c.args << ": the text is drawn";
  }
}
