// The real program in a real window: each test starts its own virtual X server (Xvfb),
// runs musicdisk on it, reads the screen back and drives it with real key events
// (xdotool) and the window manager's close request. Sound goes to SDL's dummy driver.
// Xvfb, xdotool and openbox come from scripts/install-deps.sh; without them the tests fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "assets/menu_texts.h"
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

void stop(pid_t pid) {
  if (pid > 0 && wait_exit(pid, 0) == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// What the screen shows, as 0x00RRGGBB with each channel's bits at the top of its byte.
struct Shot {
  int width = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A virtual X server with the show running on it, optionally under a window manager (for
// what only one can do: fullscreen on request, the way desktops expect it asked for).
class Session {
 public:
  void start(int width, int height, int depth, bool window_manager = false) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    server_ = spawn({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, {}, fds[1]);
    close(fds[1]);
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') name_ += c;
    close(fds[0]);
    ASSERT_FALSE(name_.empty()) << "Xvfb did not start (is it installed?)";
    name_ = ":" + name_;
    ASSERT_NE(display_ = XOpenDisplay(name_.c_str()), nullptr) << "cannot connect to Xvfb at " << name_;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // windows can vanish while asked about
    if (window_manager) {
      wm_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + name_});
      const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
      for (int waited = 0; !wm_ready(check); waited += 20) {
        ASSERT_LT(waited, 10000) << "openbox did not come up (is it installed?)";
        sleep_ms(20);
      }
    }
    // The desktop's way of opening an address, xdg-open, is found on the PATH: a stand-in
    // in front of the real one writes down every address the show asks for.
    char folder[] = "/tmp/musicdisk-xvfb-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    {
      std::ofstream script(folder_ + "/xdg-open");
      script << "#!/bin/sh\necho \"$1\" >> '" << folder_ << "/opened'\n";
    }
    ASSERT_EQ(chmod((folder_ + "/xdg-open").c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    show_started = std::chrono::steady_clock::now();
    show = spawn({MUSICDISK_PROGRAM}, {"DISPLAY=" + name_, "SDL_AUDIODRIVER=dummy",
                                       "PATH=" + folder_ + ":" + (path != nullptr ? path : "/usr/bin:/bin")});
    window = find_window(10000);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  }

  ~Session() {
    stop(show);
    if (other_ != 0) XDestroyWindow(display_, other_);
    if (display_ != nullptr) XCloseDisplay(display_);
    stop(wm_);
    if (server_ > 0 && kill(server_, SIGTERM) == 0 && wait_exit(server_, 3000) == -1) stop(server_);
    if (!folder_.empty()) {
      std::remove((folder_ + "/xdg-open").c_str());
      std::remove((folder_ + "/opened").c_str());
      rmdir(folder_.c_str());
    }
  }

  // The addresses the show has asked the desktop to open, in order.
  std::vector<std::string> opened() {
    std::vector<std::string> lines;
    std::ifstream in(folder_ + "/opened");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Waits until the show presents its scene (the frame loop runs: the held keys are read
  // from now on), then as long again as the menu's guards keep the keys out at its start.
  void wait_for_the_show_and_its_guards() {
    for (int waited = 0;; waited += 50) {
      ASSERT_LT(waited, 20000) << "the show presented no scene";
      const Geometry g = geometry();
      const Shot shot = screenshot();
      int lit = 0;
      for (int fy = 8; fy < 128 && g.width > 0 && shot.width > 0; ++fy) {
        const uint32_t c = shot.at(g.x + 200, g.y + fy);
        lit += ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 48 ? 1 : 0;
      }
      if (lit >= 84) break;
      sleep_ms(50);
    }
    sleep_ms(2200);  // no link opens in the first 2000 ms of the frame loop
  }

  // Runs xdotool with these commands (keydown, keyup, sleep ...) against the focused show.
  void keys(const std::vector<std::string>& commands) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
    std::vector<std::string> args = {"xdotool"};
    args.insert(args.end(), commands.begin(), commands.end());
    const pid_t pid = spawn(args, {"DISPLAY=" + name_});
    ASSERT_EQ(wait_exit(pid, 20000), 0) << "xdotool (127: is it installed?)";
  }

  // Another window takes the keyboard focus, as a browser started by the show would.
  void focus_another_window() {
    if (other_ == 0) {
      other_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 600, 400, 100, 100, 0, 0, 0);
      XMapWindow(display_, other_);
      XSync(display_, False);
      sleep_ms(100);
    }
    XSetInputFocus(display_, other_, RevertToParent, CurrentTime);
    XSync(display_, False);
  }

  void move_window(int x, int y) {
    XMoveWindow(display_, window, x, y);
    XSync(display_, False);
  }

  Geometry geometry() {
    XWindowAttributes a;
    Geometry g;
    Window child = 0;
    if (XGetWindowAttributes(display_, window, &a) != 0) {
      XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &g.x, &g.y, &child);
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

  // Presses keys with xdotool (real key events through XTEST) into the focused show and
  // holds them for a tenth of a second, as a hand does: the show reads the held keys once
  // per frame, so a shorter tap can pass unseen.
  void press(const std::string& keys) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
    const pid_t pid = spawn({"xdotool", "keydown", keys, "sleep", "0.1", "keyup", keys}, {"DISPLAY=" + name_});
    ASSERT_EQ(wait_exit(pid, 5000), 0) << "xdotool key " << keys << " (127: is it installed?)";
  }

  // What a window manager sends when the close box is clicked.
  void request_close() {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    XSendEvent(display_, window, False, NoEventMask, &e);
    XSync(display_, False);
  }

  pid_t show = -1;
  std::chrono::steady_clock::time_point show_started;
  Window window = 0;

 private:
  bool wm_ready(Atom check) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool ready = XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, AnyPropertyType,
                                          &type, &format, &count, &after, &data) == Success && count > 0;
    if (data != nullptr) XFree(data);
    return ready;
  }

  // The show's mapped window (a window manager puts it inside a frame of its own), or 0.
  // Asked again and again: a search fails outright when a window vanishes under it.
  Window find_window(int timeout_ms) {
    const std::string command = "DISPLAY=" + name_ + " xdotool search --onlyvisible --name '^musicdisk$' 2>/dev/null";
    for (int waited = 0; waited < timeout_ms; waited += 50) {
      FILE* out = popen(command.c_str(), "r");
      unsigned long id = 0;
      const bool found = out != nullptr && std::fscanf(out, "%lu", &id) == 1;
      if (out != nullptr) pclose(out);
      if (found) return static_cast<Window>(id);
      sleep_ms(50);
    }
    return 0;
  }

  pid_t server_ = -1, wm_ = -1;
  std::string name_;
  std::string folder_;
  Display* display_ = nullptr;
  Window other_ = 0;
};

// The colours of the plane's checkerboard on frame row y (and the first of the row below,
// which a square's edge can show), reduced to what the screen's depth keeps.
bool is_plane_colour(uint32_t pixel, int frame_row, uint32_t keep) {
  for (int k : {0, 1, 2}) {
    const int row = std::min(frame_row - PlaneFirstRow + k / 2, 299 - PlaneFirstRow);
    const uint32_t colour = modulate_colour(k == 1 ? 0x304060 : 0x405070, static_cast<uint32_t>(plane_level(row)) * 0x010101u);
    if ((colour & keep) == (pixel & keep)) return true;
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
  int black = 0, lit_rows = 0;
  for (int i = 0; i < 8 * 100; ++i) black += (frame_pixel(4 * (i % 100), i / 100) & keep) == 0 ? 1 : 0;
  EXPECT_GE(black, 8 * 100 * 9 / 10) << "rows 0 to 7 are never drawn";
  std::vector<uint32_t> row_colours;
  for (int fy = 8; fy < 128; ++fy) {
    const uint32_t c = frame_pixel(200, fy);
    lit_rows += ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 48 ? 1 : 0;
    if (std::find(row_colours.begin(), row_colours.end(), c) == row_colours.end()) row_colours.push_back(c);
  }
  // How many rows the bars light depends on where the ramp stands at the moment of the
  // screenshot, so the bound is the darkest phase of all: worked out by walking every whole
  // step (32) and 16-bit fraction of the ramp over bars 0 to 14 at this column, each row's
  // level and tint reduced to what the screen keeps. The bars alone light at least 88 of
  // the 120 rows (ramp at step 6, fraction 19658) at 24 bits and 84 (step 6, fraction
  // 56169) at 16 bits; the logo under them only adds.
  EXPECT_GE(lit_rows, keep == 0xFFFFFF ? 88 : 84) << "the raster bars light the band under the top rows";
  EXPECT_GE(row_colours.size(), 16u) << "bars of many colours";
  // The plane: mostly its blue, and (where the pixels are exact) both squares of each row.
  int plane = 0, total = 0, blue = 0;
  bool saw_a = false, saw_b = false;
  for (int fy = 200; fy < 300; fy += 2) {
    const uint32_t a = modulate_colour(0x405070, static_cast<uint32_t>(plane_level(fy - PlaneFirstRow)) * 0x010101u) & keep;
    for (int fx = 0; fx < 400; fx += 2, ++total) {
      const uint32_t p = frame_pixel(fx, fy), r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      const bool on_plane = is_plane_colour(p, fy, keep);
      plane += on_plane ? 1 : 0;
      blue += (b >= g && g >= r && b > 0x20) ? 1 : 0;
      saw_a = saw_a || (p & keep) == a;
      saw_b = saw_b || ((p & keep) != a && on_plane);
    }
  }
  if (exact_plane) {
    EXPECT_GE(plane, total * 6 / 10) << "the plane's colours fill the bottom of the frame";
    EXPECT_TRUE(saw_a && saw_b) << "both squares of the checkerboard";
  }
  EXPECT_GE(blue, total * 6 / 10) << "the plane's blue fills the bottom of the frame";
}

// The label pixels of a menu bar: those in frame rows first to last (of a 400 x 300 frame
// shown 1:1 at `area`) that are none of the plane's colours. Their count and their mean
// brightness (sum of the channels).
struct LabelPixels {
  int count = 0;
  double brightness = 0;
};
LabelPixels label_pixels(const Shot& shot, const Geometry& area, int first, int last) {
  LabelPixels l;
  for (int fy = first; fy <= last; ++fy) {
    for (int fx = 0; fx < 400; ++fx) {
      const uint32_t p = shot.at(area.x + fx, area.y + fy);
      if (is_plane_colour(p, fy, 0xFFFFFF)) continue;
      ++l.count;
      l.brightness += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
    }
  }
  if (l.count > 0) l.brightness /= l.count;
  return l;
}

class RealWindow : public ::testing::TestWithParam<int> {};

TEST_P(RealWindow, ShowsTheSceneAndEscapeEndsItWithExitCodeZero) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, GetParam()));
  const Geometry g = x.geometry();
  EXPECT_EQ(g.width, 400);
  EXPECT_EQ(g.height, 300);
  // Opened in the middle of the screen (no window manager: no frame around it).
  EXPECT_EQ(g.x, (1024 - 400) / 2);
  EXPECT_EQ(g.y, (768 - 300) / 2);
  std::this_thread::sleep_until(x.show_started + std::chrono::seconds(2));
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "the show is running";
  // At 16 bits the screen keeps the top 5, 6 and 5 bits of the channels.
  expect_scene(x.screenshot(), g, GetParam() == 16 ? 0xF8FCF8 : 0xFFFFFF, true);
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, 1000), 0) << "Escape ends the show with exit code 0 within a second";
}

