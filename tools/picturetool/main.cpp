// picturetool: turns a PNG into a picture stream the show decodes, and a stream back into
// the PNG the show would display.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/picture.h"
#include "codecs/picture_encoder.h"
#include "tools/common/png_io.h"

namespace {

const char* const Usage =
    "usage:\n"
    "  picturetool encode IN.png -o OUT.m1v [options]\n"
    "  picturetool decode IN.m1v -o OUT.png [--black-level N | --no-stretch]\n"
    "\n"
    "encode writes one MPEG-1 intra picture (sizes must be multiples of 16) that decodes,\n"
    "after the show's level stretch, close to the PNG. It reports the stream size and the\n"
    "PSNR of the decoded picture against the input as the show would show it.\n"
    "  --qscale N       quantiser scale 1 (best) to 31 (smallest), default 4\n"
    "  --max-bytes N    the finest quantiser scale whose stream fits in N bytes\n"
    "  --flat-matrix    send a flat intra matrix instead of the default one\n"
    "  --no-adaptive    one quantiser scale for every macroblock (coarser only where\n"
    "                   a macroblock would otherwise need levels beyond 255)\n"
    "  --black-level N  the black level the show stretches away, default 22\n"
    "  --no-stretch     the picture is shown without the level stretch\n"
    "  --role R         refuse a picture whose size does not fit its role in the show:\n"
    "                   logo (640 x 128) or sprite (32 x 32)\n"
    "\n"
    "decode shows what the show will show: the decoded picture after the level stretch\n"
    "(black level 22 unless given) as an RGB PNG.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "picturetool: %s\n", message.c_str());
  return 1;
}

bool parse_int(const char* text, int32_t low, int32_t high, int32_t& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < low || v > high) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool read_file(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  return true;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      error = path + ": cannot write: " + std::strerror(errno);
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": cannot replace the file: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// Decodes a stream as the show does. Returns false when the headers are not accepted.
bool show_decode(const std::vector<uint8_t>& stream, int32_t black_level, RgbImage& image) {
  PictureDecoder decoder;
  if (parse_picture_headers(decoder, stream.data(), stream.size()) != 1) return false;
  image.width = decoder.picture.width;
  image.height = decoder.picture.height;
  image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0);
  if (image.pixels.empty()) return false;
  decode_picture(decoder, image.pixels.data(), image.width, image.height);
  if (black_level >= 0) {
    stretch_levels(image.pixels.data(), black_level, static_cast<int32_t>(image.pixels.size()));
  }
  return true;
}

double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = static_cast<double>((a[i] >> shift) & 0xFF) - static_cast<double>((b[i] >> shift) & 0xFF);
      sum += d * d;
    }
  }
  const double mse = sum / (3.0 * static_cast<double>(a.size()));
  return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

// The pictures the show draws and the one size each must have.
struct PictureRole {
  const char* name;
  int32_t width, height;
};
constexpr PictureRole Roles[] = {{"logo", 640, 128}, {"sprite", 32, 32}};

struct Arguments {
  std::string command, input, output;
  const PictureRole* role = nullptr;
  int32_t blackLevel = 22;
  int32_t maxBytes = 0;
  PictureEncoderOptions encoder;
};

int encode(const Arguments& args) {
  std::string error;
  RgbImage image;
  if (!read_png(args.input, image, error)) return fail(error);
  if (args.role && (image.width != args.role->width || image.height != args.role->height)) {
    return fail(args.input + ": the picture is " + std::to_string(image.width) + " x " +
                std::to_string(image.height) + ", but the show's " + args.role->name + " must be " +
                std::to_string(args.role->width) + " x " + std::to_string(args.role->height));
  }
  if (image.width % 16 || image.height % 16 || image.width > 4080 || image.height > 4080) {
    return fail(args.input + ": the picture is " + std::to_string(image.width) + " x " +
                std::to_string(image.height) + "; width and height must be multiples of 16, at most 4080");
  }
  PictureEncoderOptions options = args.encoder;
  options.blackLevel = args.blackLevel;
  std::vector<uint8_t> stream;
  if (args.maxBytes > 0) {
    for (options.quantiserScale = 1; options.quantiserScale <= 31; ++options.quantiserScale) {
      stream = encode_picture(image.pixels.data(), image.width, image.height, options);
      if (stream.size() <= static_cast<size_t>(args.maxBytes)) break;
    }
    if (options.quantiserScale > 31) {
      return fail("even quantiser scale 31 needs " + std::to_string(stream.size()) + " bytes, more than " +
                  std::to_string(args.maxBytes));
    }
  } else {
    stream = encode_picture(image.pixels.data(), image.width, image.height, options);
  }
  if (stream.empty()) return fail("cannot encode " + args.input + " with these options");

  // What the show will display, against what it would display of the input itself.
  RgbImage shown;
  if (!show_decode(stream, args.blackLevel, shown)) return fail("internal error: the new stream does not decode");
  std::vector<uint32_t> wanted = image.pixels;
  for (uint32_t& p : wanted) p &= args.blackLevel >= 0 ? 0xFEFEFEu : 0xFFFFFFu;
  if (!write_file(args.output, stream, error)) return fail(error);
  std::printf("%s: %d x %d, %zu bytes, quantiser scale %d, PSNR %.2f dB\n", args.output.c_str(), image.width,
              image.height, stream.size(), options.quantiserScale, psnr(shown.pixels, wanted));
  return 0;
}

int decode(const Arguments& args) {
  std::string error;
  std::vector<uint8_t> stream;
  if (!read_file(args.input, stream, error)) return fail(error);
  RgbImage image;
  if (!show_decode(stream, args.blackLevel, image)) {
    return fail(args.input + ": not a picture stream (no sequence header and intra picture found)");
  }
  if (!write_png(args.output, image, error)) return fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        fail(a + " needs " + what);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(Usage, stdout);
      return 0;
    } else if (a == "-o") {
      args.output = value("a file name");
    } else if (a == "--qscale") {
      if (!parse_int(value("a number"), 1, 31, args.encoder.quantiserScale)) return fail("--qscale takes 1 to 31"), 2;
    } else if (a == "--max-bytes") {
      if (!parse_int(value("a number"), 1, 1 << 30, args.maxBytes)) return fail("--max-bytes takes a positive size"), 2;
    } else if (a == "--black-level") {
      if (!parse_int(value("a number"), 0, 254, args.blackLevel)) return fail("--black-level takes 0 to 254"), 2;
    } else if (a == "--no-stretch") {
      args.blackLevel = -1;
    } else if (a == "--flat-matrix") {
      args.encoder.writeMatrix = true;
      args.encoder.intraMatrix = flat_intra_matrix();
    } else if (a == "--role") {
      const std::string name = value("logo or sprite");
      for (const PictureRole& role : Roles) {
        if (name == role.name) args.role = &role;
      }
      if (!args.role) return fail("--role takes logo or sprite, not '" + name + "'"), 2;
    } else if (a == "--no-adaptive") {
      args.encoder.adaptiveQuantiser = false;
    } else if (a.size() > 1 && a[0] == '-') {
      return fail("unknown option " + a + " (see --help)"), 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2 || args.output.empty() || (positional[0] != "encode" && positional[0] != "decode")) {
    std::fputs(Usage, stderr);
    return 2;
  }
  args.command = positional[0];
  args.input = positional[1];
  return args.command == "encode" ? encode(args) : decode(args);
}
