// The real program in a real window: each test starts its own virtual X server (Xvfb),
// runs musicdisk on it, reads the screen back and drives it with real key events
// (xdotool) and the window manager's close request. Sound goes to SDL's dummy driver.
//
// These tests need Xvfb and xdotool (scripts/install-deps.sh installs them); without them
// they fail and say so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "render/framebuffer.h"
#include "render/plane.h"

// After everything else: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void sleep_for_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Starts a program found on PATH with extra environment entries; -1 when it cannot start.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env_extra = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<std::string> env_strings(env_extra);
  for (char** e = environ; *e != nullptr; ++e) {
    env_strings.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : env_strings) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  int exec_failed[2];
  if (pipe2(exec_failed, O_CLOEXEC) != 0) {
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // Whatever happens to the test, its server and show do not outlive it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execvpe(argv[0], argv.data(), envp.data());
    const char failed = 1;
    [[maybe_unused]] ssize_t n = write(exec_failed[1], &failed, 1);
    _exit(127);
  }
  close(exec_failed[1]);
  char failed = 0;
  const bool started = pid > 0 && read(exec_failed[0], &failed, 1) == 0;
  close(exec_failed[0]);
  if (pid > 0 && !started) {
    waitpid(pid, nullptr, 0);
  }
  return started ? pid : -1;
}

// The exit code, -2 when killed by a signal, or -1 when still running after `timeout_ms`.
int wait_exit(pid_t pid, int timeout_ms) {
  const Clock::time_point start = Clock::now();
  while (true) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    if (r < 0 || ms_since(start) >= timeout_ms) {
      return -1;
    }
    sleep_for_ms(5);
  }
}

