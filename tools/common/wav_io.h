// WAV files for the tools: 16-bit PCM out, any PCM width in.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The most sample data a WAV can describe: its sizes are 32-bit, and the RIFF size counts
// 36 bytes of header besides the data.
constexpr uint64_t MaxWavDataBytes = 0xFFFFFFFFull - 36;

// The 44-byte header of a 16-bit PCM WAV holding `frames` frames of `channels` channels at
// `rate` Hz; the data must fit MaxWavDataBytes.
std::vector<uint8_t> wav_header(uint64_t frames, int channels, int rate);

// Writes interleaved 16-bit samples (`channels` per frame) at `rate` Hz, all or nothing;
// "-" is standard output.
bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate,
               std::string* error);

struct WavData {
  int rate = 0;
  int channels = 0;
  int bits = 0;                  // bits per sample in the file: 8, 16, 24 or 32
  std::vector<int32_t> samples;  // interleaved, as signed values of `bits` bits
};

// A RIFF WAVE holding PCM (plain or extensible) of 8 to 32 bits; false with the cause.
bool looks_like_wav(std::span<const uint8_t> bytes);
bool read_wav(std::span<const uint8_t> bytes, WavData& wav, std::string& error);
