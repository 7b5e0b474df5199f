// tunetool: imports extended modules into module images, shows and checks images, renders
// them to WAV through the player, and packs tunes for the program's data.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "player/player.h"
#include "tools/common/wav_io.h"
#include "tools/samplecodec/tune_pack.h"
#include "tools/tunetool/tune_render.h"
#include "tools/xm_import/xm_import.h"

namespace {

constexpr const char* Usage =
    "usage: tunetool COMMAND ...\n"
    "\n"
    "  import IN.xm -o OUT          write the module image of an extended module\n"
    "  info FILE                    song length, channels, patterns, instruments, samples, frequency table\n"
    "  validate FILE                check a module image as the player needs it\n"
    "  render FILE [--seconds N] -o OUT.wav\n"
    "                               play FILE into a 44100 Hz 16-bit stereo WAV; without --seconds,\n"
    "                               one pass of the song\n"
    "  pack IN.xm -o OUT [--quality Q]\n"
    "                               import, turn the samples into 8-bit, compress them and write the\n"
    "                               packed tune the program embeds; prints its sizes, each sample's\n"
    "                               SNR through the codec and the SNR of one pass of the tune played\n"
    "                               packed against unpacked; --quality 1..9 (default 5) trades size\n"
    "                               for fidelity\n"
    "\n"
    "FILE may be an extended module (.xm), a module image or a packed tune.\n"
    "Warnings name what an import had to drop; errors end with a non-zero exit and no output file.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "tunetool: %s\n", message.c_str());
  return 1;
}

bool read_file(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// Through a temporary name, so a failed write leaves nothing behind.
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    error = "cannot write " + path;
    return false;
  }
  return true;
}

void print_warnings(const std::string& path, const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings) std::fprintf(stderr, "tunetool: %s: warning: %s\n", path.c_str(), w.c_str());
}

bool import_file(const std::string& path, const std::vector<uint8_t>& bytes, const XmImportOptions& options,
                 XmImport& result, std::string& error) {
  result = import_xm(bytes, options);
  if (!result.ok) {
    error = path + ": " + result.error;
    return false;
  }
  print_warnings(path, result.warnings);
  return true;
}

// Any of the three forms as a module image: an .xm is imported, a packed tune assembled
// with the real decoder into a tune buffer, an image taken as it is.
bool load_image(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!read_file(path, bytes, error)) return false;
  if (looks_like_xm(bytes)) {
    XmImport imported;
    if (!import_file(path, bytes, {}, imported, error)) return false;
    image = std::move(imported.image);
    return true;
  }
  if (bytes.size() >= 4 && load_u32(bytes.data()) == ModuleMagic) {
    image = std::move(bytes);
    return true;
  }
  if (std::optional<PackedTuneView> packed = read_packed_tune_file(bytes)) {
    image.assign(TuneImageBytes, 0);
    std::memcpy(image.data(), packed->stored.data(), packed->stored.size());
    const size_t length = packed->stored.size();
    if (!decode_samples_checked(TheSampleDecoder, packed->stream.data(), packed->stream.size(),
                                reinterpret_cast<int8_t*>(image.data() + length), TuneImageBytes - length)) {
      error = path + ": the packed tune's sample stream does not decode";
      return false;
    }
    return true;
  }
  error = path + ": neither an extended module, a module image nor a packed tune";
  return false;
}

bool check_image(const std::string& path, const std::vector<uint8_t>& image, std::string& error) {
  ImageCheck check = validate_module_image(image.data(), image.size());
  if (check == ImageCheck::Ok) return true;
  error = path + ": invalid module image: " + image_check_text(check);
  return false;
}

// Arguments after the command: positional ones, "-o OUT" and "--seconds N".
struct Arguments {
  std::vector<std::string> positional;
  std::string output;
  double seconds = 0;
  bool hasSeconds = false;
  int quality = 5;
};

