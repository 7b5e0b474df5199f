#include "tools/font/cp437.h"

#include <array>

namespace {

// Codes 128 to 255, sixteen to a row.
constexpr std::array<char32_t, 128> Upper = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 128 Ç ü é â ä à å ç
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 136 ê ë è ï î ì Ä Å
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 144 É æ Æ ô ö ò û ù
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 152 ÿ Ö Ü ¢ £ ¥ ₧ ƒ
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 160 á í ó ú ñ Ñ ª º
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 168 ¿ ⌐ ¬ ½ ¼ ¡ « »
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 176 shades, box drawing
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 184
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 192
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 200
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 208
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 216 ... blocks
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 224 α ß Γ π Σ σ µ τ
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 232 Φ Θ Ω δ ∞ φ ε ∩
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 240 ≡ ± ≥ ≤ ⌠ ⌡ ÷ ≈
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 248 ° ∙ · √ ⁿ ² ■ nbsp
};

}  // namespace

char32_t cp437_to_unicode(int code) {
  if (code < 32 || code > 255) return 0;
  if (code < 127) return static_cast<char32_t>(code);
  if (code == 127) return 0x2302;
  return Upper[static_cast<size_t>(code - 128)];
}

int unicode_to_cp437(char32_t c) {
  if (c >= 32 && c < 127) return static_cast<int>(c);
  for (int code = 127; code < 256; ++code) {
    if (cp437_to_unicode(code) == c) return code;
  }
  return -1;
}

bool decode_utf8(const std::string& text, std::vector<Utf8Char>& out, size_t& bad_offset) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (b0 < 0x80) {
      c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, c = b0 & 0x1F, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, c = b0 & 0x0F, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, c = b0 & 0x07, least = 0x10000;
    } else {
      bad_offset = i;
      return false;
    }
    if (i + static_cast<size_t>(extra) >= text.size() && extra > 0) {
      bad_offset = i;
      return false;
    }
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80) {
        bad_offset = i;
        return false;
      }
      c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not characters.
    if ((extra > 0 && c < least) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      bad_offset = i;
      return false;
    }
    out.push_back({c, i});
    i += 1 + static_cast<size_t>(extra);
  }
  return true;
}

TextPlace text_place(const std::string& text, size_t offset) {
  TextPlace p{1, 1};
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == '\n') {
      ++p.line;
      p.column = 1;
    } else if ((b & 0xC0) != 0x80) {
      ++p.column;
    }
  }
  return p;
}
