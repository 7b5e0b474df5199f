// tunetool: imports extended modules into module images, shows and checks images, renders
// them to WAV through the player, and packs tunes for the program's data.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "player/player.h"
#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/common/wav_io.h"
#include "tools/playback/resampler.h"
#include "tools/playback/tune_render.h"
#include "tools/samplecodec/tune_pack.h"
#include "tools/tunetool/xm_pack.h"
#include "tools/xm_import/xm_import.h"

namespace {

constexpr const char* Usage =
    "usage: tunetool COMMAND [options] ...\n"
    "\n"
    "  import IN.xm -o OUT          write the module image of an extended module\n"
    "  info FILE                    title, duration of one pass, channels, patterns, speed and tempo,\n"
    "                               the instruments and samples, and what the tune costs on the disk\n"
    "  validate FILE                check a module image as the player needs it\n"
    "  render FILE -o OUT.wav [--seconds N | --loops N] [--rate HZ]\n"
    "                               play FILE through the player into a 16-bit stereo WAV; without\n"
    "                               --seconds, whole passes of the song (one unless --loops N),\n"
    "                               later passes starting at the song's restart position\n"
    "  pack IN.xm -o OUT [--quality Q]\n"
    "                               import, turn the samples into 8-bit, compress them and write the\n"
    "                               packed tune the program embeds; prints its sizes, each sample's\n"
    "                               SNR through the codec and the SNR of one pass of the tune played\n"
    "                               packed against unpacked\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the output; - is standard output\n"
    "  --seconds N         render N seconds\n"
    "  --loops N           render N passes of the song (1 to 100)\n"
    "  --quality Q         pack: 1 (smallest) to 9 (most faithful), default 5\n"
    "  --rate HZ           sample rate of the render: 44100 (the player's own, default), or\n"
    "                      8000 to 192000, resampled\n"
    "  -q, --quiet         no progress and no warnings\n"
    "  -v, --verbose       more detail\n"
    "  -h, --help          this text\n"
    "  --version           the version\n"
    "\n"
    "FILE may be an extended module (.xm), a module image or a packed tune; - reads standard\n"
    "input. render writes WAV (.wav, or any name with -o -); other extensions are refused.\n"
    "Warnings name what an import had to drop. Exit status: 0 done, 1 failed (nothing is\n"
    "written), 2 wrong usage.\n";

Cli TheCli{"tunetool", Usage};

void print_warnings(const std::string& path, const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings) cli_warn(TheCli, display_name(path, false) + ": " + w);
}

bool import_file(const std::string& path, const std::vector<uint8_t>& bytes, const XmImportOptions& options,
                 XmImport& result, std::string& error) {
  result = import_xm(bytes, options);
  if (!result.ok) {
    error = display_name(path, false) + ": " + result.error;
    return false;
  }
  print_warnings(path, result.warnings);
  return true;
}

bool is_module_image(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 4 && load_u32(bytes.data()) == ModuleMagic;
}

// A packed tune file whose stored part starts like an image but which holds fewer bytes
// than its two lengths say.
std::optional<std::string> cut_packed_tune(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 12 || load_u32(bytes.data() + 8) != ModuleMagic) return std::nullopt;
  const uint64_t wanted = uint64_t{8} + load_u32(bytes.data()) + load_u32(bytes.data() + 4);
  if (bytes.size() >= wanted) return std::nullopt;
  return "a packed tune cut short: " + std::to_string(bytes.size()) + " of its " + std::to_string(wanted) +
         " bytes are there";
}

// Any of the three forms as a module image: an .xm is imported, a packed tune assembled
// with the real decoder into a tune buffer, an image taken as it is.
bool load_image(const std::string& path, const std::vector<uint8_t>& bytes, std::vector<uint8_t>& image,
                std::string& error) {
  const std::string name = display_name(path, false);
  if (looks_like_xm(bytes)) {
    XmImport imported;
    if (!import_file(path, bytes, {}, imported, error)) return false;
    image = std::move(imported.image);
    return true;
  }
  if (is_module_image(bytes)) {
    image = bytes;
    return true;
  }
  if (std::optional<PackedTuneView> packed = read_packed_tune_file(bytes)) {
    image.assign(TuneImageBytes, 0);
    std::memcpy(image.data(), packed->stored.data(), packed->stored.size());
    const size_t length = packed->stored.size();
    if (!decode_samples_checked(TheSampleDecoder, packed->stream.data(), packed->stream.size(),
                                reinterpret_cast<int8_t*>(image.data() + length), TuneImageBytes - length)) {
      error = name + ": the packed tune's sample stream does not decode";
      return false;
    }
    return true;
  }
  if (std::optional<std::string> cut = cut_packed_tune(bytes)) {
    error = name + ": " + *cut;
    return false;
  }
  error = name + ": neither an extended module, a module image nor a packed tune";
  return false;
}