bool parse_arguments(int argc, char** argv, Arguments& a, std::string& error) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) return error = arg + " needs a file name", false;
      a.output = argv[++i];
    } else if (arg == "--seconds") {
      if (i + 1 >= argc) return error = "--seconds needs a number", false;
      char* end = nullptr;
      a.seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != 0 || !(a.seconds > 0) || a.seconds > 36000)
        return error = std::string("--seconds: \"") + argv[i] + "\" is not a number of seconds (0..36000)", false;
      a.hasSeconds = true;
    } else if (arg == "--quality") {
      if (i + 1 >= argc) return error = "--quality needs a level 1..9", false;
      const std::string q = argv[++i];
      if (q.size() != 1 || q[0] < '1' || q[0] > '9') return error = "--quality: \"" + q + "\" is not a level 1..9", false;
      a.quality = q[0] - '0';
    } else if (arg.size() > 1 && arg[0] == '-') {
      return error = "unknown option " + arg, false;
    } else {
      a.positional.push_back(arg);
    }
  }
  return true;
}

int command_import(const Arguments& a) {
  if (a.positional.size() != 1 || a.output.empty()) return fail("usage: tunetool import IN.xm -o OUT");
  std::vector<uint8_t> bytes;
  std::string error;
  XmImport imported;
  if (!read_file(a.positional[0], bytes, error) || !import_file(a.positional[0], bytes, {}, imported, error) ||
      !write_file(a.output, imported.image, error))
    return fail(error);
  std::printf("%s: %zu bytes, %d 8-bit and %d 16-bit samples, %zu warnings\n", a.output.c_str(),
              imported.image.size(), imported.samples8, imported.samples16, imported.warnings.size());
  return 0;
}

int command_info(const Arguments& a) {
  if (a.positional.size() != 1 || !a.output.empty() || a.hasSeconds) return fail("usage: tunetool info FILE");
  std::vector<uint8_t> image;
  std::string error;
  if (!load_image(a.positional[0], image, error) || !check_image(a.positional[0], image, error)) return fail(error);
  const ImageFigures f = image_figures(image);
  std::printf("song length      %u (restart at %u)\n", f.songLength, f.restartPosition);
  std::printf("channels         %u\n", f.channels);
  std::printf("patterns         %u\n", f.patterns);
  std::printf("instruments      %u\n", f.instruments);
  std::printf("samples          %u\n", f.samples);
  std::printf("frequency table  %s\n", f.linear ? "linear" : "amiga");
  std::printf("speed, tempo     %u, %u\n", f.speed, f.tempo);
  std::printf("sample data      %u bytes 8-bit, %u values 16-bit, at offset %u\n", f.sampleBytes8, f.sampleValues16,
              f.sampleAreaOffset);
  std::printf("image            %llu bytes\n", static_cast<unsigned long long>(f.imageBytes));
  return 0;
}

int command_validate(const Arguments& a) {
  if (a.positional.size() != 1 || !a.output.empty() || a.hasSeconds) return fail("usage: tunetool validate FILE");
  std::vector<uint8_t> image;
  std::string error;
  if (!load_image(a.positional[0], image, error) || !check_image(a.positional[0], image, error)) return fail(error);
  std::printf("%s: valid\n", a.positional[0].c_str());
  return 0;
}

