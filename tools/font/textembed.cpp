// md-textembed TEXT.txt OUT.cpp NAME
// Converts a UTF-8 text into code page 437 bytes and writes the C++ source of a
// NUL-terminated `const unsigned char NAME[]`, or fails the build naming each character
// the code page or the font lacks with its line and column (tools/font/scroll_text.h).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/font/scroll_text.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "md-textembed: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: md-textembed TEXT.txt OUT.cpp NAME\n");
    return 2;
  }
  const std::string in_path = argv[1];
  const std::string out_path = argv[2];
  const std::string name = argv[3];
  std::vector<uint8_t> raw;
  std::string error;
  if (!read_input(in_path, raw, error, TextInput)) return fail(error);
  const std::string text(raw.begin(), raw.end());

  std::vector<uint8_t> bytes;
  std::vector<std::string> problems;
  if (!convert_scroll_text(text, in_path, bytes, problems)) {
    for (const std::string& problem : problems) fail(problem);
    return 1;
  }

  std::string out = "// Made by md-textembed from " + in_path + "; not edited by hand.\n\nextern const unsigned char " +
                    name + "[] = {";
  bytes.push_back(0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 24 == 0) out += "\n";
    out += std::to_string(bytes[i]) + ",";
  }
  out += "\n};\n";
  if (!write_whole_output(out_path, std::span(reinterpret_cast<const uint8_t*>(out.data()), out.size()), error))
    return fail(error);
  return 0;
}
