// The Windows program (musicdisk.exe, cross-built) under Wine, in a real window on a virtual
// X server: each test starts its own Xvfb, runs the program with `wine`, reads the screen
// back and drives the show with real key events (xdotool). The Wine prefix is WINEPREFIX
// (scripts/windows.sh makes one); each test sets its desktop and stops the prefix's Wine
// server when it ends, so the next test's programs connect to their own X server.
//
// With Wine's virtual desktop the display can change modes (a 400 x 300 fullscreen mode is
// the desktop shrunk to that size); without it, on a bare Xvfb, every mode change is refused,
// which is the failed switch the show must survive.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "render/framebuffer.h"
#include "render/plane.h"

// After everything else: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Starts a program found on PATH with `env` added, its standard output to `out` unless -1.
// Killed when the test process dies, however that happens.
pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int out = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (out >= 0) dup2(out, 1);
    for (std::string& e : env) putenv(e.data());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit code (127: could not start), -2 when killed by a signal, or -1 when still
// running after `timeout_ms`.
int wait_exit(pid_t pid, int timeout_ms) {
  for (int waited = 0;; waited += 5) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    if (r < 0 || waited >= timeout_ms) return -1;
    sleep_ms(5);
  }
}

int run(std::vector<std::string> args, std::vector<std::string> env, int timeout_ms) {
  const pid_t pid = spawn(std::move(args), std::move(env));
  const int code = wait_exit(pid, timeout_ms);
  if (code == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return code;
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

struct Shot {
  int width = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A virtual X server with the Windows program running on it under Wine.
class Session {
 public:
  void start(bool virtual_desktop, int depth = 24) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string screen = "1024x768x" + std::to_string(depth);
    server_ = spawn({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, {}, fds[1]);
    close(fds[1]);
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') name_ += c;
    close(fds[0]);
    ASSERT_FALSE(name_.empty()) << "Xvfb did not start (is it installed?)";
    name_ = ":" + name_;
    ASSERT_NE(display_ = XOpenDisplay(name_.c_str()), nullptr) << "cannot connect to Xvfb at " << name_;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });

    // A Wine server left over from an earlier run would keep its desktop on that X server.
    run({"wineserver", "-k"}, {}, 10000);
    run({"wineserver", "-w"}, {}, 10000);
    const std::string key = "HKCU\\Software\\Wine\\Explorer";
    if (virtual_desktop) {
      ASSERT_EQ(run({"wine", "reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"}, env(), 60000), 0);
      ASSERT_EQ(run({"wine", "reg", "add", key + "\\Desktops", "/v", "Default", "/d", "1024x768", "/f"}, env(), 60000),
                0);
    } else {
      run({"wine", "reg", "delete", key, "/v", "Desktop", "/f"}, env(), 60000);
    }
    // The desktop is made as Wine starts: start it again with the setting in place.
    run({"wineserver", "-k"}, {}, 10000);
    run({"wineserver", "-w"}, {}, 10000);
    show_started = std::chrono::steady_clock::now();
    show = spawn({"wine", MUSICDISK_WINDOWS_PROGRAM}, env());
    window = find_window("^musicdisk$", 60000);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  }

  ~Session() {
    if (show > 0 && wait_exit(show, 0) == -1) {
      kill(show, SIGKILL);
      waitpid(show, nullptr, 0);
    }
    run({"wineserver", "-k"}, {}, 10000);
    if (display_ != nullptr) XCloseDisplay(display_);
    if (server_ > 0) {
      kill(server_, SIGTERM);
      if (wait_exit(server_, 3000) == -1) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
      }
    }
  }

  std::vector<std::string> env() const { return {"DISPLAY=" + name_, "WINEDEBUG=-all"}; }

  Geometry geometry(Window w) {
    XWindowAttributes a;
    Geometry g;
    Window child = 0;
    if (XGetWindowAttributes(display_, w, &a) != 0) {
      XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &g.x, &g.y, &child);
      g.width = a.width;
      g.height = a.height;
    }
    return g;
  }

  Shot screenshot() {
    Shot s;
    XWindowAttributes a;
    XGetWindowAttributes(display_, DefaultRootWindow(display_), &a);
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (image == nullptr) return s;
    s.width = a.width;
    // As 0x00RRGGBB with each channel's bits at the top of its byte.
    for (int i = 0; i < a.width * a.height; ++i) {
      const unsigned long p = XGetPixel(image, i % a.width, i / a.width);
      uint32_t rgb = 0;
      for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
        const int bits = __builtin_popcountl(mask);
        const uint32_t v = static_cast<uint32_t>((p & mask) >> __builtin_ctzl(mask));
        rgb = rgb << 8 | (bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
      }
      s.pixels.push_back(rgb);
    }
    XDestroyImage(image);
    return s;
  }

  // Clicks into the window (making it the active one) and holds the keys for a tenth of a
  // second, as a hand does: the show reads the held keys once per frame.
  void press(const std::string& keys, const Geometry& into) {
    const std::string x = std::to_string(into.x + into.width / 2), y = std::to_string(into.y + into.height / 2);
    ASSERT_EQ(run({"xdotool", "mousemove", x, y, "click", "1"}, env(), 5000), 0) << "xdotool (is it installed?)";
    sleep_ms(200);
    ASSERT_EQ(run({"xdotool", "keydown", keys, "sleep", "0.1", "keyup", keys}, env(), 5000), 0);
  }

  // Holds Escape until the show ends; its exit code, or -1 when it did not end.
  int escape(const Geometry& into) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      press("Escape", into);
      const int code = wait_exit(show, 3000);
      if (code != -1) return code;
    }
    return -1;
  }

  // What a window manager sends when the close box is clicked; Wine makes it the window's
  // close command.
  void request_close() {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &e);
    XSync(display_, False);
  }

  // The first mapped window whose name matches, or 0. Asked again and again: a search fails
  // outright when a window vanishes under it.
  Window find_window(const std::string& pattern, int timeout_ms) {
    const std::string command = "DISPLAY=" + name_ + " xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null";
    for (int waited = 0;; waited += 100) {
      FILE* out = popen(command.c_str(), "r");
      unsigned long id = 0;
      const bool found = out != nullptr && std::fscanf(out, "%lu", &id) == 1;
      if (out != nullptr) pclose(out);
      if (found) return static_cast<Window>(id);
      if (waited >= timeout_ms || (show > 0 && wait_exit(show, 0) != -1)) return 0;
      sleep_ms(100);
    }
  }

  // Screenshots until the show's frame is found (the first frames come after the unpacking,
  // which under Wine on a busy machine takes a while); false after `timeout_ms`.
  bool wait_for_frame(Shot* shot, int* x, int* y, int timeout_ms);

  pid_t show = -1;
  std::chrono::steady_clock::time_point show_started;
  Window window = 0;

 private:
  pid_t server_ = -1;
  std::string name_;
  Display* display_ = nullptr;
};