int command_render(const Arguments& a) {
  if (a.positional.size() != 1 || a.output.empty())
    return fail("usage: tunetool render FILE [--seconds N] -o OUT.wav");
  std::vector<uint8_t> image;
  std::string error;
  if (!load_image(a.positional[0], image, error) || !check_image(a.positional[0], image, error)) return fail(error);
  RenderOptions options;
  options.seconds = a.hasSeconds ? a.seconds : 0;
  bool progressShown = false;
  const auto started = std::chrono::steady_clock::now();
  options.progress = [&](double seconds) {
    // Renders that finish within a second or two stay quiet.
    if (!progressShown && std::chrono::steady_clock::now() - started < std::chrono::seconds(2)) return;
    progressShown = true;
    std::fprintf(stderr, "\rtunetool: rendering %s: %.0f s", a.positional[0].c_str(), seconds);
    std::fflush(stderr);
  };
  RenderResult r = render_image(image, options);
  if (progressShown) std::fprintf(stderr, "\n");
  if (!r.ok) return fail(a.positional[0] + ": " + r.error);
  if (!write_wav(a.output, r.frames, 2, static_cast<int>(OutputRate), &error)) return fail(error);
  std::printf("%s: %.2f s%s", a.output.c_str(), static_cast<double>(r.frames.size() / 2) / OutputRate,
              a.hasSeconds ? "" : (r.passEnded ? " (one pass)" : " (no end of the song found; cut at the limit)"));
  if (r.passEnded) std::printf(", returns to position %u", r.returnPosition);
  std::printf(", longest run at the clamp %zu frames\n", longest_clamp_run(r.frames));
  return 0;
}

// The rules the show's assembly and player rely on for a stored tune, checked on what
// packing built before anything is written.
bool check_stored_rules(const PackedTune& tune, std::string& error) {
  const std::vector<uint8_t>& image = tune.image;
  const uint64_t length = tune.stored.size();
  const char* broken = nullptr;
  if (load_u32(image.data() + HeaderSampleDataOffset) + uint64_t{2} != length)
    broken = "the sample data offset is not the stored length less 2";
  else if (image[length - 1] != 0 || image[length - 2] != 0)
    broken = "the stored part does not end with two zero bytes";
  else if (load_u16(image.data() + HeaderFlags) & FlagDeltaCoded)
    broken = "flags bit 2 (delta-coded samples) is set";
  else if (load_u32(image.data() + HeaderSampleData16Count) != 0)
    broken = "the 16-bit data size is not 0";
  else if (load_u32(image.data() + HeaderSampleData8Size) > tune.samples.decodedCount)
    broken = "the 8-bit data size exceeds the decoded count";
  if (broken == nullptr) return true;
  error = std::string("packing broke a stored-tune rule: ") + broken;
  return false;
}

int command_pack(const Arguments& a) {
  if (a.positional.size() != 1 || a.output.empty() || a.hasSeconds) return fail("usage: tunetool pack IN.xm -o OUT");
  const std::string& path = a.positional[0];
  std::vector<uint8_t> bytes;
  std::string error;
  if (!read_file(path, bytes, error)) return fail(error);
  if (!looks_like_xm(bytes)) return fail(path + ": not an extended module");
  XmImport imported;
  if (!import_file(path, bytes, {.eightBitOnly = true}, imported, error)) return fail(error);
  if (imported.samples16 > 0)
    std::fprintf(stderr, "tunetool: %s: %d 16-bit samples stored as 8-bit\n", path.c_str(), imported.samples16);
  TunePackResult packed = pack_tune(imported.image, settings_for_quality(a.quality));
  if (packed.error != TunePackError::None) return fail(path + ": cannot pack: " + packed.message);
  // The image the show will build, checked as the player needs it.
  if (!check_image(path + " (assembled)", packed.tune.image, error) || !check_stored_rules(packed.tune, error))
    return fail(error);
  if (!write_file(a.output, packed_tune_file(packed.tune), error)) return fail(error);
  std::printf("%s: %s\n", a.output.c_str(), describe_packed_tune(packed.tune).c_str());
  std::fputs(describe_pack_fidelity(measure_pack_fidelity(imported.image, packed.tune)).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(Usage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(Usage, stdout);
    return 0;
  }
  Arguments a;
  std::string error;
  if (!parse_arguments(argc, argv, a, error)) return fail(error);
  if (command == "import") return command_import(a);
  if (command == "info") return command_info(a);
  if (command == "validate") return command_validate(a);
  if (command == "render") return command_render(a);
  if (command == "pack") return command_pack(a);
  std::fprintf(stderr, "tunetool: unknown command \"%s\"\n\n%s", command.c_str(), Usage);
  return 2;
}
