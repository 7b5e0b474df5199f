// The build steps that turn the editable font strip and scroll text into embedded data:
// the strip's rules, and the text's conversion to code page 437.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/font/cp437.h"
#include "tools/font/strip_png.h"

namespace fs = std::filesystem;

namespace {

// A strip of `glyphs` glyphs for codes 32 on, each 3 columns of level 7 in rows 1 to 38,
// two empty columns apart, ending in two empty columns.
StripLevels good_strip(int glyphs) {
  StripLevels s;
  s.width = glyphs * 5;
  s.height = 52;
  s.levels.assign(static_cast<size_t>(s.width) * 52, 0);
  for (int g = 0; g < glyphs; ++g)
    for (int x = 0; x < 3; ++x)
      for (int y = 1; y <= 38; ++y) s.levels[static_cast<size_t>(y) * static_cast<size_t>(s.width) + static_cast<size_t>(g * 5 + x)] = 7;
  return s;
}

void set(StripLevels& s, int x, int y, uint8_t level) {
  s.levels[static_cast<size_t>(y) * static_cast<size_t>(s.width) + static_cast<size_t>(x)] = level;
}

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

fs::path scratch(const std::string& name) {
  return fs::temp_directory_path() / ("md_font_" + std::to_string(getpid()) + "_" + name);
}

}  // namespace

