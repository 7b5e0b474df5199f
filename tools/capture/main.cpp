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

#include "driver/show.h"
#include "platform/headless/headless.h"
#include "platform/window.h"
#include "tools/common/png_io.h"
#include "tools/common/wav_io.h"

namespace {

const char* const Usage =
    "usage: musicdisk-capture [options]\n"
    "\n"
    "Runs the show without a display, on a virtual clock, and writes its frames as PNG.\n"
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
    "                    from the show's start, the sound buffer's latency included\n"
    "  --help            this text\n"
    "\n"
    "example: musicdisk-capture --seconds 10 --keys 5.0:right --wav show.wav --png-every 25 --out frames\n";

struct Options {
  double seconds = 2.0;
  double fps = 50.0;
  long png_every = 0;
  std::vector<double> at;
  std::string out;
  std::string wav;
  std::vector<HeadlessKey> keys;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "musicdisk-capture: %s\n(try --help)\n", message.c_str());
  std::exit(2);
}

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
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail(a + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(Usage, stdout);
      std::exit(0);
    } else if (a == "--seconds") {
      o.seconds = parse_number(value(), "--seconds");
      if (o.seconds <= 0 || o.seconds > 86400) fail("--seconds must be above 0 and at most 86400");
    } else if (a == "--fps") {
      o.fps = parse_number(value(), "--fps");
      if (o.fps < 1 || o.fps > 1000) fail("--fps must be from 1 to 1000");
    } else if (a == "--png-every") {
      double n = parse_number(value(), "--png-every");
      if (n < 1 || n != std::floor(n)) fail("--png-every must be a whole number from 1");
      o.png_every = static_cast<long>(n);
    } else if (a == "--at") {
      for (const std::string& t : split(value(), ',')) {
        double v = parse_number(t, "--at time");
        if (v < 0) fail("--at times must not be negative");
        o.at.push_back(v);
      }
    } else if (a == "--out") {
      o.out = value();
    } else if (a == "--wav") {
      o.wav = value();
    } else if (a == "--keys") {
      parse_keys(value(), &o.keys);
    } else {
      fail("unknown option '" + a + "'");
    }
  }
  if ((o.png_every > 0 || !o.at.empty()) && o.out.empty()) fail("--png-every and --at need --out DIR");
  if (!o.out.empty() && o.png_every == 0 && o.at.empty()) fail("--out needs --png-every or --at");
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  if (!o.out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec) fail("cannot make folder " + o.out + ": " + ec.message());
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
  std::string error;
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
        ++written;
      } else {
        write_failed = true;
      }
    }
    ++frame_number;
  });

  const int code = headless_run([] {
    run_show();
    exit_process(show_exit_code());
  });
  if (write_failed) {
    std::fprintf(stderr, "musicdisk-capture: %s\n", error.c_str());
    return 1;
  }
  if (!o.wav.empty()) {
    std::vector<int16_t> sound = headless_heard_sound();
    // Up to the moment Escape ended the show.
    sound.resize(std::min(sound.size(), static_cast<size_t>(end_ms) * 441 / 10 * 2));
    if (!write_wav(o.wav, sound, 2, 44100, &error)) {
      std::fprintf(stderr, "musicdisk-capture: %s\n", error.c_str());
      return 1;
    }
  }
  for (const std::string& m : headless_stats().messages) {
    std::fprintf(stderr, "musicdisk-capture: the show reported \"%s\"\n", m.c_str());
  }
  std::printf("%ld frames presented, %ld written, show ended with exit code %d\n", frame_number, written, code);
  return code == 0 ? 0 : 1;
}