bool check_image(const std::string& path, const std::vector<uint8_t>& image, std::string& error) {
  ImageCheck check = validate_module_image(image.data(), image.size());
  if (check == ImageCheck::Ok) return true;
  error = display_name(path, false) + ": invalid module image: " + image_check_text(check);
  return false;
}

bool read_and_load(const std::string& path, std::vector<uint8_t>& bytes, std::vector<uint8_t>& image,
                   std::string& error) {
  return read_input(path, bytes, error, ModuleInput) && load_image(path, bytes, image, error) && check_image(path, image, error);
}

// Every command names its input; commands that write name an output other than the input.
struct Command {
  std::string input, output;
};

Command one_input(const CliArgs& a, const char* usage, bool wantsOutput) {
  const std::string* output = a.value("output");
  if (a.positional.size() != 1 || (wantsOutput && output == nullptr) || (!wantsOutput && output != nullptr))
    cli_usage_error(TheCli, std::string("usage: tunetool ") + usage);
  Command c{a.positional[0], output != nullptr ? *output : ""};
  std::string error;
  if (wantsOutput && is_same_file(c.input, c.output, error)) {
    std::exit(cli_fail(TheCli, error));
  }
  return c;
}

int command_import(const CliArgs& a) {
  const Command c = one_input(a, "import IN.xm -o OUT", true);
  std::vector<uint8_t> bytes;
  std::string error;
  XmImport imported;
  if (!read_input(c.input, bytes, error, ModuleInput) || !import_file(c.input, bytes, {}, imported, error) ||
      !write_whole_output(c.output, imported.image, error))
    return cli_fail(TheCli, error);
  cli_detail(TheCli, display_name(c.output, true) + ": " + std::to_string(imported.image.size()) + " bytes, " +
                         std::to_string(imported.samples8) + " 8-bit and " + std::to_string(imported.samples16) +
                         " 16-bit samples, " + std::to_string(imported.warnings.size()) + " warnings");
  if (c.output != "-")
    std::printf("%s: %zu bytes, %d 8-bit and %d 16-bit samples, %zu warnings\n", c.output.c_str(),
                imported.image.size(), imported.samples8, imported.samples16, imported.warnings.size());
  return 0;
}

std::string minutes_seconds(double seconds) {
  char text[32];
  const int whole = static_cast<int>(seconds);
  std::snprintf(text, sizeof text, "%d:%05.2f", whole / 60, seconds - 60.0 * (whole / 60));
  return text;
}

// The bytes of sample data behind each data index of an image, padding included: what each
// sample costs in the tune's buffer.
std::vector<uint64_t> sample_data_costs(const std::vector<uint8_t>& image) {
  ModuleHeader h;
  load_module_header(image.data(), h);
  const uint64_t areaEnd = uint64_t{h.sampleDataOffset} + h.sampleData8Size;
  std::vector<uint64_t> starts;
  for (const uint8_t* p : h.sampleData)
    if (p != nullptr && p != image.data()) starts.push_back(static_cast<uint64_t>(p - image.data()));
  std::vector<uint64_t> cost(MaxSampleData, 0);
  for (uint32_t i = 0; i < MaxSampleData; ++i) {
    const uint8_t* p = h.sampleData[i];
    if (p == nullptr || p == image.data()) continue;
    const uint64_t at = static_cast<uint64_t>(p - image.data());
    uint64_t next = std::max(areaEnd, at);
    for (uint64_t s : starts)
      if (s > at && s < next) next = s;
    cost[i] = next - at;
  }
  return cost;
}

const char* loop_name(uint8_t type) {
  if (type & SamplePingPongLoop) return "ping-pong";
  if (type & SampleForwardLoop) return "forward";
  return "none";
}

