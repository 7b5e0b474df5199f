// musicdisk-capture: runs the real show on the headless backend with a virtual clock and
// writes what it shows as PNG frames (and, with --wav, what it plays as a WAV file).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "driver/disk.h"
#include "driver/show.h"
#include "platform/cli.h"
#include "tools/capture/capture_args.h"
#include "tools/common/file_io.h"
#include "platform/headless/headless.h"
#include "platform/window.h"
#include "tools/common/png_io.h"
#include "tools/common/wav_io.h"

namespace {

const char* const Usage =
    "usage: musicdisk-capture [options]\n"
    "\n"
    "Runs the show without a display, on a virtual clock, and writes its frames as PNG,\n"
    "its sound as WAV, or both together as a video.\n"
    "\n"
    "  --seconds S       show time to run (default 2); Escape is pressed at S\n"
    "  --fps F           frames per second of show time (default 50)\n"
    "  --png-every N     write every Nth frame (frame 0 first)\n"
    "  --at T1,T2,...    write the first frame at or after each show time (seconds)\n"
    "  --out DIR         folder for the PNG files (made if missing); names are\n"
    "                    frame_NNNNN_TTTTTTms.png (frame number, show time)\n"
    "  --keys LIST       scripted keys, comma-separated TIME:KEY[:hold|:release]\n"
    "                    KEY: left right up down enter escape alt+enter; a plain\n"
    "                    TIME:KEY presses the key and releases it 100 ms later\n"
    "  --wav FILE        write what the show played as 44100 Hz 16-bit stereo WAV,\n"
    "                    from the show's start, the sound buffer's latency included;\n"
    "                    - is standard output\n"
    "  --video FILE      write the frames and the sound as a video (through ffmpeg; the\n"
    "                    container and codecs follow the name: .mp4, .mkv, .webm, ...)\n"
    "  --scale N         the video's pixels per show pixel, nearest neighbour (default 2)\n"
    "  --disk FILE       show the disk whose block ends FILE (a program made by\n"
    "                    musicdisk-make); without it, the built-in disk\n"
    "  -q, --quiet       no report and no warnings\n"
    "  -v, --verbose     more detail\n"
    "  -h, --help        this text\n"
    "  --version         the version\n"
    "\n"
    "Exit status: 0 when the show ran and ended as the user ends it, 1 when it reported an\n"
    "error or an output could not be written, 2 wrong usage.\n"
    "\n"
    "example: musicdisk-capture --seconds 10 --keys 5.0:right --wav show.wav --png-every 25 --out frames\n"
    "         musicdisk-capture --seconds 20 --video show.mp4\n";

Cli TheCli{"musicdisk-capture", Usage};

struct Options {
  double seconds = 2.0;
  double fps = 50.0;
  long png_every = 0;
  std::vector<uint32_t> at_ms;
  std::string out;
  std::string wav;
  std::string video;
  long scale = 2;
  std::vector<HeadlessKey> keys;
  std::string disk;
};

[[noreturn]] void fail(const std::string& message) { cli_usage_error(TheCli, message); }

double parse_number(const std::string& text, const char* what) {
  double v = 0;
  std::string error;
  if (!parse_capture_number(text, what, v, error)) fail(error);
  return v;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t p = text.find(sep, start);
    parts.push_back(text.substr(start, p - start));
    if (p == std::string::npos) return parts;
    start = p + 1;
  }
}