INSTANTIATE_TEST_SUITE_P(Depths, RealWindow, ::testing::Values(24, 16),
                         [](const auto& info) { return "Screen" + std::to_string(info.param) + "Bits"; });

// Both menu bars are on the screen (the tune label over frame rows 140-167, the link label
// over 170-197), the tune bar bright; Down moves the focus and the brightness with it.
TEST(RealWindowMenus, ShowsBothBarsAndDownMovesTheFocus) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  const Geometry g = x.geometry();
  ASSERT_EQ(g.width, 400);
  std::this_thread::sleep_until(x.show_started + std::chrono::milliseconds(1500));
  const Shot before = x.screenshot();
  ASSERT_GT(before.width, 0);
  const LabelPixels tune0 = label_pixels(before, g, 140, 167), link0 = label_pixels(before, g, 170, 197);
  EXPECT_GE(tune0.count, 400) << "the tune bar's label and brackets";
  EXPECT_GE(link0.count, 400) << "the link bar's label and brackets";
  x.press("Down");
  sleep_ms(300);
  const Shot after = x.screenshot();
  const LabelPixels tune1 = label_pixels(after, g, 140, 167), link1 = label_pixels(after, g, 170, 197);
  EXPECT_GT(tune0.brightness, tune1.brightness + 20) << "the tune bar dims when it loses the focus";
  EXPECT_GT(link1.brightness, link0.brightness + 20) << "the link bar brightens when it takes the focus";
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, 2000), 0);
}

