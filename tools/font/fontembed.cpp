// md-fontembed STRIP.png OUT.cpp LAST_CODE
// Checks the font strip picture against the strip's rules and writes the C++ source of the
// embedded FontStrip. Any broken rule fails the build with a message naming the glyph.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/font/strip_png.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "md-fontembed: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: md-fontembed STRIP.png OUT.cpp LAST_CODE\n");
    return 2;
  }
  const std::string in = argv[1];
  const std::string out_path = argv[2];
  long long last_code = 0;
  if (!cli_integer(argv[3], 32, 286, last_code))
    return fail(std::string("bad last code '") + argv[3] + "' (a whole number from 32 to 286)");
  StripLevels strip;
  std::string error;
  if (!read_strip_png(in, strip, error)) return fail(error);
  if (!check_strip(strip, static_cast<int32_t>(last_code), error)) return fail(in + ": " + error);

  std::string out = "// Made by md-fontembed from " + in + "; not edited by hand.\n"
                    "#include \"assets/font_strip.h\"\n\nnamespace {\nconst uint8_t Levels[] = {";
  for (size_t i = 0; i < strip.levels.size(); ++i) {
    if (i % 40 == 0) out += "\n";
    out += std::to_string(strip.levels[i]) + ",";
  }
  out += "\n};\n}  // namespace\n\nextern const FontStripRecord FontStrip = {" + std::to_string(strip.width) + ", " +
         std::to_string(strip.height) + ", Levels};\n";
  if (!write_whole_output(out_path, std::span(reinterpret_cast<const uint8_t*>(out.data()), out.size()), error))
    return fail(error);
  return 0;
}