Options parse(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1,
                              {{"seconds", 0, true}, {"fps", 0, true}, {"png-every", 0, true}, {"at", 0, true},
                               {"out", 0, true}, {"wav", 0, true}, {"keys", 0, true}, {"video", 0, true},
                               {"scale", 0, true}, {"disk", 0, true}});
  if (!a.positional.empty()) fail("unexpected argument '" + a.positional[0] + "'");
  Options o;
  for (const auto& [name, value] : a.options) {
    if (name == "seconds") {
      o.seconds = parse_number(value, "--seconds");
      if (o.seconds <= 0 || o.seconds > CaptureMaxSeconds) fail("--seconds must be above 0 and at most 86400");
    } else if (name == "fps") {
      o.fps = parse_number(value, "--fps");
      if (o.fps < 1 || o.fps > 1000) fail("--fps must be from 1 to 1000");
    } else if (name == "png-every") {
      double n = parse_number(value, "--png-every");
      if (n < 1 || n != std::floor(n) || n > 1e9) fail("--png-every must be a whole number from 1");
      o.png_every = static_cast<long>(n);
    } else if (name == "at") {
      std::string error;
      if (!parse_capture_times(value, o.at_ms, error)) fail(error);
    } else if (name == "out") {
      o.out = value;
    } else if (name == "wav") {
      o.wav = value;
    } else if (name == "video") {
      o.video = value;
    } else if (name == "scale") {
      long long n = 0;
      if (!cli_integer(value, 1, 8, n)) fail("--scale must be a whole number from 1 to 8");
      o.scale = static_cast<long>(n);
    } else if (name == "disk") {
      o.disk = value;
      if (o.disk.empty()) fail("--disk needs a file name");
    } else if (name == "keys") {
      std::string error;
      if (!parse_capture_keys(value, o.keys, error)) fail(error);
    }
  }
  if ((o.png_every > 0 || !o.at_ms.empty()) && o.out.empty()) fail("--png-every and --at need --out DIR");
  if (!o.out.empty() && o.png_every == 0 && o.at_ms.empty()) fail("--out needs --png-every or --at");
  if (a.has("scale") && o.video.empty()) fail("--scale is for --video");
  if (o.video == "-") fail("--video needs a file name (the container follows its extension)");
  return o;
}