TEST(RealWindowModes, AltEnterGoesFullscreenAndBack) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24, true));
  const Geometry windowed = x.geometry();
  sleep_ms(300);
  x.press("alt+Return");
  sleep_ms(800);
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running after going fullscreen";
  const Geometry full = x.geometry();
  EXPECT_EQ(full.width, 1280);
  EXPECT_EQ(full.height, 800);
  // The frame fills the largest centred 4:3 area, black at the sides.
  const Shot shot = x.screenshot();
  expect_scene(shot, {(1280 - 1066) / 2, 0, 1066, 800}, 0xFFFFFF, false);
  int side_black = 0;
  for (int y = 0; y < 800; y += 8) side_black += (shot.at(10, y) == 0 && shot.at(1270, y) == 0) ? 1 : 0;
  EXPECT_EQ(side_black, 100) << "black beside the 4:3 area";

  x.press("alt+Return");
  sleep_ms(800);
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running after coming back";
  const Geometry back = x.geometry();
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({windowed.x, windowed.y, windowed.width, windowed.height}));
  expect_scene(x.screenshot(), back, 0xFFFFFF, true);
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, 2000), 0);
}

TEST(RealWindowModes, ClosingTheWindowEndsWithExitCodeZero) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  sleep_ms(500);
  x.request_close();
  // Generous: on a loaded machine the first frames of a new process can be slow.
  EXPECT_EQ(wait_exit(x.show, 5000), 0) << "-1: still running, -2: killed by a signal";
}

