// tuneembed: writes the program's tune data (a C++ source defining StoredTunes) from the
// thirteen packed tune files, tune 1 first.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tuneembed: cannot read %s\n", path);
      return 1;
    }
    files[i].assign(std::istreambuf_iterator<char>(in), {});
    const std::optional<PackedTuneView> view = read_packed_tune_file(files[i]);
    if (!view) {
      std::fprintf(stderr, "tuneembed: %s (tune %d) is not a whole packed tune\n", path, i + 1);
      return 1;
    }
    views.push_back(*view);
  }
  const std::string source = tune_data_source(lay_out_tune_data(std::span<const PackedTuneView, TuneCount>(views)));
  // Through a temporary name, so a failed write leaves no partial source behind.
  const std::string temp = output + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(source.data(), 1, source.size(), f) == source.size();
  if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), output.c_str()) != 0) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "tuneembed: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