int command_info(const CliArgs& a) {
  const Command c = one_input(a, "info FILE", false);
  std::vector<uint8_t> bytes, image;
  std::string error;
  if (!read_and_load(c.input, bytes, image, error)) return cli_fail(TheCli, error);
  std::optional<XmModule> xm;
  if (looks_like_xm(bytes)) {
    XmModule m;
    if (read_xm(bytes, m, error)) xm = std::move(m);
  }
  const ImageFigures f = image_figures(image);
  const char* kind = xm ? "extended module" : is_module_image(bytes) ? "module image" : "packed tune";
  std::printf("file             %s (%s)\n", display_name(c.input, false).c_str(), kind);
  if (xm) {
    std::printf("title            %s\n", xm->name.c_str());
    std::printf("tracker          %s\n", xm->tracker.c_str());
  }
  // One pass, rendered without keeping the sound.
  std::vector<uint8_t> copy = image;
  RenderOptions pass;
  RenderResult r = render_image_to(copy, pass, [](std::span<const int16_t>) { return true; });
  const double seconds = static_cast<double>(r.frameCount) / OutputRate;
  if (r.passEnded)
    std::printf("duration         %s one pass, then it plays on from position %u\n", minutes_seconds(seconds).c_str(),
                f.restartPosition);
  else
    std::printf("duration         more than %s (no end of the song found)\n", minutes_seconds(seconds).c_str());
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

  // For the disk: the image as packing builds it, every sample in 8 bits.
  std::vector<uint8_t> disk = image;
  if (xm) {
    XmImport eight = import_xm(bytes, {.eightBitOnly = true});
    if (eight.ok) disk = std::move(eight.image);
  }
  const std::vector<uint64_t> cost = sample_data_costs(disk);
  ModuleHeader h, hd;
  load_module_header(image.data(), h);
  load_module_header(disk.data(), hd);
  std::printf("\n ins smp  %-22s %9s  %-9s %9s %9s  %4s  %s\n", "name", "length", "loop", "start", "length", "bits",
              "disk bytes");
  for (uint32_t k = 0; k < f.instruments; ++k) {
    const uint32_t count = load_u32(h.instruments[k] + InstrumentSampleCount);
    const std::string insName = xm && k < xm->instruments.size() ? xm->instruments[k].name : "";
    std::printf("%4u      %s%s\n", k + 1, ("\"" + insName + "\"").c_str(), count == 0 ? "  (no samples)" : "");
    for (uint32_t s = 0; s < count; ++s) {
      const SampleRecord rec = read_sample_record(h.instruments[k], s);
      const SampleRecord diskRec = read_sample_record(hd.instruments[k], s);
      std::string name;
      uint64_t frames = rec.end;
      if (xm && k < xm->instruments.size() && s < xm->instruments[k].samples.size()) {
        name = xm->instruments[k].samples[s].name;
        frames = xm->instruments[k].samples[s].data.size();
      }
      const bool looped = rec.type & (SampleForwardLoop | SamplePingPongLoop);
      char loopStart[16] = "-", loopLength[16] = "-";
      if (looped) {
        std::snprintf(loopStart, sizeof loopStart, "%u", rec.loopStart);
        std::snprintf(loopLength, sizeof loopLength, "%u", rec.end - rec.loopStart);
      }
      std::printf("%4u %3u  %-22s %9llu  %-9s %9s %9s  %4d  %llu\n", k + 1, s, ("\"" + name + "\"").c_str(),
                  static_cast<unsigned long long>(frames), loop_name(rec.type), loopStart, loopLength,
                  rec.type & Sample16Bit ? 16 : 8, static_cast<unsigned long long>(cost[diskRec.dataIndex]));
    }
  }
  // Packing keeps the image up to its sample area and two zero samples, and codes the rest
  // of the area (plus two zero samples) in blocks; assembly unpacks it into the buffer.
  const uint64_t stored = uint64_t{hd.sampleDataOffset} + 2;
  const uint64_t decoded =
      hd.sampleData16Count == 0 ? uint64_t{32} * blocks_for_samples(hd.sampleData8Size) - 480 : 0;
  if (hd.sampleData16Count == 0 && hd.sampleData8Size >= 2) {
    const uint64_t used = stored + decoded;
    std::printf("\non the disk      %llu of %zu bytes once unpacked (%.1f %%): %s\n",
                static_cast<unsigned long long>(used), TuneImageBytes, 100.0 * static_cast<double>(used) / TuneImageBytes,
                used <= TuneImageBytes ? "fits"
                                       : ("does not fit, " + std::to_string(used - TuneImageBytes) + " bytes too many")
                                             .c_str());
  } else {
    std::printf("\non the disk      pack the .xm to see its size (this image holds 16-bit samples)\n");
  }
  return 0;
}

int command_validate(const CliArgs& a) {
  const Command c = one_input(a, "validate FILE", false);
  std::vector<uint8_t> bytes, image;
  std::string error;
  if (!read_and_load(c.input, bytes, image, error)) return cli_fail(TheCli, error);
  std::printf("%s: valid\n", display_name(c.input, false).c_str());
  return 0;
}