// The keys as a hand (or a remote desktop, or an automation tool) gives them, seen through
// the links the show opens: the arrows move the link bar, Enter opens the selected link.
struct KeyScenario {
  const char* name;
  std::vector<std::string> keys;  // xdotool commands
  int link;                       // the one link opened at the end; 0: any but link 1
};

void PrintTo(const KeyScenario& s, std::ostream* os) { *os << s.name; }

class RealWindowKeys : public ::testing::TestWithParam<KeyScenario> {};

TEST_P(RealWindowKeys, OpenTheLinkTheKeysSelected) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  ASSERT_NO_FATAL_FAILURE(x.wait_for_the_show_and_its_guards());
  ASSERT_NO_FATAL_FAILURE(x.keys(GetParam().keys));
  sleep_ms(500);
  const std::vector<std::string> opened = x.opened();
  ASSERT_EQ(opened.size(), 1u) << "one link opened";
  if (GetParam().link != 0) {
    EXPECT_EQ(opened[0], LinkAddresses[GetParam().link]);
  } else {
    EXPECT_NE(opened[0], LinkAddresses[1]) << "the arrow moved the link bar";
  }
  x.keys({"keydown", "Escape", "sleep", "0.005", "keyup", "Escape"});
  EXPECT_EQ(wait_exit(x.show, 3000), 0) << "a tap of Escape ends the show";
}

