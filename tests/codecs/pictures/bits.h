// Hand-made picture streams for the tests, written as strings of '0' and '1' (spaces and
// other characters are ignored, so codes can be grouped).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline void append_bits(std::vector<uint8_t>& out, int& fill, const std::string& bits) {
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (fill == 0) out.push_back(0);
    if (c == '1') out.back() = static_cast<uint8_t>(out.back() | (0x80 >> fill));
    fill = (fill + 1) & 7;
  }
}

inline std::vector<uint8_t> from_bits(const std::string& bits) {
  std::vector<uint8_t> out;
  int fill = 0;
  append_bits(out, fill, bits);
  return out;
}

inline std::string binary(uint32_t value, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((value >> i) & 1u) ? '1' : '0';
  return s;
}

// A stream of byte-aligned units: start codes followed by their bits.
struct TestStream {
  std::vector<uint8_t> bytes;
  int fill = 0;
  TestStream& code(uint32_t start_code) {
    fill = 0;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(start_code >> shift));
    return *this;
  }
  TestStream& bits(const std::string& b) {
    append_bits(bytes, fill, b);
    return *this;
  }
  // Sequence header of a w x h picture with the default matrices, then an intra picture.
  TestStream& headers(int w, int h, int coding_type = 1) {
    code(0x1B3).bits(binary(w, 12) + binary(h, 12) + "0001 0011" + binary(0x3FFFF, 18) + "1" + binary(20, 10) +
                     "0" + "0" + "0");
    return code(0x100).bits(binary(0, 10) + binary(coding_type, 3) + binary(0xFFFF, 16) + "0");
  }
  TestStream& slice(uint32_t row_code, int scale) { return code(row_code).bits(binary(scale, 5) + "0"); }
  TestStream& end() { return code(0x1B7); }
};

// Blocks carrying only a DC difference (luminance "100" = size 0 unless given).
inline std::string dc_only_luma(const std::string& dc = "100") { return dc + "10"; }
inline std::string dc_only_chroma() { return "00 10"; }
// One plain intra macroblock whose blocks carry only DC differences.
inline std::string flat_macroblock(const std::string& first_luma_dc) {
  return "1 1" + dc_only_luma(first_luma_dc) + dc_only_luma() + dc_only_luma() + dc_only_luma() +
         dc_only_chroma() + dc_only_chroma();
}
