// tunetool: imports tracker modules into module images, describes and checks images, and
// renders them to WAV files through the player.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/module.h"
#include "player/player.h"
#include "player/xm_import.h"

namespace {

constexpr const char* Usage =
    "usage:\n"
    "  tunetool import IN.xm -o OUT        convert an extended module into a module image\n"
    "  tunetool info FILE                  describe a module image or an .xm file\n"
    "  tunetool validate FILE              check a module image\n"
    "  tunetool render FILE [--seconds N] -o OUT.wav\n"
    "                                      render 44100 Hz 16-bit stereo (default: one pass of the song)\n"
    "  tunetool --help\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "tunetool: %s\n", message.c_str());
  return 1;
}

std::optional<std::vector<uint8_t>> read_file(const std::string& path, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
  bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) {
    error = path + ": read error";
    return std::nullopt;
  }
  return data;
}

// Writes through a temporary file and renames it, so a failure leaves no partial output.
bool write_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
  std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    error = path + ": write error";
    return false;
  }
  return true;
}

// A module image from a file that holds one or an .xm; import warnings go to stderr.
std::optional<std::vector<uint8_t>> load_tune(const std::string& path, std::string& error, bool quiet = false) {
  std::optional<std::vector<uint8_t>> data = read_file(path, error);
  if (!data) return std::nullopt;
  if (is_xm(data->data(), data->size())) {
    XmImport result = import_xm(data->data(), data->size());
    if (!quiet)
      for (const std::string& w : result.warnings) std::fprintf(stderr, "tunetool: %s: warning: %s\n", path.c_str(), w.c_str());
    if (!result.ok) {
      error = path + ": " + result.error;
      return std::nullopt;
    }
    return result.image;
  }
  ImageCheck check = validate_module_image(data->data(), data->size());
  if (check != ImageCheck::Ok) {
    error = path + ": " + image_check_text(check);
    return std::nullopt;
  }
  return data;
}

int import_command(const std::string& in, const std::string& out) {
  std::string error;
  std::optional<std::vector<uint8_t>> data = read_file(in, error);
  if (!data) return fail(error);
  XmImport result = import_xm(data->data(), data->size());
  for (const std::string& w : result.warnings) std::fprintf(stderr, "tunetool: %s: warning: %s\n", in.c_str(), w.c_str());
  if (!result.ok) return fail(in + ": " + result.error);
  if (!write_file(out, result.image, error)) return fail(error);
  std::printf("%s: %zu bytes, %zu warnings\n", out.c_str(), result.image.size(), result.warnings.size());
  return 0;
}

int info_command(const std::string& path) {
  std::string error;
  std::optional<std::vector<uint8_t>> image = load_tune(path, error, true);
  if (!image) return fail(error);
  const uint8_t* h = image->data();
  uint32_t instruments = load_u32(h + HeaderInstrumentCount), samples = 0, patterns = 0;
  for (uint32_t k = 0; k < instruments; ++k)
    samples += load_u32(h + load_u32(h + InstrumentTableOffset + 4 * k) + InstrumentSampleCount);
  for (uint32_t p = 0; p < MaxPatterns; ++p) patterns += load_u32(h + PatternTableOffset + 4 * p) != 0;
  uint16_t flags = load_u16(h + HeaderFlags);
  std::printf("song length:      %u\n", load_u32(h + HeaderSongLength));
  std::printf("restart position: %u\n", load_u32(h + HeaderRestartPosition));
  std::printf("channels:         %u\n", load_u32(h + HeaderChannelCount));
  std::printf("patterns:         %u\n", patterns);
  std::printf("instruments:      %u\n", instruments);
  std::printf("samples:          %u\n", samples);
  std::printf("speed, tempo:     %u, %u\n", h[HeaderInitialSpeed], h[HeaderInitialTempo]);
  std::printf("frequency table:  %s\n", (flags & FlagLinearPeriods) ? "linear" : "Amiga");
  std::printf("image size:       %zu bytes\n", image->size());
  return 0;
}

