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

#include "driver/show.h"
#include "platform/cli.h"
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
  std::vector<double> at;
  std::string out;
  std::string wav;
  std::string video;
  long scale = 2;
  std::vector<HeadlessKey> keys;
};

[[noreturn]] void fail(const std::string& message) { cli_usage_error(TheCli, message); }

double parse_number(const std::string& text, const char* what) {
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v)) {
    fail(std::string("bad ") + what + " '" + text + "'");
  }
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

void parse_keys(const std::string& list, std::vector<HeadlessKey>* keys) {
  for (const std::string& item : split(list, ',')) {
    std::vector<std::string> f = split(item, ':');
    if (f.size() < 2 || f.size() > 3) fail("bad key '" + item + "' (want TIME:KEY[:hold|:release])");
    double t = parse_number(f[0], "key time");
    if (t < 0 || t > 4e6) fail("key time out of range in '" + item + "'");
    uint32_t ms = static_cast<uint32_t>(std::llround(t * 1000.0));
    bool alt = false;
    uint32_t vk;
    const std::string& k = f[1];
    if (k == "left") vk = VK_LEFT;
    else if (k == "right") vk = VK_RIGHT;
    else if (k == "up") vk = VK_UP;
    else if (k == "down") vk = VK_DOWN;
    else if (k == "enter") vk = VK_RETURN;
    else if (k == "escape") vk = VK_ESCAPE;
    else if (k == "alt+enter") { vk = VK_RETURN; alt = true; }
    else fail("unknown key '" + k + "'");
    std::string mode = f.size() == 3 ? f[2] : "";
    if (mode == "hold") {
      keys->push_back({ms, vk, true, alt});
    } else if (mode == "release") {
      keys->push_back({ms, vk, false, alt});
    } else if (mode.empty()) {
      keys->push_back({ms, vk, true, alt});
      keys->push_back({ms + 100, vk, false, alt});
    } else {
      fail("bad key mode '" + mode + "' (want hold or release)");
    }
  }
}

Options parse(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1,
                              {{"seconds", 0, true}, {"fps", 0, true}, {"png-every", 0, true}, {"at", 0, true},
                               {"out", 0, true}, {"wav", 0, true}, {"keys", 0, true}, {"video", 0, true},
                               {"scale", 0, true}});
  if (!a.positional.empty()) fail("unexpected argument '" + a.positional[0] + "'");
  Options o;
  for (const auto& [name, value] : a.options) {
    if (name == "seconds") {
      o.seconds = parse_number(value, "--seconds");
      if (o.seconds <= 0 || o.seconds > 86400) fail("--seconds must be above 0 and at most 86400");
    } else if (name == "fps") {
      o.fps = parse_number(value, "--fps");
      if (o.fps < 1 || o.fps > 1000) fail("--fps must be from 1 to 1000");
    } else if (name == "png-every") {
      double n = parse_number(value, "--png-every");
      if (n < 1 || n != std::floor(n) || n > 1e9) fail("--png-every must be a whole number from 1");
      o.png_every = static_cast<long>(n);
    } else if (name == "at") {
      for (const std::string& t : split(value, ',')) {
        double v = parse_number(t, "--at time");
        if (v < 0) fail("--at times must not be negative");
        o.at.push_back(v);
      }
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
    } else if (name == "keys") {
      parse_keys(value, &o.keys);
    }
  }
  if ((o.png_every > 0 || !o.at.empty()) && o.out.empty()) fail("--png-every and --at need --out DIR");
  if (!o.out.empty() && o.png_every == 0 && o.at.empty()) fail("--out needs --png-every or --at");
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
std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}


// The video: frames go to a first ffmpeg as they are shown (losslessly, into a temporary
// file), and when the show has ended a second ffmpeg joins them with the sound into the
// named file, scaled up nearest-neighbour.
struct VideoWriter {
  std::string folder;  // temporary folder
  FILE* pipe = nullptr;
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;
  bool failed = false;