// Each key pressed for 100 ms unless it is a tap; 300 ms between actions, so that the arrow
// keys' 200 ms guard has run out.
const std::vector<std::string> Down = {"keydown", "Down", "sleep", "0.1", "keyup", "Down", "sleep", "0.3"};
const std::vector<std::string> Enter = {"keydown", "Return", "sleep", "0.1", "keyup", "Return"};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RealWindowKeys,
    ::testing::Values(
        // Left released while Alt is held: one step back (link 17), not one every 220 ms.
        // Held for 100 ms in all, well inside the arrows' 200 ms guard, so it acts once.
        KeyScenario{"ArrowReleasedWhileAltIsHeld",
                    join({Down,
                          {"keydown", "Left", "sleep", "0.05", "keydown", "alt", "sleep", "0.05", "keyup", "Left",
                           "sleep", "0.1", "keyup", "alt", "sleep", "1.2"},
                          Enter}),
                    17},
        // Left pressed with Alt and held on after Alt is let go: its repeats move the bar.
        KeyScenario{"ArrowHeldOnAfterAlt",
                    join({Down,
                          {"keydown", "alt", "sleep", "0.1", "keydown", "Left", "sleep", "0.1", "keyup", "alt",
                           "sleep", "1.5", "keyup", "Left", "sleep", "0.3"},
                          Enter}),
                    0},
        // Taps of 5 ms, shorter than a frame: every one counts.
        KeyScenario{"TapsOf5Ms",
                    {"keydown", "Down", "sleep", "0.005", "keyup", "Down", "sleep", "0.3", "keydown", "Left", "sleep",
                     "0.005", "keyup", "Left", "sleep", "0.3", "keydown", "Return", "sleep", "0.005", "keyup",
                     "Return"},
                    17}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealWindowFocus, EnterHeldWhileAnotherWindowHasTheFocusOpensTheLinkOnce) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  ASSERT_NO_FATAL_FAILURE(x.wait_for_the_show_and_its_guards());
  ASSERT_NO_FATAL_FAILURE(x.keys({"keydown", "Return"}));
  // The show opens the link in the first frame that sees Enter: wait for it (a loaded
  // machine can take a while), then give the focus away with Enter still held.
  for (int waited = 0; x.opened().empty(); waited += 20) {
    ASSERT_LT(waited, 10000) << "Enter opened no link";
    sleep_ms(20);
  }
  x.focus_another_window();
  // The show counts Enter as released once it has seen the focus go, so the link is not
  // opened again every 2 s while the other window has it: a show that kept Enter held would
  // open it four times in these 7 s (at 0, 2, 4 and 6 s). On a starved machine the focus
  // change can reach the show only after Enter's 2 s guard has run out once, so two
  // openings are what a correct program can show at most.
  sleep_ms(7000);
  ASSERT_NO_FATAL_FAILURE(x.keys({"keyup", "Return"}));
  const std::vector<std::string> opened = x.opened();
  ASSERT_GE(opened.size(), 1u);
  EXPECT_LE(opened.size(), 2u) << "held Enter kept opening the link while another window had the focus";
  for (const std::string& address : opened) EXPECT_EQ(address, LinkAddresses[1]);
  EXPECT_EQ(wait_exit(x.show, 0), -1) << "the show goes on";
}

TEST(RealWindowModes, BackFromFullscreenWhereAndAsLargeAsBeforeWhenPartlyOffTheScreen) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24, true));
  ASSERT_NO_FATAL_FAILURE(x.wait_for_the_show_and_its_guards());
  x.move_window(-60, 100);  // the window manager keeps it there, its frame around it
  sleep_ms(300);
  const Geometry before = x.geometry();
  ASSERT_LT(before.x, 0) << "partly off the screen's left edge";
  ASSERT_EQ(before.width, 400);
  const std::vector<std::string> alt_enter = {"keydown", "alt",    "keydown", "Return", "sleep", "0.1",
                                              "keyup",   "Return", "keyup",   "alt",    "sleep", "0.8"};
  x.keys(alt_enter);
  EXPECT_EQ(x.geometry().width, 1280) << "fullscreen";
  x.keys(alt_enter);
  const Geometry back = x.geometry();
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({before.x, before.y, before.width, before.height}));
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running";
}

TEST(RealProgram, NoScreenIsReportedWithExitCodeOne) {
  // No X server at that address: the window cannot be made.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 2);
    setenv("DISPLAY", ":65000", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    execl(MUSICDISK_PROGRAM, MUSICDISK_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string err;
  char c = 0;
  while (read(fds[0], &c, 1) == 1) err += c;
  close(fds[0]);
  EXPECT_EQ(wait_exit(pid, 10000), 1);
  EXPECT_NE(err.find("cannot init screen"), std::string::npos) << err;
}

}  // namespace
