// The committed conformance data (made once by data/make_data.sh).
#pragma once
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string picture_data_path(const std::string& name) {
  return std::string(MD_SOURCE_DIR) + "/tests/codecs/pictures/data/" + name;
}

inline std::vector<uint8_t> read_data_file(const std::string& name) {
  std::ifstream in(picture_data_path(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ConformanceCase {
  std::string name;
  int width;
  int height;
};

inline std::vector<ConformanceCase> conformance_cases() {
  std::vector<ConformanceCase> cases;
  std::ifstream in(picture_data_path("cases.txt"));
  ConformanceCase c;
  while (in >> c.name >> c.width >> c.height) cases.push_back(c);
  return cases;
}
