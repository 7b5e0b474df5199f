// Packs the thirteen synthetic tunes into OUTDIR/tune01.packed .. tune13.packed.
#include <cstdio>
#include <string>

#include "codecs/samples/test_tunes.h"
#include "tools/samplecodec/tune_pack.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  for (int n = 1; n <= TuneCount; ++n) {
    const TunePackResult r = pack_tune(synthetic_tune_image(n));
    if (r.error != TunePackError::None) {
      std::fprintf(stderr, "tune %d: %s\n", n, r.message.c_str());
      return 1;
    }
    const std::vector<uint8_t> file = packed_tune_file(r.tune);
    char name[32];
    std::snprintf(name, sizeof name, "/tune%02d.packed", n);
    std::FILE* f = std::fopen((std::string(argv[1]) + name).c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) return 1;
  }
  return 0;
}
