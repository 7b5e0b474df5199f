// For the shell tests of the real program: waits until the show's scene is on the screen of
// a running X server. Exit code 0 once it is there, 1 when it never came (with what was
// missing), 2 on wrong usage.
//
//   md-xprobe :N TIMEOUT_SECONDS [PID]
//
// With PID, gives up as soon as that process has ended.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/x_session.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: md-xprobe :N TIMEOUT_SECONDS [PID]\n");
    return 2;
  }
  const pid_t pid = argc == 4 ? static_cast<pid_t>(std::atoi(argv[3])) : -1;
  xtest::XServer x;
  if (const std::string why = x.attach(argv[1]); !why.empty()) {
    std::fprintf(stderr, "md-xprobe: %s\n", why.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  XWindow window = 0;
  bool ended = false;
  std::string missing = "no window titled musicdisk";
  const bool found = xtest::wait_until(std::atoi(argv[2]) * 1000, 100, [&] {
    ended = pid > 0 && kill(pid, 0) != 0;
    if (window == 0) window = x.find_window("^musicdisk$", 0);
    if (ended || window == 0) return ended;
    // The frame 1:1 in the window, or (under Wine, before its window has settled) anywhere.
    const xtest::Geometry g = x.geometry(window);
    const xtest::Shot shot = x.screenshot();
    int fx = 0, fy = 0;
    if (xtest::frame_at(shot, g.x, g.y) || xtest::find_frame(shot, &fx, &fy)) return true;
    missing = xtest::describe(xtest::scene_faults(shot, {g.x, g.y, 400, 300}, 0xFFFFFF, false));
    return false;
  });
  if (ended || !found) {
    std::fprintf(stderr, "md-xprobe: %s on %s within %s s (%s)\n",
                 ended ? "the show ended before its scene was seen" : "no scene of the show", argv[1], argv[2],
                 missing.c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("the show's scene on %s after %.1f s\n", argv[1], seconds);
  return 0;
}
