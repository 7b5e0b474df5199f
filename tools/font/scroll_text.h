// The scroller's text: written as UTF-8, shown as code page 437 bytes. A character the code
// page (or the font, whose glyphs end at code 238) lacks is named with its line and column.
// A line break is kept (the scroller ignores it) with a space before it unless the text
// shown so far already ends in one, so a line break reads as one word gap, and an empty
// line (a paragraph break) as no more than that.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int LastGlyphCode = 238;

// Converts `text`; `name` starts each message ("text.txt:3:14: character U+2603 has no code
// page 437 code"). Every bad character is reported, in order; `bytes` (without a final NUL)
// is complete only when no problem was found.
bool convert_scroll_text(const std::string& text, const std::string& name, std::vector<uint8_t>& bytes,
                         std::vector<std::string>& problems);