// Keeps a screenshot for a look afterwards (binary PPM in the test's working folder).
void save(const Shot& shot, const std::string& name) {
  FILE* f = std::fopen((name + ".ppm").c_str(), "wb");
  if (f == nullptr || shot.width == 0) {
    if (f != nullptr) std::fclose(f);
    return;
  }
  const int height = static_cast<int>(shot.pixels.size()) / shot.width;
  std::fprintf(f, "P6\n%d %d\n255\n", shot.width, height);
  for (uint32_t p : shot.pixels) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                  static_cast<unsigned char>(p)};
    std::fwrite(rgb, 1, 3, f);
  }
  std::fclose(f);
}

// The colours of the plane's checkerboard on frame row y (and the first of the row below,
// which a square's edge can show), reduced to the bits a screen of that depth keeps (at 16
// bits the top 5, 6 and 5 of the channels).
bool is_plane_colour(uint32_t pixel, int frame_row, uint32_t keep = 0xFFFFFF) {
  for (int k : {0, 1, 2}) {
    const int row = std::min(frame_row - PlaneFirstRow + k / 2, 299 - PlaneFirstRow);
    const uint32_t colour = modulate_colour(k == 1 ? 0x304060 : 0x405070, static_cast<uint32_t>(plane_level(row)) * 0x010101u);
    if ((colour & keep) == pixel) return true;
  }
  return false;
}

