// The font strip as an editable picture: kept as an 8-bit greyscale PNG with the levels
// scaled to 0..255 (level x 17). The strip's rules are the show's (render/strip_rules.h).
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "render/strip_rules.h"

// Reads the PNG (any colour type; colour pixels count by their luminance). A picture higher
// than the strip's rows or wider than the font's tables can hold is refused from its header.
bool read_strip_png(const std::string& path, StripLevels& strip, std::string& error);
// The same from the bytes of a PNG file; `name` names it in messages.
bool decode_strip_png(std::span<const uint8_t> bytes, const std::string& name, StripLevels& strip,
                      std::string& error);
// Writes the strip as an 8-bit greyscale PNG, all or nothing.
bool write_strip_png(const std::string& path, const StripLevels& strip, std::string& error);