int command_render(const CliArgs& a) {
  const Command c = one_input(a, "render FILE -o OUT.wav [--seconds N | --loops N] [--rate HZ]", true);
  double seconds = 0;
  long long loops = 1, rate = OutputRate;
  if (const std::string* v = a.value("seconds"); v != nullptr && !cli_number(*v, 1e-3, 1e9, seconds))
    cli_usage_error(TheCli, "--seconds: \"" + *v + "\" is not a number of seconds");
  if (const std::string* v = a.value("loops"); v != nullptr && !cli_integer(*v, 1, 100, loops))
    cli_usage_error(TheCli, "--loops: \"" + *v + "\" is not a number of passes from 1 to 100");
  if (const std::string* v = a.value("rate"); v != nullptr && !cli_integer(*v, 8000, 192000, rate))
    cli_usage_error(TheCli, "--rate: \"" + *v + "\" is not a sample rate from 8000 to 192000 Hz");
  if (a.has("seconds") && a.has("loops")) cli_usage_error(TheCli, "--seconds and --loops exclude each other");
  // The output's form by its name.
  if (c.output != "-") {
    const size_t dot = c.output.rfind('.');
    std::string extension = dot == std::string::npos || c.output.find('/', dot) != std::string::npos
                                ? ""
                                : c.output.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (extension == "flac" || extension == "ogg" || extension == "mp3" || extension == "opus")
      cli_usage_error(TheCli, c.output + ": ." + extension +
                                  " output is not made here; write a .wav and convert it (flac, oggenc or ffmpeg)");
    if (extension != "wav")
      cli_usage_error(TheCli, c.output + ": the output's name must end in .wav (the one form written), or be -");
  }

  std::vector<uint8_t> bytes, image;
  std::string error;
  if (!read_and_load(c.input, bytes, image, error)) return cli_fail(TheCli, error);
  const std::string name = display_name(c.input, false);
  RenderOptions options;
  options.seconds = seconds;
  options.loops = static_cast<uint32_t>(loops);
  const uint64_t maxFrames = MaxWavDataBytes / 4;
  auto too_long = [&](double s) {
    return cli_fail(TheCli, name + ": " + std::to_string(static_cast<long long>(std::llround(s))) +
                " s of 16-bit stereo sound at " + std::to_string(rate) +
                " Hz is more than a WAV file can hold (4 GiB, about " +
                std::to_string(maxFrames / static_cast<uint64_t>(rate)) + " s); ask for less");
  };
  auto output_frames = [&](uint64_t in) { return in * static_cast<uint64_t>(rate) / OutputRate; };

  // The length first, so the WAV header is right wherever the sound goes (a pipe cannot be
  // rewound) and a render too long for a WAV is refused before anything is written.
  uint64_t inputFrames = 0;
  bool passEnded = true;
  uint32_t returnPosition = 0;
  if (seconds > 0) {
    inputFrames = static_cast<uint64_t>(seconds * OutputRate + 0.5);
  } else {
    std::vector<uint8_t> copy = image;
    RenderResult dry = render_image_to(copy, options, [&, counted = uint64_t{0}](std::span<const int16_t> piece) mutable {
      counted += piece.size() / 2;
      return output_frames(counted) <= maxFrames;
    });
    if (!dry.ok) return too_long(static_cast<double>(dry.frameCount) / OutputRate);
    inputFrames = dry.frameCount;
    passEnded = dry.passEnded;
    returnPosition = dry.returnPosition;
    cli_detail(TheCli, name + ": " + std::to_string(dry.passesEnded) + " passes came back round in " +
                           std::to_string(inputFrames) + " frames");
  }
  const uint64_t frames = output_frames(inputFrames);
  if (frames > maxFrames) return too_long(static_cast<double>(inputFrames) / OutputRate);

  OutputFile out;
  if (!open_output(c.output, out, error)) return cli_fail(TheCli, error);
  const std::vector<uint8_t> header = wav_header(frames, 2, static_cast<int>(rate));
  bool ok = write_output(out, header.data(), header.size(), error);
  Resampler resampler = make_resampler(OutputRate, static_cast<uint32_t>(rate));
  std::vector<int16_t> converted;
  std::vector<uint8_t> raw;
  auto put = [&](std::span<const int16_t> piece) {
    raw.resize(piece.size() * 2);
    for (size_t i = 0; i < piece.size(); ++i) {
      raw[2 * i] = static_cast<uint8_t>(piece[i]);
      raw[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(piece[i]) >> 8);
    }
    return write_output(out, raw.data(), raw.size(), error);
  };
  bool progressShown = false;
  const auto started = std::chrono::steady_clock::now();
  options.seconds = static_cast<double>(inputFrames) / OutputRate;  // exactly the frames measured
  options.progress = [&](double s) {
    // Renders that finish within a second or two stay quiet.
    if (TheCli.verbosity == 0) return;
    if (!progressShown && std::chrono::steady_clock::now() - started < std::chrono::seconds(2)) return;
    progressShown = true;
    std::fprintf(stderr, "\rtunetool: rendering %s: %.0f s", name.c_str(), s);
    std::fflush(stderr);
  };
  // The longest run of frames a channel spends at the clamp, left and right counted apart.
  size_t clampRun[2] = {0, 0}, longestClamp = 0;
  if (ok) {
    RenderResult r = render_image_to(image, options, [&](std::span<const int16_t> piece) {
      for (size_t i = 0; i < piece.size(); ++i) {
        size_t& run = clampRun[i & 1];
        run = piece[i] == OutputClamp || piece[i] == -OutputClamp ? run + 1 : 0;
        longestClamp = std::max(longestClamp, run);
      }
      if (rate == OutputRate) return ok = put(piece);
      converted.clear();
      resample(resampler, piece, frames, converted);
      return ok = put(converted);
    });
    if (ok && rate != OutputRate) {
      converted.clear();
      finish_resampling(resampler, frames, converted);
      ok = put(converted);
    }
    if (ok && !r.ok) error = name + ": " + r.error, ok = false;
  }
  if (progressShown) std::fprintf(stderr, "\n");
  if (!ok || !finish_output(out, error)) {
    discard_output(out);
    return cli_fail(TheCli, error);
  }
  const double length = static_cast<double>(frames) / static_cast<double>(rate);
  std::string what;
  if (seconds <= 0)
    what = !passEnded ? " (no end of the song found; cut at the limit)"
           : loops == 1 ? " (one pass)"
                        : " (" + std::to_string(loops) + " passes)";
  if (c.output != "-" && TheCli.verbosity >= 1) {
    std::printf("%s: %.2f s at %lld Hz%s", c.output.c_str(), length, rate, what.c_str());
    if (seconds <= 0 && passEnded) std::printf(", returns to position %u", returnPosition);
    std::printf(", longest run at the clamp %zu frames\n", longestClamp);
  }
  return 0;
}

