// picturetool: turns a PNG into a picture stream the show decodes, and a stream back into
// the PNG the show would display.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/picture.h"
#include "codecs/picture_encoder.h"
#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/common/png_io.h"
#include "tools/picturetool/picture_roles.h"

namespace {

const char* const Usage =
    "usage: picturetool encode IN.png -o OUT.m1v [options]\n"
    "       picturetool decode IN.m1v -o OUT.png [--black-level N | --no-stretch]\n"
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
    "(black level 22 unless given) as an RGB PNG.\n"
    "\n"
    "  -o FILE          the output; - is standard output. IN may be - for standard input\n"
    "  -q, --quiet      no report and no warnings\n"
    "  -v, --verbose    more detail\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing is written), 2 wrong usage.\n";

Cli TheCli{"picturetool", Usage};

// Decodes a stream as the show does. Returns false when the headers are not accepted;
// `missing` counts the macroblocks the stream ends before (they stay black, as in the show).
bool show_decode(const std::vector<uint8_t>& stream, int32_t black_level, RgbImage& image, int32_t* missing = nullptr) {
  PictureDecoder decoder;
  if (parse_picture_headers(decoder, stream.data(), stream.size()) != 1) return false;
  image.width = decoder.picture.width;
  image.height = decoder.picture.height;
  // Decoded pixels never set the top byte: what still holds it after decoding was not
  // reached by any macroblock.
  constexpr uint32_t Unreached = 0xFF000000u;
  image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), Unreached);
  if (image.pixels.empty()) return false;
  decode_picture(decoder, image.pixels.data(), image.width, image.height);
  int32_t unreached = 0;
  for (int32_t y = 0; y < image.height; y += 16)
    for (int32_t x = 0; x < image.width; x += 16)
      unreached += image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] == Unreached;
  for (uint32_t& p : image.pixels)
    if (p == Unreached) p = 0;
  if (missing != nullptr) *missing = unreached;
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
  // The size limit is checked on the header, before the pixels take any memory.
  if (!read_png(args.input, image, error, 4080, 4080)) return cli_fail(TheCli, error);
  if (const std::string problem = picture_size_problem(args.input, image.width, image.height, args.role);
      !problem.empty())
    return cli_fail(TheCli, problem);
  PictureEncoderOptions options = args.encoder;
  options.blackLevel = args.blackLevel;
  std::vector<uint8_t> stream;
  if (args.maxBytes > 0) {
    for (options.quantiserScale = 1; options.quantiserScale <= 31; ++options.quantiserScale) {
      stream = encode_picture(image.pixels.data(), image.width, image.height, options);
      cli_detail(TheCli, "quantiser scale " + std::to_string(options.quantiserScale) + ": " +
                             std::to_string(stream.size()) + " bytes");
      if (stream.size() <= static_cast<size_t>(args.maxBytes)) break;
    }
    if (options.quantiserScale > 31) {
      return cli_fail(TheCli, "even quantiser scale 31 needs " + std::to_string(stream.size()) + " bytes, more than " +
                  std::to_string(args.maxBytes));
    }
  } else {
    stream = encode_picture(image.pixels.data(), image.width, image.height, options);
  }
  if (stream.empty()) return cli_fail(TheCli, "cannot encode " + args.input + " with these options");

  // What the show will display, against what it would display of the input itself.
  RgbImage shown;
  if (!show_decode(stream, args.blackLevel, shown)) return cli_fail(TheCli, "internal error: the new stream does not decode");
  std::vector<uint32_t> wanted = image.pixels;
  for (uint32_t& p : wanted) p &= args.blackLevel >= 0 ? 0xFEFEFEu : 0xFFFFFFu;
  if (!write_whole_output(args.output, stream, error)) return cli_fail(TheCli, error);
  if (args.output == "-" || TheCli.verbosity == 0) return 0;
  std::printf("%s: %d x %d, %zu bytes, quantiser scale %d, PSNR %.2f dB\n", args.output.c_str(), image.width,
              image.height, stream.size(), options.quantiserScale, psnr(shown.pixels, wanted));
  return 0;
}

int decode(const Arguments& args) {
  std::string error;
  std::vector<uint8_t> stream;
  if (!read_input(args.input, stream, error, PictureInput)) return cli_fail(TheCli, error);
  RgbImage image;
  int32_t missing = 0;
  if (!show_decode(stream, args.blackLevel, image, &missing)) {
    return cli_fail(TheCli, display_name(args.input, false) + ": not a picture stream (no sequence header and intra picture found)");
  }
  if (!write_png(args.output, image, error)) return cli_fail(TheCli, error);
  // The picture is what the show would show; a cut stream is still worth knowing about.
  if (missing > 0)
    cli_warn(TheCli, display_name(args.input, false) + ": the stream ends early; " + std::to_string(missing) + " of " +
                         std::to_string(((image.width + 15) / 16) * ((image.height + 15) / 16)) +
                         " macroblocks are missing and stay black");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1,
                              {{"output", 'o', true}, {"qscale", 0, true}, {"max-bytes", 0, true},
                               {"black-level", 0, true}, {"no-stretch", 0, false}, {"flat-matrix", 0, false},
                               {"no-adaptive", 0, false}, {"role", 0, true}});
  Arguments args;
  for (const auto& [option, value] : a.options) {
    if (option == "output") {
      args.output = value;
    } else if (option == "qscale") {
      if (!cli_int(value, 1, 31, args.encoder.quantiserScale)) cli_usage_error(TheCli, "--qscale takes 1 to 31");
    } else if (option == "max-bytes") {
      if (!cli_int(value, 1, 1 << 30, args.maxBytes)) cli_usage_error(TheCli, "--max-bytes takes a positive size");
    } else if (option == "black-level") {
      if (!cli_int(value, 0, 254, args.blackLevel)) cli_usage_error(TheCli, "--black-level takes 0 to 254");
    } else if (option == "no-stretch") {
      args.blackLevel = -1;
    } else if (option == "flat-matrix") {
      args.encoder.writeMatrix = true;
      args.encoder.intraMatrix = flat_intra_matrix();
    } else if (option == "role") {
      for (const PictureRole& role : PictureRoles) {
        if (value == role.name) args.role = &role;
      }
      if (!args.role) cli_usage_error(TheCli, "--role takes logo or sprite, not '" + value + "'");
    } else if (option == "no-adaptive") {
      args.encoder.adaptiveQuantiser = false;
    }
  }
  const std::vector<std::string>& positional = a.positional;
  if (positional.empty()) cli_usage_error(TheCli, "no command given");
  if (positional[0] != "encode" && positional[0] != "decode")
    cli_usage_error(TheCli, "unknown command \"" + positional[0] + "\"");
  if (positional.size() != 2 || args.output.empty())
    cli_usage_error(TheCli, "usage: picturetool " + positional[0] + " IN -o OUT");
  args.command = positional[0];
  args.input = positional[1];
  std::string error;
  if (is_same_file(args.input, args.output, error)) return cli_fail(TheCli, error);
  return args.command == "encode" ? encode(args) : decode(args);
}
