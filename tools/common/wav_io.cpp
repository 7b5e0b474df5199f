#include "tools/common/wav_io.h"

#include <algorithm>

#include "tools/common/file_io.h"

namespace {
void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint32_t get16(const uint8_t* p) { return p[0] | p[1] << 8; }
}  // namespace

std::vector<uint8_t> wav_header(uint64_t frames, int channels, int rate) {
  const uint32_t data_bytes = static_cast<uint32_t>(frames * static_cast<uint64_t>(channels) * 2);
  std::vector<uint8_t> b;
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
  return b;
}

bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate,
               std::string* error) {
  if (samples.size() * 2 > MaxWavDataBytes) {
    *error = "cannot write " + display_name(path, true) + ": more sound than a WAV file can hold (4 GiB)";
    return false;
  }
  std::vector<uint8_t> b = wav_header(samples.size() / static_cast<size_t>(channels), channels, rate);
  b.reserve(b.size() + samples.size() * 2);
  for (int16_t s : samples) put16(b, static_cast<uint16_t>(s));
  return write_whole_output(path, b, *error);
}

bool looks_like_wav(std::span<const uint8_t> bytes) {
  return bytes.size() >= 12 && std::equal(bytes.begin(), bytes.begin() + 4, "RIFF") &&
         std::equal(bytes.begin() + 8, bytes.begin() + 12, "WAVE");
}

bool read_wav(std::span<const uint8_t> bytes, WavData& wav, std::string& error) {
  if (!looks_like_wav(bytes)) return error = "not a WAV file", false;
  const uint8_t* fmt = nullptr;
  const uint8_t* data = nullptr;
  uint64_t data_size = 0;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = get32(&bytes[at + 4]);
    const uint64_t available = bytes.size() - (at + 8);
    if (std::equal(&bytes[at], &bytes[at] + 4, "fmt ")) {
      if (size < 16 || size > available) return error = "the WAV format chunk is cut short", false;
      fmt = &bytes[at + 8];
    } else if (std::equal(&bytes[at], &bytes[at] + 4, "data")) {
      data = &bytes[at + 8];
      // A stream written before its length was known may give more than there is.
      data_size = size > available ? available : size;
      break;
    }
    at += 8 + uint64_t{size} + (size & 1);
  }
  if (fmt == nullptr) return error = "the WAV file has no format chunk", false;
  if (data == nullptr) return error = "the WAV file has no data chunk", false;
  uint32_t format = get16(fmt);
  const uint32_t channels = get16(fmt + 2), bits = get16(fmt + 14), align = get16(fmt + 12);
  if (format == 0xFFFE && get32(fmt - 4) >= 40) format = get16(fmt + 24);  // extensible: the sub-format
  if (format != 1) return error = "the WAV data is not PCM (format " + std::to_string(format) + ")", false;
  if (channels < 1 || channels > 8) return error = "the WAV file has " + std::to_string(channels) + " channels", false;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return error = "the WAV file has " + std::to_string(bits) + "-bit samples (8, 16, 24 or 32 are read)", false;
  const uint32_t width = bits / 8;
  if (align != width * channels) return error = "the WAV file's block alignment does not match its format", false;
  const uint32_t rate = get32(fmt + 4);
  if (rate == 0 || rate > 0x7FFFFFFF) return error = "the WAV file gives a rate of " + std::to_string(rate) + " Hz", false;
  wav.rate = static_cast<int>(rate);
  wav.channels = static_cast<int>(channels);
  wav.bits = static_cast<int>(bits);
  const uint64_t count = data_size / width / channels * channels;
  wav.samples.resize(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* p = data + i * width;
    int32_t v;
    switch (width) {
      case 1: v = static_cast<int32_t>(p[0]) - 128; break;  // 8-bit WAV is unsigned
      case 2: v = static_cast<int16_t>(get16(p)); break;
      case 3: v = static_cast<int32_t>(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8; break;
      default: v = static_cast<int32_t>(get32(p)); break;
    }
    wav.samples[i] = v;
  }
  return true;
}
