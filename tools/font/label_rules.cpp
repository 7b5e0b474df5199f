#include "tools/font/label_rules.h"

#include <cstdio>

#include "render/font.h"

namespace {

// The label as it can be printed: codes outside 32..126 as \xNN.
std::string printable(const std::string& label) {
  std::string out;
  for (char ch : label) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string label_problem(const char* kind, int index, const std::string& label, int32_t limit, int32_t& width) {
  const std::string name = std::string(kind) + " label " + std::to_string(index) + " \"" + printable(label) + "\"";
  width = 0;
  if (label.empty()) return name + " is empty";
  for (size_t i = 0; i < label.size(); ++i) {
    const auto code = static_cast<unsigned char>(label[i]);
    if (code < 32 || code > 127) {
      return name + ": code " + std::to_string(code) + " at position " + std::to_string(i + 1) +
             " is outside 32..127 (menu texts skip it; '#' draws e with acute accent)";
    }
  }
  width = measure_text(label.c_str());
  if (width > limit) {
    return name + " measures " + std::to_string(width) + " pixels; at most " + std::to_string(limit) +
           " fit between the brackets";
  }
  return {};
}

std::string address_problem(int index, const std::string& address) {
  const std::string name = "link address " + std::to_string(index) + " \"" + printable(address) + "\"";
  if (address.rfind("https://", 0) != 0 && address.rfind("http://", 0) != 0) return name + " is not a web address";
  for (char c : address) {
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127)
      return name + " holds a space or a non-ASCII code";
  }
  return {};
}
