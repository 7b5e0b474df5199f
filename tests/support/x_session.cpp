#include "support/x_session.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "render/framebuffer.h"
#include "render/plane.h"

// After everything else: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace xtest {

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool wait_until(int timeout_ms, int every_ms, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return ready();
    sleep_ms(every_ms);
  }
  return true;
}

namespace {
// A process is collected once: its exit code is kept here for whoever asks again, until its
// number is given to a new one.
std::map<pid_t, int> Ended;
}  // namespace

pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int out, int err) {
  const pid_t pid = fork();
  if (pid > 0) Ended.erase(pid);
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    for (std::string& e : env) putenv(e.data());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int wait_exit(pid_t pid, int timeout_ms) {
  if (const auto e = Ended.find(pid); e != Ended.end()) return e->second;
  int code = -1;
  wait_until(timeout_ms, 5, [&] {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) Ended[pid] = code = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    return r != 0;
  });
  return code;
}

void stop(pid_t pid) {
  if (pid > 0 && wait_exit(pid, 0) == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

int run(std::vector<std::string> args, std::vector<std::string> env, int timeout_ms, std::string* output) {
  FILE* printed = output != nullptr ? std::tmpfile() : nullptr;
  const int fd = printed != nullptr ? fileno(printed) : -1;
  const pid_t pid = spawn(std::move(args), std::move(env), fd, fd);
  const int code = wait_exit(pid, timeout_ms);
  if (code == -1) stop(pid);
  if (printed != nullptr) {
    output->clear();
    std::rewind(printed);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, printed)) > 0;) output->append(buffer, n);
    std::fclose(printed);
  }
  return code;
}

void save(const Shot& shot, const std::string& name) {
  if (shot.width == 0) return;
  FILE* f = std::fopen((name + ".ppm").c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%d %d\n255\n", shot.width, shot.height());
  for (uint32_t p : shot.pixels) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                  static_cast<unsigned char>(p)};
    std::fwrite(rgb, 1, 3, f);
  }
  std::fclose(f);
}

XServer::~XServer() {
  if (display_ != nullptr) XCloseDisplay(display_);
  stop(wm_);
  if (server_ > 0 && kill(server_, SIGTERM) == 0 && wait_exit(server_, 3000) == -1) stop(server_);
}

std::string XServer::start(int width, int height, int depth) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe for Xvfb's display number";
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
  server_ = spawn({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, {}, fds[1]);
  close(fds[1]);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) return "Xvfb did not start (is it installed?)";
  return attach(":" + number);
}

std::string XServer::attach(const std::string& name) {
  name_ = name;
  display_ = XOpenDisplay(name_.c_str());
  if (display_ == nullptr) return "cannot connect to Xvfb at " + name_;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // windows can vanish while asked about
  return "";
}

std::vector<std::string> XServer::env(std::vector<std::string> more) const {
  more.insert(more.begin(), "DISPLAY=" + name_);
  return more;
}

Shot XServer::screenshot() {
  Shot s;
  XWindowAttributes a;
  XGetWindowAttributes(display_, DefaultRootWindow(display_), &a);
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (image == nullptr) return s;
  s.width = a.width;
  s.pixels.reserve(static_cast<size_t>(a.width) * a.height);
  for (int i = 0; i < a.width * a.height; ++i) {
    const unsigned long p = XGetPixel(image, i % a.width, i / a.width);
    uint32_t rgb = 0;
    for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
      // A screen without true colour has no channel to read.
      const int bits = mask != 0 ? __builtin_popcountl(mask) : 8;
      const uint32_t v = mask != 0 ? static_cast<uint32_t>((p & mask) >> __builtin_ctzl(mask)) : 0;
      rgb = rgb << 8 | (bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
    }
    s.pixels.push_back(rgb);
  }
  XDestroyImage(image);
  return s;
}