// The scene of a 400 x 300 frame shown 1:1 at (x, y): the black top rows, the raster bars
// over the band below them, and the plane's checkerboard in its exact colours at the bottom.
void expect_scene(const Shot& shot, int x, int y, uint32_t keep = 0xFFFFFF) {
  ASSERT_GT(shot.width, 0) << "no screenshot";
  const auto frame_pixel = [&](int fx, int fy) { return shot.at(x + fx, y + fy); };
  int black = 0, lit_rows = 0;
  for (int i = 0; i < 8 * 400; ++i) black += frame_pixel(i % 400, i / 400) == 0 ? 1 : 0;
  EXPECT_EQ(black, 8 * 400) << "rows 0 to 7 are never drawn";
  std::vector<uint32_t> row_colours;
  for (int fy = 8; fy < 128; ++fy) {
    const uint32_t c = frame_pixel(200, fy);
    lit_rows += ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 48 ? 1 : 0;
    if (std::find(row_colours.begin(), row_colours.end(), c) == row_colours.end()) row_colours.push_back(c);
  }
  EXPECT_GE(lit_rows, 90) << "the raster bars light the band under the top rows";
  EXPECT_GE(row_colours.size(), 16u) << "bars of many colours";
  int plane = 0, total = 0;
  bool saw_a = false, saw_b = false;
  for (int fy = 200; fy < 300; fy += 2) {
    const uint32_t a =
        modulate_colour(0x405070, static_cast<uint32_t>(plane_level(fy - PlaneFirstRow)) * 0x010101u) & keep;
    for (int fx = 0; fx < 400; fx += 2, ++total) {
      const uint32_t p = frame_pixel(fx, fy);
      const bool on_plane = is_plane_colour(p, fy, keep);
      plane += on_plane ? 1 : 0;
      saw_a = saw_a || p == a;
      saw_b = saw_b || (p != a && on_plane);
    }
  }
  // The sprites and the scroller cross the plane; everything else is its exact colours.
  EXPECT_GE(plane, total * 6 / 10) << "the plane's colours fill the bottom of the frame";
  EXPECT_TRUE(saw_a && saw_b) << "both squares of the checkerboard";
}

// Whether a frame of the show is at (x, y): its black top rows over the lit band of the bars.
bool frame_at(const Shot& shot, int x, int y) {
  const int height = static_cast<int>(shot.pixels.size()) / std::max(shot.width, 1);
  if (x < 0 || y < 0 || x + 400 > shot.width || y + 300 > height) return false;
  int black = 0, lit = 0;
  for (int fy = 0; fy < 8; ++fy) black += shot.at(x + 200, y + fy) == 0 ? 1 : 0;
  for (int fy = 8; fy < 128; ++fy) {
    const uint32_t c = shot.at(x + 200, y + fy);
    lit += c != 0 && c != 0xFFFFFF && c != 0xF8FCF8 ? 1 : 0;  // not the window's white
  }
  return black == 8 && lit >= 90;
}

// Where the frame's black top rows begin on Wine's desktop (which is not black): the start of
// a run of exactly 400 black pixels, with the raster bars lit below it.
bool find_frame(const Shot& shot, int* x, int* y) {
  const int height = static_cast<int>(shot.pixels.size()) / shot.width;
  for (int row = 0; row + 300 <= height; ++row) {
    int run = 0;
    for (int col = 0; col <= shot.width; ++col) {
      if (col < shot.width && shot.at(col, row) == 0) {
        ++run;
        continue;
      }
      if (run == 400 && frame_at(shot, col - 400, row)) {
        *x = col - 400;
        *y = row;
        return true;
      }
      run = 0;
    }
  }
  return false;
}

// Screenshots until the show's frame is at (x, y); false after `timeout_ms`.
bool wait_for_frame_at(Session& s, Shot* shot, int x, int y, int timeout_ms) {
  for (int waited = 0;; waited += 250) {
    *shot = s.screenshot();
    if (frame_at(*shot, x, y)) return true;
    if (waited >= timeout_ms || wait_exit(s.show, 0) != -1) return false;
    sleep_ms(250);
  }
}

bool Session::wait_for_frame(Shot* shot, int* x, int* y, int timeout_ms) {
  for (int waited = 0;; waited += 250) {
    *shot = screenshot();
    if (find_frame(*shot, x, y)) return true;
    if (waited >= timeout_ms || wait_exit(show, 0) != -1) return false;
    sleep_ms(250);
  }
}