void stop(pid_t pid) {
  if (pid > 0 && wait_exit(pid, 0) == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// What the screen shows, as 0x00RRGGBB with each channel's bits at the top of its byte.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

uint32_t channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) {
    return 0;
  }
  int shift = 0;
  while (((mask >> shift) & 1) == 0) {
    ++shift;
  }
  int bits = 0;
  while (((mask >> (shift + bits)) & 1) != 0) {
    ++bits;
  }
  const uint32_t v = static_cast<uint32_t>((pixel & mask) >> shift);
  return bits >= 8 ? v >> (bits - 8) : v << (8 - bits);
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

class Xvfb {
 public:
  // Starts a server on a free display number with one screen of this size and depth.
  void start(int width, int height, int depth) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    server_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                     "-noreset"});
    close(fds[1]);
    ASSERT_GT(server_, 0) << "cannot start Xvfb: is it installed? (scripts/install-deps.sh installs xvfb)";
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    const Clock::time_point start = Clock::now();
    char c = 0;
    while (ms_since(start) < 10000 && poll(&p, 1, 100) >= 0) {
      if ((p.revents & POLLIN) != 0) {
        if (read(fds[0], &c, 1) != 1 || c == '\n') {
          break;
        }
        number += c;
      } else if ((p.revents & POLLHUP) != 0) {
        break;
      }
    }
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not report a display number";
    name_ = ":" + number;
    display_ = XOpenDisplay(name_.c_str());
    ASSERT_NE(display_, nullptr) << "cannot connect to Xvfb at " << name_;
    // A window can go away between listing and asking about it; such errors are no failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }

  ~Xvfb() {
    if (display_ != nullptr) {
      XCloseDisplay(display_);
    }
    stop(wm_);
    if (server_ > 0) {
      kill(server_, SIGTERM);
      if (wait_exit(server_, 3000) == -1) {
        stop(server_);
      }
    }
  }

  const std::string& name() const { return name_; }

  // A window manager, for what only one can do: fullscreen on request (the show asks for it
  // the way desktops expect, through the window manager).
  void start_window_manager() {
    wm_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + name_});
    ASSERT_GT(wm_, 0) << "cannot start openbox: is it installed? (scripts/install-deps.sh installs it)";
    const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    const Clock::time_point start = Clock::now();
    while (ms_since(start) < 10000) {
      Atom type = 0;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      const bool ready = XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, AnyPropertyType,
                                            &type, &format, &count, &after, &data) == Success &&
                         count > 0;
      if (data != nullptr) {
        XFree(data);
      }
      if (ready) {
        return;
      }
      sleep_for_ms(20);
    }
    FAIL() << "openbox did not come up";
  }

  // The mapped window titled "musicdisk", or 0. A window manager puts it inside a frame
  // of its own, so the search goes a few levels down.
  Window find_show_window() { return find_titled(DefaultRootWindow(display_), "musicdisk", 3); }

  Window wait_for_show_window(int timeout_ms) {
    const Clock::time_point start = Clock::now();
    Window w = 0;
    while ((w = find_show_window()) == 0 && ms_since(start) < timeout_ms) {
      sleep_for_ms(20);
    }
    return w;
  }

  Geometry geometry(Window w) {
    XWindowAttributes a;
    Geometry g;
    if (XGetWindowAttributes(display_, w, &a) != 0) {
      Window child = 0;
      XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &g.x, &g.y, &child);
      g.width = a.width;
      g.height = a.height;
    }
    return g;
  }

  Shot screenshot() {
    Shot s;
    Window root = DefaultRootWindow(display_);
    XWindowAttributes a;
    XGetWindowAttributes(display_, root, &a);
    XImage* image = XGetImage(display_, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (image == nullptr) {
      return s;
    }
    s.width = a.width;
    s.height = a.height;
    s.pixels.resize(static_cast<size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        s.pixels[static_cast<size_t>(y) * a.width + x] = (channel(p, image->red_mask) << 16) |
                                                        (channel(p, image->green_mask) << 8) |
                                                        channel(p, image->blue_mask);
      }
    }
    XDestroyImage(image);
    return s;
  }

  // Keyboard input goes to the focus window; there is no window manager to give it.
  void focus(Window w) {
    XSetInputFocus(display_, w, RevertToParent, CurrentTime);
    XSync(display_, False);
  }

  // What a window manager sends when the close box is clicked.
  void request_close(Window w) {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, w, False, NoEventMask, &e);
    XSync(display_, False);
  }

 private:
  Window find_titled(Window parent_window, const char* wanted, int depth) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display_, parent_window, &root, &parent, &children, &count) == 0) {
      return 0;
    }
    for (unsigned int i = 0; i < count && found == 0; ++i) {
      char* title = nullptr;
      XWindowAttributes a;
      if (XFetchName(display_, children[i], &title) != 0 && title != nullptr) {
        if (std::strcmp(title, wanted) == 0 && XGetWindowAttributes(display_, children[i], &a) != 0 &&
            a.map_state == IsViewable) {
          found = children[i];
        }
        XFree(title);
      }
      if (found == 0 && depth > 1) {
        found = find_titled(children[i], wanted, depth - 1);
      }
    }
    if (children != nullptr) {
      XFree(children);
    }
    return found;
  }

  pid_t server_ = -1;
  pid_t wm_ = -1;
  std::string name_;
  Display* display_ = nullptr;
};

// Presses keys with xdotool (real key events through the XTEST extension) and holds them
// for a tenth of a second, as a hand does: the show reads which keys are held once per
// frame, so a tap shorter than a frame (xdotool's own is about 10 ms) can pass unseen.
void press(const Xvfb& x, const std::string& keys) {
  const pid_t pid = spawn({"xdotool", "keydown", keys, "sleep", "0.1", "keyup", keys}, {"DISPLAY=" + x.name()});
  ASSERT_GT(pid, 0) << "cannot start xdotool: is it installed? (scripts/install-deps.sh installs it)";
  ASSERT_EQ(wait_exit(pid, 5000), 0) << "xdotool key " << keys;
}

