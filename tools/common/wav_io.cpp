#include "tools/common/wav_io.h"

#include <cstdio>

namespace {
void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
}  // namespace

bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate,
               std::string* error) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> b;
  b.reserve(44 + data_bytes);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put32(b, 36 + data_bytes);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(b, 16);
  put16(b, 1);  // PCM
  put16(b, static_cast<uint32_t>(channels));
  put32(b, static_cast<uint32_t>(rate));
  put32(b, static_cast<uint32_t>(rate * channels * 2));
  put16(b, static_cast<uint32_t>(channels * 2));
  put16(b, 16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put32(b, data_bytes);
  for (int16_t s : samples) put16(b, static_cast<uint16_t>(s));
  const std::string temp = path + ".part";
  FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(b.data(), 1, b.size(), f) == b.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  std::remove(temp.c_str());
  *error = "cannot write " + path;
  return false;
}