  bool start(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/musicdisk-capture-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
      error = "cannot make a temporary folder for the video: " + std::string(std::strerror(errno));
      return false;
    }
    folder = buffer.data();
    // An ffmpeg that gives up makes the frame writes fail rather than end this program.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
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
                                  " -i - -c:v ffv1 " + quoted(folder + "/frames.mkv");
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
  bool finish(const Options& o, const std::vector<int16_t>& sound, std::string& error) {
    if (pipe == nullptr || pclose(pipe) != 0 || failed) {
      pipe = nullptr;
      error = "cannot write " + o.video + ": ffmpeg could not take the frames";
      return false;
    }
    pipe = nullptr;
    const std::string wav = folder + "/sound.wav";
    if (!write_wav(wav, sound, 2, 44100, &error)) return false;
    // Into a temporary name beside the output (keeping its extension, which picks the
    // container), then into place, so a failed run leaves no partial video.
    const std::filesystem::path target(o.video);
    const std::filesystem::path part =
        target.parent_path() / (".part-" + std::to_string(getpid()) + "-" + target.filename().string());
    const std::string scale = std::to_string(o.scale);
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + quoted(folder + "/frames.mkv") +
                                " -i " + quoted(wav) + " -map 0:v -map 1:a -vf scale=iw*" + scale + ":ih*" + scale +
                                ":flags=neighbor -pix_fmt yuv420p -shortest " + quoted(part.string());
    const int status = std::system(command.c_str());
    std::error_code ec;
    if (status != 0) {
      std::filesystem::remove(part, ec);
      error = "cannot write " + o.video + ": ffmpeg failed (exit " +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
      return false;
    }
    std::filesystem::rename(part, target, ec);
    if (ec) {
      std::filesystem::remove(part, ec);
      error = "cannot write " + o.video + ": " + ec.message();
      return false;
    }
    return true;
  }
  ~VideoWriter() {
    if (pipe != nullptr) pclose(pipe);
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  std::string error;
  if (!o.out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec) return cli_fail(TheCli, "cannot make folder " + o.out + ": " + ec.message());
  }
  VideoWriter video;
  if (!o.video.empty()) {
    if (!on_path("ffmpeg"))
      return cli_fail(TheCli, "--video needs the ffmpeg program, which is not installed (Debian package: ffmpeg)");
    if (!video.start(error)) return cli_fail(TheCli, error);
  }

  HeadlessConfig config;
  config.frame_us = static_cast<uint32_t>(std::llround(1e6 / o.fps));
  config.keys = o.keys;
  const uint32_t end_ms = static_cast<uint32_t>(std::llround(o.seconds * 1000.0));
  config.keys.push_back({end_ms, VK_ESCAPE, true, false});

  reset_show_state();
  headless_reset(config);

  std::vector<uint32_t> at_ms;
  for (double t : o.at) at_ms.push_back(static_cast<uint32_t>(std::llround(t * 1000.0)));
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
  if (write_failed) return cli_fail(TheCli, error);
  std::vector<int16_t> sound;
  if (!o.wav.empty() || !o.video.empty()) {
    sound = headless_heard_sound();
    // Up to the moment Escape ended the show.
    sound.resize(std::min(sound.size(), static_cast<size_t>(end_ms) * 441 / 10 * 2));
  }
  if (!o.wav.empty() && !write_wav(o.wav, sound, 2, 44100, &error)) return cli_fail(TheCli, error);
  if (!o.video.empty() && !video.finish(o, sound, error)) return cli_fail(TheCli, error);
  for (const std::string& m : headless_stats().messages) {
    std::fprintf(stderr, "musicdisk-capture: the show reported \"%s\"\n", m.c_str());
  }
  // The report goes where it cannot mix with a WAV on standard output.
  if (TheCli.verbosity >= 1)
    std::fprintf(o.wav == "-" ? stderr : stdout, "%ld frames presented, %ld written, show ended with exit code %d\n",
                 frame_number, written, code);
  return code == 0 ? 0 : 1;
}
