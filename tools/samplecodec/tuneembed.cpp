// tuneembed: writes the program's tune data (a C++ source defining StoredTunes) from the
// thirteen packed tune files, tune 1 first.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/samplecodec/tune_pack.h"

int main(int argc, char** argv) {
  if (argc != 3 + TuneCount || std::string(argv[1]) != "-o") {
    std::fprintf(stderr, "usage: tuneembed -o OUT.cpp TUNE01.packed ... TUNE13.packed\n");
    return 2;
  }
  const std::string output = argv[2];
  std::vector<std::vector<uint8_t>> files(TuneCount);
  std::vector<PackedTuneView> views;
  for (int i = 0; i < TuneCount; ++i) {
    const char* path = argv[3 + i];
    std::string error;
    if (!read_input(path, files[i], error, ModuleInput)) {
      std::fprintf(stderr, "tuneembed: %s\n", error.c_str());
      return 1;
    }
    const std::optional<PackedTuneView> view = read_packed_tune_file(files[i]);
    if (!view) {
      std::fprintf(stderr, "tuneembed: %s (tune %d) is not a whole packed tune\n", path, i + 1);
      return 1;
    }
    views.push_back(*view);
  }
  const std::string source = tune_data_source(lay_out_tune_data(std::span<const PackedTuneView, TuneCount>(views)));
  // All or nothing, so a failed write leaves no partial source behind.
  std::string error;
  if (!write_whole_output(output, std::span(reinterpret_cast<const uint8_t*>(source.data()), source.size()), error)) {
    std::fprintf(stderr, "tuneembed: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