// The folders of PATH searched for a program, as the shell would.
bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  for (const std::string& folder : split(path, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Single quotes for the shell.
std::string shell_quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}


// The show's sound written as it is heard, so a long run keeps none of it in memory: a
// 16-bit stereo WAV whose header, for the frames up to the end of the run, goes first. When
// the show ends sooner, a file's header is put right; a pipe or device gets silence instead.
struct WavStream {
  OutputFile out;
  uint64_t wanted = 0, written = 0;
  bool failed = false;
  std::string error;
  std::vector<uint8_t> bytes;

  bool open(const std::string& path, uint64_t frames, std::string& message) {
    wanted = frames;
    const std::vector<uint8_t> header = wav_header(frames, 2, 44100);
    if (!open_output(path, out, message)) return false;
    if (!write_output(out, header.data(), header.size(), message)) {
      discard_output(out);
      return false;
    }
    return true;
  }
  void write(const int16_t* samples, uint64_t frames) {
    if (failed || out.fd < 0) return;
    frames = std::min(frames, wanted - written);
    bytes.resize(static_cast<size_t>(frames) * 4);
    for (size_t i = 0; i < frames * 2; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(samples[i]);
      bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
    }
    if (!write_output(out, bytes.data(), bytes.size(), error)) failed = true;
    written += frames;
  }
  bool finish(std::string& message) {
    if (!failed && written < wanted) {
      if (!out.temporary.empty()) {
        const std::vector<uint8_t> header = wav_header(written, 2, 44100);
        if (pwrite(out.fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) {
          error = "cannot write " + out.path + ": " + std::strerror(errno);
          failed = true;
        }
      } else {
        const std::vector<uint8_t> silence(4096, 0);
        while (!failed && written < wanted) {
          const uint64_t n = std::min<uint64_t>(1024, wanted - written);
          if (!write_output(out, silence.data(), static_cast<size_t>(n) * 4, error)) failed = true;
          written += n;
        }
      }
    }
    if (failed) {
      discard_output(out);
      message = error;
      return false;
    }
    return finish_output(out, message);
  }
};

// The video: frames go to a first ffmpeg as they are shown (losslessly, into a temporary
// folder, with the sound beside them), and when the show has ended a second ffmpeg joins
// them into the named file, scaled up nearest-neighbour. Everything it makes is removed if
// the run fails or is ended by SIGINT or SIGTERM.
struct VideoWriter {
  std::string folder;  // temporary folder
  std::string frames_path, sound_path, part;
  FILE* pipe = nullptr;
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;
  bool failed = false;
  WavStream sound;

  bool start(const Options& o, uint64_t sound_frames, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/musicdisk-capture-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
      error = "cannot make a temporary folder for the video: " + std::string(std::strerror(errno));
      return false;
    }
    folder = buffer.data();
    frames_path = folder + "/frames.mkv";
    sound_path = folder + "/sound.wav";
    // Into a temporary name beside the output (keeping its extension, which picks the
    // container), then into place, so a failed run leaves no partial video.
    const std::filesystem::path target(o.video);
    part = (target.parent_path() / (".part-" + std::to_string(getpid()) + "-" + target.filename().string())).string();
    remove_on_signal(folder);
    remove_on_signal(frames_path);
    remove_on_signal(sound_path);
    remove_on_signal(part);
    // An ffmpeg that gives up makes the frame writes fail rather than end this program.
    std::signal(SIGPIPE, SIG_IGN);
    return sound.open(sound_path, sound_frames, error);
  }
  void frame(const HeadlessFrame& f, double fps) {
    if (failed) return;
    if (pipe == nullptr) {
      width = f.width;
      height = f.height;
      char rate[32];
      std::snprintf(rate, sizeof rate, "%.6g", fps);
      const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f rawvideo -pix_fmt bgr0 -s " +
                                  std::to_string(width) + "x" + std::to_string(height) + " -r " + rate +
                                  " -i - -c:v ffv1 " + shell_quoted(frames_path);
      pipe = popen(command.c_str(), "w");
      if (pipe == nullptr) {
        failed = true;
        return;
      }
    }
    // A frame of another size (the display switched) is fitted to the first one's.
    bytes.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int sx = f.width == width ? x : static_cast<int>(static_cast<int64_t>(x) * f.width / width);
        const int sy = f.height == height ? y : static_cast<int>(static_cast<int64_t>(y) * f.height / height);
        const uint32_t p = f.pixels[static_cast<size_t>(sy) * static_cast<size_t>(f.width) + static_cast<size_t>(sx)];
        uint8_t* d = &bytes[4 * (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x))];
        d[0] = static_cast<uint8_t>(p);
        d[1] = static_cast<uint8_t>(p >> 8);
        d[2] = static_cast<uint8_t>(p >> 16);
        d[3] = 0;
      }
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), pipe) != bytes.size()) failed = true;
  }
  bool finish(const Options& o, std::string& error) {
    if (pipe == nullptr || pclose(pipe) != 0 || failed) {
      pipe = nullptr;
      error = "cannot write " + o.video + ": ffmpeg could not take the frames";
      return false;
    }
    pipe = nullptr;
    if (!sound.finish(error)) return false;
    const std::string scale = std::to_string(o.scale);
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + shell_quoted(frames_path) +
                                " -i " + shell_quoted(sound_path) + " -map 0:v -map 1:a -vf scale=iw*" + scale + ":ih*" +
                                scale + ":flags=neighbor -pix_fmt yuv420p -shortest " + shell_quoted(part);
    const int status = std::system(command.c_str());
    std::error_code ec;
    if (status != 0) {
      std::filesystem::remove(part, ec);
      error = "cannot write " + o.video + ": ffmpeg failed (exit " +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
      return false;
    }
    // An ffmpeg may end with success having written nothing (a stand-in, a broken build).
    if (std::filesystem::file_size(part, ec) == 0 || ec) {
      std::filesystem::remove(part, ec);
      error = "cannot write " + o.video + ": ffmpeg ended without writing it";
      return false;
    }
    std::filesystem::rename(part, o.video, ec);
    if (ec) {
      const std::string cause = ec.message();
      std::filesystem::remove(part, ec);
      error = "cannot write " + o.video + ": " + cause;
      return false;
    }
    return true;
  }
  ~VideoWriter() {
    if (pipe != nullptr) pclose(pipe);
    if (sound.out.fd >= 0) discard_output(sound.out);
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    keep_after_signal(frames_path);
    keep_after_signal(sound_path);
    keep_after_signal(part);
    keep_after_signal(folder);
  }
};

