// 16-bit PCM WAV files for the tools.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Writes interleaved 16-bit samples (`channels` per frame) at `rate` Hz; written to a
// temporary name and renamed, so a failed write never leaves a partial file.
bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate,
               std::string* error);