// The show's process; killed at the end of the test if it is still running.
struct Show {
  explicit Show(const Xvfb& x) : pid(spawn({MUSICDISK_PROGRAM}, {"DISPLAY=" + x.name(), "SDL_AUDIODRIVER=dummy"})) {}
  ~Show() { stop(pid); }
  Show(const Show&) = delete;
  Show& operator=(const Show&) = delete;
  pid_t pid;
};

// The two colours of the plane's checkerboard on frame row y (and the first colour of the
// row below, which a square's edge can show), reduced to what the screen's depth keeps.
bool is_plane_colour(uint32_t pixel, int frame_row, uint32_t keep) {
  const int i = frame_row - PlaneFirstRow;
  for (int k : {0, 1, 2}) {
    const int row = std::min(i + k / 2, 299 - PlaneFirstRow);
    const uint32_t grey = static_cast<uint32_t>(plane_level(row)) * 0x010101u;
    const uint32_t colour = modulate_colour(k == 1 ? 0x304060 : 0x405070, grey);
    if ((colour & keep) == (pixel & keep)) {
      return true;
    }
  }
  return false;
}

// Looks for the scene in a 400 x 300 frame shown at `area` (any size): the black top rows,
// the raster bars over the band below them, and the plane's checkerboard at the bottom.
void expect_scene(const Shot& shot, const Geometry& area, uint32_t keep, bool exact_plane) {
  ASSERT_GT(shot.width, 0) << "no screenshot";
  const auto frame_pixel = [&](int fx, int fy) {
    return shot.at(area.x + (fx * area.width) / 400, area.y + (fy * area.height) / 300);
  };
  // Rows 0 to 7 are never drawn.
  int black = 0;
  for (int fy = 0; fy < 8; ++fy) {
    for (int fx = 0; fx < 400; fx += 4) {
      black += (frame_pixel(fx, fy) & keep) == 0 ? 1 : 0;
    }
  }
  EXPECT_GE(black, 8 * 100 * 9 / 10) << "the top rows are black";

  // The bars: rows 8 to 127 lit, in many different colours.
  int lit_rows = 0;
  std::vector<uint32_t> row_colours;
  for (int fy = 8; fy < 128; ++fy) {
    const uint32_t c = frame_pixel(200, fy);
    lit_rows += ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 48 ? 1 : 0;
    if (std::find(row_colours.begin(), row_colours.end(), c) == row_colours.end()) {
      row_colours.push_back(c);
    }
  }
  EXPECT_GE(lit_rows, 100) << "the raster bars light the band under the top rows";
  EXPECT_GE(row_colours.size(), 16u) << "bars of many colours";

  // The plane: the checkerboard's two colours of each row, both present.
  int plane = 0, total = 0, blue = 0;
  bool saw_a = false, saw_b = false;
  for (int fy = 200; fy < 300; fy += 2) {
    const uint32_t a = modulate_colour(0x405070, static_cast<uint32_t>(plane_level(fy - PlaneFirstRow)) * 0x010101u);
    for (int fx = 0; fx < 400; fx += 2) {
      const uint32_t p = frame_pixel(fx, fy);
      ++total;
      plane += is_plane_colour(p, fy, keep) ? 1 : 0;
      const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      blue += (b >= g && g >= r && b > 0x20) ? 1 : 0;
      saw_a = saw_a || (p & keep) == (a & keep);
      saw_b = saw_b || ((p & keep) != (a & keep) && is_plane_colour(p, fy, keep));
    }
  }
  if (exact_plane) {
    EXPECT_GE(plane, total * 6 / 10) << "the plane's colours fill the bottom of the frame";
    EXPECT_TRUE(saw_a && saw_b) << "both squares of the checkerboard";
  }
  EXPECT_GE(blue, total * 6 / 10) << "the plane's blue fills the bottom of the frame";
}

class RealWindow : public ::testing::TestWithParam<int> {};