int command_pack(const CliArgs& a) {
  const Command c = one_input(a, "pack IN.xm -o OUT [--quality Q]", true);
  long long quality = 5;
  if (const std::string* v = a.value("quality"); v != nullptr && !cli_integer(*v, 1, 9, quality))
    cli_usage_error(TheCli, "--quality: \"" + *v + "\" is not a level 1..9");
  const std::string& path = c.input;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!read_input(path, bytes, error, ModuleInput)) return cli_fail(TheCli, error);
  XmPack packed = pack_xm(bytes, static_cast<int>(quality));
  print_warnings(path, packed.warnings);
  if (!packed.ok) return cli_fail(TheCli, display_name(path, false) + ": " + packed.error);
  if (!write_whole_output(c.output, packed_tune_file(packed.tune), error)) return cli_fail(TheCli, error);
  if (c.output != "-" && TheCli.verbosity >= 1) {
    std::printf("%s: %s\n", c.output.c_str(), describe_packed_tune(packed.tune).c_str());
    std::fputs(describe_pack_fidelity(measure_pack_fidelity(packed.image, packed.tune)).c_str(), stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1,
                              {{"output", 'o', true}, {"seconds", 0, true}, {"loops", 0, true}, {"rate", 0, true}, {"quality", 0, true}});
  if (a.positional.empty()) cli_usage_error(TheCli, "no command given");
  const std::string command = a.positional[0];
  CliArgs rest = a;
  rest.positional.erase(rest.positional.begin());
  if (command == "help") {
    std::fputs(Usage, stdout);
    return 0;
  }
  auto only = [&](std::initializer_list<const char*> allowed) {
    for (const auto& [option, value] : rest.options)
      if (std::none_of(allowed.begin(), allowed.end(), [&](const char* n) { return option == n; }))
        cli_usage_error(TheCli, command + " takes no --" + option);
  };
  if (command == "import") return only({"output"}), command_import(rest);
  if (command == "info") return only({}), command_info(rest);
  if (command == "validate") return only({}), command_validate(rest);
  if (command == "render") return only({"output", "seconds", "loops", "rate"}), command_render(rest);
  if (command == "pack") return only({"output", "quality"}), command_pack(rest);
  cli_usage_error(TheCli, "unknown command \"" + command + "\"");
}