int validate_command(const std::string& path) {
  std::string error;
  std::optional<std::vector<uint8_t>> data = read_file(path, error);
  if (!data) return fail(error);
  ImageCheck check = validate_module_image(data->data(), data->size());
  if (check != ImageCheck::Ok) return fail(path + ": " + image_check_text(check));
  std::printf("%s: valid\n", path.c_str());
  return 0;
}

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  put_u16(out, static_cast<uint16_t>(v));
  put_u16(out, static_cast<uint16_t>(v >> 16));
}

// True once the song has gone back to an earlier place by its own order (not a pattern loop).
bool song_wrapped(const PlayerState& p, uint32_t lastOrder, uint32_t lastRow) {
  if (p.orderPosition < lastOrder) return true;
  if (p.orderPosition != lastOrder || p.row >= lastRow) return false;
  for (const ChannelState& c : p.channels)
    if (c.loopCount != 0) return false;
  return true;
}

int render_command(const std::string& path, std::optional<double> seconds, const std::string& out) {
  std::string error;
  std::optional<std::vector<uint8_t>> image = load_tune(path, error);
  if (!image) return fail(error);
  if (seconds && !(*seconds > 0 && *seconds <= 3600)) return fail("--seconds must be between 0 and 3600");
  constexpr double OnePassLimit = 1800;  // seconds, for songs that never return
  uint64_t total = static_cast<uint64_t>((seconds ? *seconds : OnePassLimit) * OutputRate);

  auto state = std::make_unique<PlayerState>();
  player_init(image->data(), state.get());
  player_start(0);
  constexpr uint32_t Chunk = 256;
  std::vector<int32_t> mix(2 * Chunk);
  std::vector<uint8_t> pcm;
  uint64_t done = 0;
  uint32_t lastOrder = 0, lastRow = 0;
  uint64_t nextProgress = 10 * OutputRate;
  while (done < total) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(Chunk, total - done));
    player_render(n, mix.data());
    if (!seconds && done > 0 && song_wrapped(*state, lastOrder, lastRow)) break;
    lastOrder = state->orderPosition;
    lastRow = state->row;
    for (uint32_t i = 0; i < 2 * n; ++i) put_u16(pcm, static_cast<uint16_t>(std::clamp(mix[i], -32500, 32500)));
    done += n;
    if (done >= nextProgress) {
      std::fprintf(stderr, "\rtunetool: rendered %.0f s", static_cast<double>(done) / OutputRate);
      nextProgress += 10 * OutputRate;
    }
  }
  if (nextProgress > 10 * OutputRate) std::fprintf(stderr, "\n");
  player_stop();

  std::vector<uint8_t> wav;
  wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
  put_u32(wav, static_cast<uint32_t>(36 + pcm.size()));
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_u32(wav, 16);
  put_u16(wav, 1);  // PCM
  put_u16(wav, 2);
  put_u32(wav, OutputRate);
  put_u32(wav, OutputRate * 4);
  put_u16(wav, 4);
  put_u16(wav, 16);
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  put_u32(wav, static_cast<uint32_t>(pcm.size()));
  wav.insert(wav.end(), pcm.begin(), pcm.end());
  if (!write_file(out, wav, error)) return fail(error);
  std::printf("%s: %.2f s\n", out.c_str(), static_cast<double>(done) / OutputRate);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(Usage, stderr);
    return 1;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(Usage, stdout);
    return 0;
  }
  std::string command = args[0], output;
  std::optional<double> seconds;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i] == "--seconds" && i + 1 < args.size()) {
      char* end = nullptr;
      double value = std::strtod(args[++i].c_str(), &end);
      if (end == args[i].c_str() || *end != 0) return fail("--seconds needs a number, not \"" + args[i] + "\"");
      seconds = value;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return fail("unknown option \"" + args[i] + "\"\n" + Usage);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 1) return fail("expected one input file\n" + std::string(Usage));
  if (command == "import") {
    if (output.empty()) return fail("import needs -o OUT");
    return import_command(files[0], output);
  }
  if (command == "info") return info_command(files[0]);
  if (command == "validate") return validate_command(files[0]);
  if (command == "render") {
    if (output.empty()) return fail("render needs -o OUT.wav");
    return render_command(files[0], seconds, output);
  }
  return fail("unknown command \"" + command + "\"\n" + Usage);
}