TEST_P(RealWindow, ShowsTheSceneAndEscapeEndsItWithExitCodeZero) {
  Xvfb x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, GetParam()));
  const Clock::time_point started = Clock::now();
  const Show running(x);
  const pid_t show = running.pid;
  ASSERT_GT(show, 0);
  const Window w = x.wait_for_show_window(10000);
  ASSERT_NE(w, 0u) << "no window titled musicdisk";
  const Geometry g = x.geometry(w);
  EXPECT_EQ(g.width, 400);
  EXPECT_EQ(g.height, 300);
  sleep_for_ms(static_cast<int>(std::max<int64_t>(0, 2000 - ms_since(started))));
  ASSERT_EQ(wait_exit(show, 0), -1) << "the show is running";

  // At 16 bits the screen keeps the top 5, 6 and 5 bits of the channels.
  const uint32_t keep = GetParam() == 16 ? 0xF8FCF8 : 0xFFFFFF;
  expect_scene(x.screenshot(), g, keep, true);

  x.focus(w);
  press(x, "Escape");
  EXPECT_EQ(wait_exit(show, 1000), 0) << "Escape ends the show with exit code 0 within a second";
}

INSTANTIATE_TEST_SUITE_P(Depths, RealWindow, ::testing::Values(24, 16),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Screen" + std::to_string(info.param) + "Bits";
                         });

TEST(RealWindowModes, AltEnterGoesFullscreenAndBack) {
  Xvfb x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24));
  ASSERT_NO_FATAL_FAILURE(x.start_window_manager());
  const Show running(x);
  const pid_t show = running.pid;
  ASSERT_GT(show, 0);
  const Window w = x.wait_for_show_window(10000);
  ASSERT_NE(w, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  const Geometry windowed = x.geometry(w);
  x.focus(w);
  sleep_for_ms(300);

  press(x, "alt+Return");
  sleep_for_ms(800);
  ASSERT_EQ(wait_exit(show, 0), -1) << "still running after going fullscreen";
  const Geometry full = x.geometry(w);
  EXPECT_EQ(full.width, 1280);
  EXPECT_EQ(full.height, 800);
  // The frame fills the largest centred 4:3 area, black at the sides.
  const Shot shot = x.screenshot();
  const Geometry area = {(1280 - 1066) / 2, 0, 1066, 800};
  expect_scene(shot, area, 0xFFFFFF, false);
  int side_black = 0;
  for (int y = 0; y < 800; y += 8) {
    side_black += (shot.at(10, y) == 0 && shot.at(1270, y) == 0) ? 1 : 0;
  }
  EXPECT_EQ(side_black, 100) << "black beside the 4:3 area";

  x.focus(w);
  press(x, "alt+Return");
  sleep_for_ms(800);
  ASSERT_EQ(wait_exit(show, 0), -1) << "still running after coming back";
  const Geometry back = x.geometry(w);
  EXPECT_EQ(back.width, windowed.width);
  EXPECT_EQ(back.height, windowed.height);
  EXPECT_EQ(back.x, windowed.x);
  EXPECT_EQ(back.y, windowed.y);
  expect_scene(x.screenshot(), back, 0xFFFFFF, true);

  x.focus(w);
  press(x, "Escape");
  EXPECT_EQ(wait_exit(show, 2000), 0);
}

TEST(RealWindowModes, ClosingTheWindowEndsWithExitCodeZero) {
  Xvfb x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  const Show running(x);
  const pid_t show = running.pid;
  ASSERT_GT(show, 0);
  const Window w = x.wait_for_show_window(10000);
  ASSERT_NE(w, 0u);
  sleep_for_ms(500);
  x.request_close(w);
  // Generous: on a loaded machine the first frames of a new process can be slow.
  EXPECT_EQ(wait_exit(show, 5000), 0) << "-1: still running, -2: killed by a signal";
}

}  // namespace