// Whether the video can be written where it is named: its folder exists and takes new files,
// and the name is no folder. Checked before anything is made.
bool video_path_usable(const std::string& path, std::string& error) {
  const std::filesystem::path target(path);
  const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) {
    error = "cannot write " + path + ": " + std::strerror(EISDIR);
    return false;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  std::string error;
  const uint32_t end_ms = static_cast<uint32_t>(std::llround(o.seconds * 1000.0));
  // The sound up to the moment Escape ends the show.
  const uint64_t sound_frames = uint64_t{end_ms} * 441 / 10;

  // Every output and ffmpeg are checked before anything is written, so a run that cannot
  // finish leaves nothing behind.
  if (!o.video.empty()) {
    if (!on_path("ffmpeg"))
      return cli_fail(TheCli, "--video needs the ffmpeg program, which is not installed (Debian package: ffmpeg)");
    if (!video_path_usable(o.video, error)) return cli_fail(TheCli, error);
  }
  WavStream wav;
  if (!o.wav.empty() && !wav.open(o.wav, sound_frames, error)) return cli_fail(TheCli, error);
  VideoWriter video;
  if (!o.video.empty() && !video.start(o, sound_frames, error)) {
    if (!o.wav.empty()) discard_output(wav.out);
    return cli_fail(TheCli, error);
  }
  if (!o.out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec) {
      if (!o.wav.empty()) discard_output(wav.out);
      return cli_fail(TheCli, "cannot make folder " + o.out + ": " + ec.message());
    }
  }

  HeadlessConfig config;
  config.frame_us = static_cast<uint32_t>(std::llround(1e6 / o.fps));
  config.keys = o.keys;
  config.keys.push_back({end_ms, VK_ESCAPE, true, false});

  reset_show_state();
  headless_reset(config);
  set_disk_file(o.disk);
  // The sound goes straight to the outputs that want it; none is kept.
  headless_set_sound_sink([&](const int16_t* samples, size_t frames) {
    if (!o.wav.empty()) wav.write(samples, frames);
    if (!o.video.empty()) video.sound.write(samples, frames);
  });

  const std::vector<uint32_t>& at_ms = o.at_ms;
  std::vector<bool> at_done(at_ms.size(), false);
  long frame_number = 0;
  long written = 0;
  bool write_failed = false;

  headless_set_present_hook([&](const HeadlessFrame& frame) {
    const uint32_t now = headless_elapsed_ms();
    bool want = o.png_every > 0 && frame_number % o.png_every == 0;
    for (size_t i = 0; i < at_ms.size(); ++i) {
      if (!at_done[i] && now >= at_ms[i]) {
        at_done[i] = true;
        want = true;
      }
    }
    if (want && !write_failed) {
      char name[64];
      std::snprintf(name, sizeof name, "frame_%05ld_%07ums.png", frame_number, now);
      RgbImage image{frame.width, frame.height, frame.pixels};
      if (write_png((std::filesystem::path(o.out) / name).string(), image, error)) {
        cli_detail(TheCli, "wrote " + (std::filesystem::path(o.out) / name).string());
        ++written;
      } else {
        write_failed = true;
      }
    }
    if (!o.video.empty()) video.frame(frame, o.fps);
    ++frame_number;
  });

  const int code = headless_run([] {
    run_show();
    exit_process(show_exit_code());
  });
  headless_set_sound_sink(nullptr);
  if (write_failed) {
    if (!o.wav.empty()) discard_output(wav.out);
    return cli_fail(TheCli, error);
  }
  if (!o.wav.empty() && !wav.finish(error)) return cli_fail(TheCli, error);
  if (!o.video.empty() && !video.finish(o, error)) return cli_fail(TheCli, error);
  for (const std::string& m : headless_stats().messages) {
    std::fprintf(stderr, "musicdisk-capture: the show reported \"%s\"\n", m.c_str());
  }
  // The report goes where it cannot mix with a WAV on standard output.
  if (TheCli.verbosity >= 1)
    std::fprintf(o.wav == "-" ? stderr : stdout, "%ld frames presented, %ld written, show ended with exit code %d\n",
                 frame_number, written, code);
  return code == 0 ? 0 : 1;
}
