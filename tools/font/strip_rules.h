// The font strip as an editable picture: one byte per pixel, coverage levels 0 to 15, kept
// as an 8-bit greyscale PNG with the levels scaled to 0..255 (level x 17). These are the
// rules the build holds a strip to before it embeds it.
#pragma once
#include <cstdint>
#include <span>
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

// Reads the PNG (any colour type; colour pixels count by their luminance). A picture higher
// than the strip's rows or wider than the font's tables can hold is refused from its header.
bool read_strip_png(const std::string& path, StripLevels& strip, std::string& error);
// The same from the bytes of a PNG file; `name` names it in messages.
bool decode_strip_png(std::span<const uint8_t> bytes, const std::string& name, StripLevels& strip,
                      std::string& error);
// Writes the strip as an 8-bit greyscale PNG, all or nothing.
bool write_strip_png(const std::string& path, const StripLevels& strip, std::string& error);

// The glyph scan the show runs at start-up, on levels: runs of non-empty columns, with one
// more glyph of width 0 when the strip ends in empty columns. Stops at `limit` glyphs.
std::vector<StripGlyph> scan_strip(const StripLevels& strip, size_t limit = 1u << 20);

// "code 65 'A'" or "code 130".
std::string glyph_name(int32_t code);

// Checks every rule; codes 32 to `last_code` must each have a glyph. On a broken rule
// returns false with a message naming the glyph (by code and columns) and the rule.
bool check_strip(const StripLevels& strip, int32_t last_code, std::string& error);