TEST(FontStripRules, BrokenRulesAreRefusedNamingTheGlyph) {
  struct Case {
    const char* what;
    StripLevels strip;
    int last_code;
    const char* message;  // "" when the strip is good
  };
  StripLevels tall = good_strip(10);
  tall.height = 53;
  tall.levels.resize(static_cast<size_t>(tall.width) * 53);
  StripLevels row0 = good_strip(10);
  set(row0, 5 * 4 + 1, 0, 3);  // glyph 4: code 36
  StripLevels row39 = good_strip(10);
  set(row39, 5 * 9, 39, 1);  // glyph 9: code 41
  StripLevels split = good_strip(10);
  for (int y = 1; y <= 38; ++y) set(split, 5 * 2 + 1, y, 0);  // an empty column inside glyph 2
  StripLevels wide;
  {
    // Glyph 3 made 70 columns wide.
    StripLevels w;
    w.height = 52;
    w.width = 5 * 10 + 67;
    w.levels.assign(static_cast<size_t>(w.width) * 52, 0);
    int x0 = 0;
    for (int g = 0; g < 10; ++g) {
      const int width = g == 3 ? 70 : 3;
      for (int x = 0; x < width; ++x)
        for (int y = 1; y <= 38; ++y) set(w, x0 + x, y, 5);
      x0 += width + 2;
    }
    wide = w;
  }
  const Case cases[] = {
      {"a good strip", good_strip(207), 238, ""},
      {"wrong height", tall, 41, "the strip is 53 rows high; it must be 52"},
      {"a pixel in row 0", row0, 41, "glyph for code 36 '$' (columns 20-22): a pixel in row 0 (column 21); glyph pixels must lie in rows 1 to 38"},
      {"a pixel in row 39", row39, 41, "glyph for code 41 ')' (columns 45-47): a pixel in row 39"},
      {"a glyph split by one empty column", split, 41, "glyph for code 34 '\"' (columns 10-10) is split by the empty column 11"},
      {"a glyph wider than 64", wide, 41, "glyph for code 35 '#' (columns 15-84) is 70 pixels wide; at most 64"},
      {"more than 256 glyphs", good_strip(257), 288, "the strip holds 258 glyphs (the empty end counts as one); at most 256"},
      {"a glyph missing", good_strip(206), 238, "the strip holds 206 glyphs, codes 32 to 237; the show needs codes 32 to 238"},
  };
  for (const Case& c : cases) {
    std::string error;
    const bool ok = check_strip(c.strip, c.last_code, error);
    if (c.message[0] == '\0') {
      EXPECT_TRUE(ok) << c.what << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.what;
      EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
  }
}

TEST(FontStripRules, GreyLevelsRoundTripThroughThePicture) {
  for (uint32_t level = 0; level < 16; ++level) EXPECT_EQ(grey_to_level(level_to_grey(level)), level);
  EXPECT_EQ(grey_to_level(8), 0);    // nearer 0 than 17
  EXPECT_EQ(grey_to_level(9), 1);
  EXPECT_EQ(grey_to_level(250), 15);
  StripLevels s = good_strip(12);
  set(s, 1, 5, 1);
  set(s, 2, 6, 15);
  const fs::path png = scratch("roundtrip.png");
  std::string error;
  ASSERT_TRUE(write_strip_png(png.string(), s, error)) << error;
  StripLevels back;
  ASSERT_TRUE(read_strip_png(png.string(), back, error)) << error;
  EXPECT_EQ(back.width, s.width);
  EXPECT_EQ(back.height, 52);
  EXPECT_EQ(back.levels, s.levels);
  fs::remove(png);
}

TEST(FontStripRules, TheBuildStepRefusesABrokenStripAndWritesNothing) {
  StripLevels s = good_strip(207);
  set(s, 5 * 98 + 1, 45, 2);  // code 130
  const fs::path png = scratch("broken.png"), out = scratch("broken.cpp");
  std::string error;
  ASSERT_TRUE(write_strip_png(png.string(), s, error)) << error;
  ToolRun r = run(std::string(FONTEMBED_EXE) + " " + png.string() + " " + out.string() + " 238");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.output.find("glyph for code 130 (columns 490-492): a pixel in row 45"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(out));
  // The same strip mended is embedded.
  set(s, 5 * 98 + 1, 45, 0);
  ASSERT_TRUE(write_strip_png(png.string(), s, error)) << error;
  r = run(std::string(FONTEMBED_EXE) + " " + png.string() + " " + out.string() + " 238");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(fs::exists(out));
  fs::remove(png);
  fs::remove(out);
}

TEST(ScrollTextConversion, Utf8BecomesCodePage437) {
  struct Case {
    const char* what;
    std::string text;
    int code;
    std::string want;  // bytes before the NUL, or the message
  };
  const Case cases[] = {
      {"ASCII stays", "Hi there", 0, "Hi there"},
      {"the accents the text uses", "caf\xc3\xa9 h\xc3\xa4lsning No\xc3\xabl r\xc3\xb4le", 0,
       "caf\x82 h\x84lsning No\x89l r\x93le"},
      {"a line break keeps a word gap", "one\ntwo \nthree", 0, "one \ntwo \nthree"},
      {"an empty line is still one word gap", "one\n\ntwo\n", 0, "one \n\ntwo \n"},
      {"a character the code page lacks", "ok\nbad \xe2\x82\xac here", 1, ":2:5: character U+20AC has no code page 437 code"},
      {"a character the font lacks", "x \xc2\xb1", 1, ":1:3: character U+00B1 (code 241) has no glyph in the font"},
      {"a tab", "a\tb", 1, ":1:2: control character 9"},
      {"bad UTF-8", "ab\xc3", 1, ":1:3: not UTF-8"},
      {"nothing to show", "\n\n", 1, "the text needs at least one character to show"},
  };
  // A long text is converted in one pass (placing each character from the start made 160 KB
  // take half a minute; these 3 MB would take hours).
  std::string longText, longWant;
  for (int i = 0; i < 1000000; ++i) longText += "ab\n", longWant += "ab \n";
  std::vector<Case> all(std::begin(cases), std::end(cases));
  all.push_back({"a long text", longText, 0, longWant});
  for (const Case& c : all) {
    const fs::path in = scratch("text.txt"), out = scratch("text.cpp");
    std::ofstream(in, std::ios::binary) << c.text;
    const ToolRun r = run(std::string(TEXTEMBED_EXE) + " " + in.string() + " " + out.string() + " Text");
    EXPECT_EQ(r.code, c.code) << c.what << ": " << r.output;
    if (c.code != 0) {
      EXPECT_NE(r.output.find(c.want), std::string::npos) << c.what << ": " << r.output;
      EXPECT_FALSE(fs::exists(out)) << c.what;
    } else {
      std::ifstream f(out);
      const std::string source((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      std::string bytes;
      for (unsigned char b : c.want) bytes += std::to_string(b) + ",";
      bytes += "0,";
      std::string flat;
      for (char ch : source)
        if (ch != '\n') flat += ch;
      EXPECT_NE(flat.find("Text[] = {" + bytes + "}"), std::string::npos) << c.what << ": " << source.substr(0, 400);
    }
    fs::remove(in);
    fs::remove(out);
  }
}

TEST(ScrollTextConversion, CodePageTableAgreesBothWays) {
  EXPECT_EQ(cp437_to_unicode(130), U'\u00e9');
  EXPECT_EQ(cp437_to_unicode(132), U'\u00e4');
  EXPECT_EQ(cp437_to_unicode(137), U'\u00eb');
  EXPECT_EQ(cp437_to_unicode(147), U'\u00f4');
  EXPECT_EQ(cp437_to_unicode(127), U'\u2302');
  EXPECT_EQ(cp437_to_unicode(219), U'\u2588');
  for (int code = 32; code < 256; ++code) EXPECT_EQ(unicode_to_cp437(cp437_to_unicode(code)), code) << code;
  EXPECT_EQ(unicode_to_cp437(U'\u20ac'), -1);
}
