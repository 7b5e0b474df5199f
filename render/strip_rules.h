// The font strip's rules: one byte per pixel, coverage levels 0 to 15, glyphs found by the
// empty columns between them. The build holds a strip to them before it embeds it, and the
// show holds a strip from a disk block to them before it uses it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t StripRows = 52;
constexpr int32_t StripFirstInkRow = 1;
constexpr int32_t StripLastInkRow = 38;
constexpr int32_t StripFirstCode = 32;
constexpr int32_t StripMaxGlyphs = 256;   // the font's tables
constexpr int32_t StripMaxGlyphWidth = 64;  // the scroller's refill margin
// The strips this project makes keep two empty columns between glyphs, so a single empty
// column can only be a glyph split in two.
constexpr int32_t StripGlyphGap = 2;

struct StripLevels {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> levels;  // width x height, row-major, 0..15
  uint8_t at(int32_t x, int32_t y) const { return levels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// A glyph found by the scan: its first column and one past its last.
struct StripGlyph {
  int32_t start, end;
};

// Grey value (0..255) to level: the nearest of the 16 levels.
constexpr uint8_t grey_to_level(uint32_t grey) { return static_cast<uint8_t>((grey * 15 + 127) / 255); }
constexpr uint8_t level_to_grey(uint32_t level) { return static_cast<uint8_t>(level * 17); }

// The glyph scan the show runs at start-up, on levels: runs of non-empty columns, with one
// more glyph of width 0 when the strip ends in empty columns. Stops at `limit` glyphs.
std::vector<StripGlyph> scan_strip(const StripLevels& strip, size_t limit = 1u << 20);

// "code 65 'A'" or "code 130".
std::string glyph_name(int32_t code);

// Checks every rule (levels 0..15 included); codes 32 to `last_code` must each have a glyph. On a broken rule
// returns false with a message naming the glyph (by code and columns) and the rule.
bool check_strip(const StripLevels& strip, int32_t last_code, std::string& error);