TEST(WineWindow, ShowsTheSceneGoesFullscreenAndBackAndEscapeEndsIt) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(true));
  // Windowed: a 400 x 300 client area under the title bar, the frame shown 1:1.
  Shot shot;
  int x = -1, y = -1;
  const bool found = s.wait_for_frame(&shot, &x, &y, 60000);
  save(shot, "wine_windowed");
  ASSERT_TRUE(found) << "no frame on the screen";
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "the show is running";
  EXPECT_GT(y, 0) << "a title bar above the picture";
  expect_scene(shot, x, y);
  const Geometry windowed = {x, y, 400, 300};
  const Window desktop = s.find_window("Wine desktop$", 0);
  ASSERT_NE(desktop, 0u) << "Wine's virtual desktop";

  // Fullscreen: the display in a 400 x 300 mode (Wine's desktop shrinks to it), the frame
  // filling it.
  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", windowed));
  EXPECT_TRUE(wait_for_frame_at(s, &shot, 0, 0, 15000)) << "no frame at the screen's corner";
  sleep_ms(500);
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "still running after going fullscreen";
  EXPECT_EQ(s.find_window("^Error$", 0), 0u) << "no error report";
  const Geometry mode = s.geometry(desktop);
  EXPECT_EQ(std::vector<int>({mode.x, mode.y, mode.width, mode.height}), std::vector<int>({0, 0, 400, 300}));
  shot = s.screenshot();
  save(shot, "wine_fullscreen");
  expect_scene(shot, 0, 0);

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", {0, 0, 400, 300}));
  EXPECT_TRUE(wait_for_frame_at(s, &shot, windowed.x, windowed.y, 15000)) << "no frame back in the window";
  sleep_ms(500);
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "still running after coming back";
  const Geometry desk = s.geometry(desktop);
  EXPECT_EQ(std::vector<int>({desk.width, desk.height}), std::vector<int>({1024, 768})) << "the desktop's mode back";
  ASSERT_TRUE(s.wait_for_frame(&shot, &x, &y, 5000)) << "no frame on the screen back in the window";
  EXPECT_EQ(std::vector<int>({x, y}), std::vector<int>({windowed.x, windowed.y})) << "the window where it was";
  expect_scene(shot, x, y);

  // Alt pressed and let go alone must not stop the show in the system menu's keyboard mode.
  ASSERT_NO_FATAL_FAILURE(s.press("alt", windowed));
  sleep_ms(500);
  const Shot before = s.screenshot();
  sleep_ms(700);
  const Shot after = s.screenshot();
  int changed = 0;
  for (int fy = 8; fy < 300; ++fy) {
    for (int fx = 0; fx < 400; ++fx) changed += before.at(x + fx, y + fy) != after.at(x + fx, y + fy) ? 1 : 0;
  }
  EXPECT_GT(changed, 1000) << "the scene moves on after Alt alone";

  EXPECT_EQ(s.escape(windowed), 0) << "a held Escape ends the show with exit code 0";
}

TEST(WineWindow, AFailedModeSwitchIsReportedAndTheShowGoesOnInItsWindow) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  // Without a window manager or a virtual desktop, the window's X window becomes its client
  // area once Wine has settled it (at first it spans the whole window).
  Geometry client = s.geometry(s.window);
  for (int waited = 0; waited < 30000 && (client.width != 400 || client.height != 300); waited += 250) {
    sleep_ms(250);
    client = s.geometry(s.window);
  }
  ASSERT_EQ(std::vector<int>({client.width, client.height}), std::vector<int>({400, 300}));
  Shot shot;
  for (int waited = 0; waited < 60000 && wait_exit(s.show, 0) == -1; waited += 250) {
    shot = s.screenshot();
    if (frame_at(shot, client.x, client.y)) break;
    sleep_ms(250);
  }
  save(shot, "wine_bare_windowed");
  expect_scene(shot, client.x, client.y);

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", client));
  const Window box = s.find_window("^Error$", 10000);
  ASSERT_NE(box, 0u) << "the failed switch is reported in a message box";
  ASSERT_NO_FATAL_FAILURE(s.press("Return", s.geometry(box)));
  EXPECT_TRUE(wait_for_frame_at(s, &shot, client.x, client.y, 15000)) << "no frame back in the window";
  sleep_ms(500);
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "the show goes on after the report";
  EXPECT_EQ(s.find_window("^Error$", 0), 0u) << "one report: switching back worked";
  const Geometry back = s.geometry(s.window);
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({client.x, client.y, client.width, client.height}))
      << "the window where it was";
  shot = s.screenshot();
  save(shot, "wine_bare_back");
  expect_scene(shot, back.x, back.y);

  EXPECT_EQ(s.escape(back), 1) << "an error was reported, so the show ends with exit code 1";
}

// A 16-bit desktop: the windowed primary is 5-6-5 and the show converts into it.
TEST(WineWindow, ShowsTheSceneOnA16BitScreen) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false, 16));
  Geometry client = s.geometry(s.window);
  Shot shot;
  for (int waited = 0; waited < 60000 && !frame_at(shot, client.x, client.y); waited += 250) {
    sleep_ms(250);
    client = s.geometry(s.window);
    shot = s.screenshot();
  }
  sleep_ms(500);
  shot = s.screenshot();
  save(shot, "wine_16_bits");
  expect_scene(shot, client.x, client.y, 0xF8FCF8);
  EXPECT_EQ(s.escape(client), 0);
}

