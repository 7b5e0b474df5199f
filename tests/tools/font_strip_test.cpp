// The build steps that turn the editable font strip and scroll text into embedded data:
// the strip's rules, and the text's conversion to code page 437.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/font/cp437.h"
#include "tools/font/strip_png.h"

namespace {

using FontStripRules = ToolTest;
using ScrollTextConversion = ToolTest;

// A strip of glyphs for codes 32 on, each `width` columns of level 7 in rows 1 to 38 (glyph
// `wide` 70 columns), two empty columns apart, ending in two empty columns.
StripLevels strip_of(int glyphs, int wide = -1) {
  StripLevels s;
  s.height = 52;
  s.width = glyphs * 5 + (wide >= 0 ? 67 : 0);
  s.levels.assign(static_cast<size_t>(s.width) * 52, 0);
  for (int g = 0, x0 = 0; g < glyphs; x0 += (g == wide ? 70 : 3) + 2, ++g)
    for (int x = x0; x < x0 + (g == wide ? 70 : 3); ++x)
      for (int y = 1; y <= 38; ++y) s.levels[static_cast<size_t>(y * s.width + x)] = 7;
  return s;
}

StripLevels with(StripLevels s, int x, int y, uint8_t level) {
  s.levels[static_cast<size_t>(y * s.width + x)] = level;
  return s;
}

}  // namespace

TEST_F(FontStripRules, BrokenRulesAreRefusedNamingTheGlyph) {
  StripLevels split = strip_of(10);
  for (int y = 1; y <= 38; ++y) split = with(split, 5 * 2 + 1, y, 0);  // an empty column inside glyph 2
  const struct {
    const char* what;
    StripLevels strip;
    int last_code;
    const char* message;  // "" when the strip is good
  } cases[] = {
      {"a good strip", strip_of(207), 238, ""},
      {"a pixel in row 0", with(strip_of(10), 5 * 4 + 1, 0, 3), 41,
       "glyph for code 36 '$' (columns 20-22): a pixel in row 0 (column 21); glyph pixels must lie in rows 1 to 38"},
      {"a pixel in row 39", with(strip_of(10), 5 * 9, 39, 1), 41, "glyph for code 41 ')' (columns 45-47): a pixel in row 39"},
      {"a glyph split by one empty column", split, 41, "glyph for code 34 '\"' (columns 10-10) is split by the empty column 11"},
      {"a glyph wider than 64", strip_of(10, 3), 41, "glyph for code 35 '#' (columns 15-84) is 70 pixels wide; at most 64"},
      {"more than 256 glyphs", strip_of(257), 288, "the strip holds 258 glyphs (the empty end counts as one); at most 256"},
      {"a glyph missing", strip_of(206), 238, "the strip holds 206 glyphs, codes 32 to 237; the show needs codes 32 to 238"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(check_strip(c.strip, c.last_code, error), c.message[0] == '\0') << c.what << ": " << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
  }
}

// The bytes the scroller gets from a UTF-8 text. (Characters it lacks: tools/cli_test.cpp.)
TEST_F(ScrollTextConversion, Utf8BecomesCodePage437) {
  struct Case {
    const char* what;
    std::string text, want;  // the bytes before the NUL
  };
  std::vector<Case> cases = {
      {"the accents the text uses", "caf\xc3\xa9 h\xc3\xa4lsning No\xc3\xabl r\xc3\xb4le\r\n",
       "caf\x82 h\x84lsning No\x89l r\x93le \n"},
      {"a line break keeps a word gap", "one\ntwo \nthree", "one \ntwo \nthree"},
      {"an empty line is still one word gap", "one\n\ntwo\n", "one \n\ntwo \n"},
      {"a long text", "", ""},
  };
  // A long text is converted in one pass (placing each character from the start made 160 KB
  // take half a minute; these 3 MB would take hours).
  for (int i = 0; i < 1000000; ++i) cases.back().text += "ab\n", cases.back().want += "ab \n";
  for (const Case& c : cases) {
    write("text.txt", c.text);
    const ToolRun r = run(std::string(EMBED_EXE) + " text text.cpp text.txt Text");
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
    std::string bytes, flat;
    for (unsigned char b : c.want) bytes += std::to_string(b) + ",";
    for (char ch : slurp(path("text.cpp")))
      if (ch != '\n') flat += ch;
    EXPECT_NE(flat.find("Text[] = {" + bytes + "0,}"), std::string::npos) << c.what << ": " << flat.substr(0, 400);
  }
}

// Every code from 32 on stands for a character of its own; the euro sign has none.
TEST_F(ScrollTextConversion, CodePageTableAgreesBothWays) {
  for (int code = 32; code < 256; ++code) EXPECT_EQ(unicode_to_cp437(cp437_to_unicode(code)), code) << code;
  EXPECT_EQ(unicode_to_cp437(U'\u20ac'), -1);
}