Geometry XServer::geometry(XWindow window) {
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

XWindow XServer::find_window(const std::string& pattern, int timeout_ms, pid_t owner) {
  const std::string command = "DISPLAY=" + name_ + " xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null";
  unsigned long id = 0;
  wait_until(timeout_ms, 100, [&] {
    FILE* out = popen(command.c_str(), "r");
    const bool found = out != nullptr && std::fscanf(out, "%lu", &id) == 1;
    if (out != nullptr) pclose(out);
    if (!found) id = 0;
    return found || (owner > 0 && wait_exit(owner, 0) != -1);
  });
  return id;
}

int XServer::xdotool(std::vector<std::string> args, int timeout_ms) {
  args.insert(args.begin(), "xdotool");
  return run(std::move(args), env(), timeout_ms);
}

void XServer::focus(XWindow window) {
  XSetInputFocus(display_, window, RevertToParent, CurrentTime);
  XSync(display_, False);
}

void XServer::watch_keys(XWindow window) {
  XSelectInput(display_, window, KeyPressMask | KeyReleaseMask);
  XSync(display_, False);
}

std::vector<XServer::KeyEvent> XServer::key_events() {
  XSync(display_, False);
  std::vector<KeyEvent> events;
  while (XPending(display_) > 0) {
    XEvent e;
    XNextEvent(display_, &e);
    if (e.type != KeyPress && e.type != KeyRelease) continue;
    const char* name = XKeysymToString(XLookupKeysym(&e.xkey, 0));
    events.push_back({name != nullptr ? name : "", e.type == KeyPress, e.xkey.time});
  }
  return events;
}

void XServer::move(XWindow window, int x, int y) {
  XMoveWindow(display_, window, x, y);
  XSync(display_, False);
}

void XServer::request_close(XWindow window) {
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

std::string XServer::start_window_manager() {
  wm_ = spawn({"openbox", "--sm-disable"}, env());
  const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
  const bool ready = wait_until(20000, 20, [&] {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool set = XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, AnyPropertyType,
                                        &type, &format, &count, &after, &data) == Success && count > 0;
    if (data != nullptr) XFree(data);
    return set;
  });
  return ready ? "" : "openbox did not come up (is it installed?)";
}

bool is_plane_colour(uint32_t pixel, int frame_row, uint32_t keep) {
  for (int k : {0, 1, 2}) {
    const int row = std::min(frame_row - PlaneFirstRow + k / 2, 299 - PlaneFirstRow);
    const uint32_t colour = modulate_colour(k == 1 ? 0x304060 : 0x405070, static_cast<uint32_t>(plane_level(row)) * 0x010101u);
    if ((colour & keep) == (pixel & keep)) return true;
  }
  return false;
}

std::vector<std::string> scene_faults(const Shot& shot, const Geometry& area, uint32_t keep, bool exact) {
  if (shot.width == 0) return {"no screenshot"};
  if (area.width <= 0 || area.height <= 0 || area.x < 0 || area.y < 0 || area.x + area.width > shot.width ||
      area.y + area.height > shot.height()) {
    return {"the frame's area is not on the screen"};
  }
  std::vector<std::string> faults;
  const auto frame_pixel = [&](int fx, int fy) {
    return shot.at(area.x + (fx * area.width) / 400, area.y + (fy * area.height) / 300) & keep;
  };
  int black = 0;
  for (int i = 0; i < 8 * 100; ++i) black += frame_pixel(4 * (i % 100), i / 100) == 0 ? 1 : 0;
  if (black < (exact ? 800 : 720)) faults.push_back("frame rows 0 to 7 black (" + std::to_string(black) + " of 800)");
  int lit_rows = 0;
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
  const int lit_bound = keep == 0xFFFFFF ? 88 : 84;
  if (lit_rows < lit_bound) {
    faults.push_back("the raster bars lighting the band under the top rows (lit_rows " + std::to_string(lit_rows) +
                     ", at least " + std::to_string(lit_bound) + ")");
  }
  if (row_colours.size() < 16) faults.push_back("bars of many colours (" + std::to_string(row_colours.size()) + ")");
  // The plane: mostly its blue, and (where the pixels are exact) both squares of each row.
  // The sprites and the scroller cross it.
  int plane = 0, total = 0, blue = 0;
  bool saw_a = false, saw_b = false;
  for (int fy = 200; fy < 300; fy += 2) {
    const uint32_t a = modulate_colour(0x405070, static_cast<uint32_t>(plane_level(fy - PlaneFirstRow)) * 0x010101u) & keep;
    for (int fx = 0; fx < 400; fx += 2, ++total) {
      const uint32_t p = frame_pixel(fx, fy), r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      const bool on_plane = is_plane_colour(p, fy, keep);
      plane += on_plane ? 1 : 0;
      blue += (b >= g && g >= r && b > 0x20) ? 1 : 0;
      saw_a = saw_a || p == a;
      saw_b = saw_b || (p != a && on_plane);
    }
  }
  if (blue < total * 6 / 10) faults.push_back("the plane's blue filling the bottom (" + std::to_string(blue) + " of " +
                                              std::to_string(total) + ")");
  if (exact && plane < total * 6 / 10) {
    faults.push_back("the plane's exact colours filling the bottom (plane " + std::to_string(plane) + " of " +
                     std::to_string(total) + ")");
  }
  if (exact && !(saw_a && saw_b)) faults.push_back("both squares of the checkerboard");
  return faults;
}

std::string describe(const std::vector<std::string>& faults) {
  std::string text = "never saw:";
  for (const std::string& f : faults) text += "\n  " + f;
  return text;
}

SceneWait wait_for_scene(XServer& x, const std::function<Geometry()>& area, uint32_t keep, bool exact, int timeout_ms,
                         pid_t owner) {
  SceneWait w;
  wait_until(timeout_ms, 100, [&] {
    w.area = area();
    w.shot = x.screenshot();
    w.faults = scene_faults(w.shot, w.area, keep, exact);
    return w.faults.empty() || (owner > 0 && wait_exit(owner, 0) != -1);
  });
  return w;
}

bool frame_at(const Shot& shot, int x, int y) {
  if (x < 0 || y < 0 || x + 400 > shot.width || y + 300 > shot.height()) return false;
  int black = 0, lit = 0;
  std::vector<uint32_t> colours;
  for (int fy = 0; fy < 8; ++fy) black += shot.at(x + 200, y + fy) == 0 ? 1 : 0;
  for (int fy = 8; fy < 128; ++fy) {
    const uint32_t c = shot.at(x + 200, y + fy);
    lit += c != 0 && c != 0xFFFFFF && c != 0xF8FCF8 ? 1 : 0;  // not a window's white
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  // The bars are of many colours; the plain desktop under a window still black is lit too.
  return black == 8 && lit >= 84 && colours.size() >= 16;
}

bool find_frame(const Shot& shot, int* x, int* y) {
  for (int row = 0; row + 300 <= shot.height(); ++row) {
    for (int col = 0, run = 0; col <= shot.width; ++col) {
      const bool black = col < shot.width && shot.at(col, row) == 0;
      if (!black && run == 400 && frame_at(shot, col - 400, row)) {
        *x = col - 400;
        *y = row;
        return true;
      }
      run = black ? run + 1 : 0;
    }
  }
  return false;
}

}  // namespace xtest
