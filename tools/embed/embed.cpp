// md-embed OUT.cpp NAME=FILE [NAME=FILE ...]
// Writes a C++ source that defines, for each file, `extern const unsigned char NAME[]` (with
// four zero bytes after the data) and `extern const unsigned long NAME_size`.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/file_io.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: md-embed OUT.cpp NAME=FILE [NAME=FILE ...]\n");
    return 2;
  }
  std::string out = "// Made by md-embed from the files named below; not edited by hand.\n#include <cstddef>\n\n";
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "md-embed: '%s' is not NAME=FILE\n", argv[i]);
      return 2;
    }
    std::string name = arg.substr(0, eq);
    std::string path = arg.substr(eq + 1);
    std::vector<uint8_t> data;
    std::string error;
    if (!read_input(path, data, error, DataInput)) {
      std::fprintf(stderr, "md-embed: %s\n", error.c_str());
      return 1;
    }
    out += "// " + path + "\nextern const unsigned long " + name + "_size = " + std::to_string(data.size()) +
           ";\nalignas(16) extern const unsigned char " + name + "[] = {";
    data.insert(data.end(), 4, 0);
    for (size_t k = 0; k < data.size(); ++k) {
      if (k % 24 == 0) out += "\n";
      out += std::to_string(data[k]) + ",";
    }
    out += "\n};\n\n";
  }
  std::string error;
  if (!write_whole_output(argv[1], std::span(reinterpret_cast<const uint8_t*>(out.data()), out.size()), error)) {
    std::fprintf(stderr, "md-embed: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
