// tunescore: compiles a score (plain text, see score.h) into an extended module (.xm).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/tunescore/score.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "tunescore: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::strcmp(argv[2], "-o") != 0) {
    std::fprintf(stderr, "usage: tunescore IN.score -o OUT.xm\n");
    return 2;
  }
  const std::string input = argv[1], output = argv[3];
  std::ifstream in(input, std::ios::binary);
  if (!in) return fail("cannot read " + input + ": " + std::strerror(errno));
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return fail("cannot read " + input);
  Score score;
  std::string error;
  if (!parse_score(text, input, score, error)) return fail(error);
  XmModule module;
  if (!score_to_xm(score, module, error)) return fail(input + ": " + error);
  const std::vector<uint8_t> bytes = write_xm(module);
  // Through a temporary name, so a failed write leaves nothing behind.
  const std::string temp = output + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), output.c_str()) != 0) {
    std::remove(temp.c_str());
    return fail("cannot write " + output);
  }
  return 0;
}