// A window made larger by the user: the display is rebuilt at the new size and the frame
// stretched over the whole client area, in the frame's exact colours.
TEST(WineWindow, ResizingTheWindowStretchesTheFrameOverIt) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  Geometry client = s.geometry(s.window);
  Shot shot;
  for (int waited = 0; waited < 60000 && !frame_at(shot, client.x, client.y); waited += 250) {
    sleep_ms(250);
    client = s.geometry(s.window);
    shot = s.screenshot();
  }
  ASSERT_TRUE(frame_at(shot, client.x, client.y)) << "no frame in the window";
  ASSERT_EQ(run({"xdotool", "windowsize", std::to_string(s.window), "600", "450"}, s.env(), 5000), 0);
  // 2:3 in both directions: destination row d shows frame row (d x step) >> 20.
  const int32_t step = (300 << 20) / 450;
  const auto source_row = [&](int d) { return static_cast<int>((static_cast<int64_t>(d) * step) >> 20); };
  int plane = 0, total = 0, black = 0;
  for (int waited = 0; waited < 15000; waited += 250) {
    sleep_ms(250);
    client = s.geometry(s.window);
    if (client.width != 600 || client.height != 450) continue;
    shot = s.screenshot();
    plane = total = black = 0;
    for (int d = 0; d < 12; ++d) black += shot.at(client.x + 300, client.y + d) == 0 ? 1 : 0;
    for (int d = 300; d < 450; d += 3) {
      for (int dx = 0; dx < 600; dx += 3, ++total) {
        plane += is_plane_colour(shot.at(client.x + dx, client.y + d), source_row(d)) ? 1 : 0;
      }
    }
    if (black == 12 && plane >= total * 6 / 10) break;
  }
  save(shot, "wine_resized");
  EXPECT_EQ(std::vector<int>({client.width, client.height}), std::vector<int>({600, 450}));
  EXPECT_EQ(black, 12) << "frame rows 0 to 7 cover destination rows 0 to 11";
  EXPECT_GE(plane, total * 6 / 10) << "the plane's colours at the bottom of the stretched frame";
  EXPECT_EQ(s.escape(client), 0);
}

TEST(WineWindow, ClosingTheWindowEndsTheShowWithExitCodeZero) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  sleep_ms(1000);
  s.request_close();
  EXPECT_EQ(wait_exit(s.show, 15000), 0) << "-1: still running, -2: killed by a signal";
}

// A screen of 8 bits per pixel, on which Wine's DirectDraw cannot set up either display mode:
// the window comes up, the show reports "cannot init screen" in a message box, and once the
// box is closed it ends with exit code 1.
TEST(WineWindow, OnAScreenItCannotUseItReportsThatAndEndsWithOne) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false, 8));
  const Window box = s.find_window("^Error$", 60000);
  ASSERT_NE(box, 0u) << "the report in a message box";
  EXPECT_EQ(wait_exit(s.show, 0), -1) << "the box waits for the user";
  ASSERT_NO_FATAL_FAILURE(s.press("Return", s.geometry(box)));
  EXPECT_EQ(wait_exit(s.show, 15000), 1) << "exit code 1 once the box is closed";
}

// No screen at all (no X server to connect to): neither display mode can be set up, the
// show reports "cannot init screen" and ends with exit code 1 without preparing anything.
TEST(WineWindow, WithoutAScreenItReportsThatItCannotInitTheScreenAndEndsWithOne) {
  const std::string key = "HKCU\\Software\\Wine\\Explorer";
  ASSERT_EQ(run({"wineserver", "-k"}, {}, 10000) == 127, false) << "wineserver (is Wine installed?)";
  run({"wineserver", "-w"}, {}, 10000);
  run({"env", "-u", "DISPLAY", "wine", "reg", "delete", key, "/v", "Desktop", "/f"}, {"WINEDEBUG=-all"}, 60000);
  run({"wineserver", "-w"}, {}, 10000);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 2);
    close(fds[0]);
    unsetenv("DISPLAY");
    setenv("WINEDEBUG", "-all", 1);
    execlp("wine", "wine", MUSICDISK_WINDOWS_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string errors;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) errors.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  EXPECT_EQ(wait_exit(pid, 60000), 1) << "exit code 1";
  EXPECT_NE(errors.find("cannot init screen"), std::string::npos) << errors;
  run({"wineserver", "-k"}, {}, 10000);
}

}  // namespace
