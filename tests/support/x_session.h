// What the real-window tests share, whether the show runs natively or under Wine: child
// processes, a virtual X server of their own (Xvfb) with screenshots, window searches and
// real key events (xdotool), and the look of the show's scene on the screen.
//
// Nothing here waits by the clock alone: every wait polls for the thing itself until a
// generous deadline, so a loaded machine only makes a test slower, not wrong.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Xlib's own types, without its macros (None, Bool, Status), which clash with other headers.
struct _XDisplay;
using XWindow = unsigned long;

namespace xtest {

void sleep_ms(int ms);

// Calls `ready` every `every_ms` until it is true (true) or `timeout_ms` has passed (false;
// `ready` is asked once more at the deadline).
bool wait_until(int timeout_ms, int every_ms, const std::function<bool()>& ready);

// Starts a program found on PATH with `env` added, its standard output to `out` and its
// standard error to `err` unless -1. Killed when the test process dies, however that happens.
pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int out = -1, int err = -1);
// The exit code (127: could not start), -2 when killed by a signal, or -1 when still running
// after `timeout_ms`.
int wait_exit(pid_t pid, int timeout_ms);
// Kills the process unless it has ended, and collects it.
void stop(pid_t pid);
// Runs a program to its end (killed after `timeout_ms`); its exit code as wait_exit gives it.
// With `output`, what it printed on standard output and error.
int run(std::vector<std::string> args, std::vector<std::string> env, int timeout_ms, std::string* output = nullptr);

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// What the screen shows, as 0x00RRGGBB with each channel's bits at the top of its byte.
struct Shot {
  int width = 0;
  std::vector<uint32_t> pixels;
  int height() const { return width > 0 ? static_cast<int>(pixels.size()) / width : 0; }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Keeps a screenshot for a look afterwards (binary PPM, `name`.ppm in the working folder).
void save(const Shot& shot, const std::string& name);

// A virtual X server of its own, and a connection to it.
class XServer {
 public:
  XServer() = default;
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer();

  // Starts Xvfb with one screen of that size and depth; the reason when it could not.
  std::string start(int width, int height, int depth);
  // Connects to a server that runs already (":N"); the reason when it could not.
  std::string attach(const std::string& name);
  // ":N"
  const std::string& name() const { return name_; }
  // DISPLAY for this server, then `more`.
  std::vector<std::string> env(std::vector<std::string> more = {}) const;

  Shot screenshot();
  // The window's inside in screen coordinates; all zero when it is gone.
  Geometry geometry(XWindow window);
  // The first mapped window whose name matches the regular expression, asked again and again
  // (a search fails outright when a window vanishes under it) until `timeout_ms`; 0 when none
  // came, or as soon as `owner` (unless -1) has ended.
  XWindow find_window(const std::string& pattern, int timeout_ms, pid_t owner = -1);
  // Runs xdotool with these arguments on this server; its exit code (127: not installed).
  int xdotool(std::vector<std::string> args, int timeout_ms = 20000);
  // Gives the window the keyboard focus.
  void focus(XWindow window);
  // Takes note, from now on, of the key events the window gets, beside its own client (which
  // still gets them all); key_events() gives them with the server's time of each, so a test
  // can tell how long a key was really held, however late the program sending it ran.
  struct KeyEvent {
    std::string key;  // the keysym's name: "Left", "Alt_L", "Return"
    bool pressed;
    unsigned long time_ms;
  };
  void watch_keys(XWindow window);
  // The events noted since watch_keys and not yet returned, in order.
  std::vector<KeyEvent> key_events();
  void move(XWindow window, int x, int y);
  // What a window manager sends when the close box is clicked.
  void request_close(XWindow window);
  // A window manager (openbox) on this server; the reason when none came up.
  std::string start_window_manager();

 private:
  pid_t server_ = -1, wm_ = -1;
  std::string name_;
  _XDisplay* display_ = nullptr;
};

// The look of a 400 x 300 frame of the show shown at `area` (any size, scaled without
// smoothing) on a screen keeping the channel bits of `keep` (0xF8FCF8 at 16 bits): what it
// lacks, each named; empty when the scene is there. With `exact`, the frame is shown 1:1 in
// its exact colours and the plane's colours are checked too.
std::vector<std::string> scene_faults(const Shot& shot, const Geometry& area, uint32_t keep, bool exact);
// The faults joined for a failure message.
std::string describe(const std::vector<std::string>& faults);
// Screenshots until the scene is at `area` (asked anew each time, as a window settles) or
// `timeout_ms` has passed, or as soon as `owner` (unless -1) ends. The last screenshot, its
// area and what it lacked (empty: the scene was found).
struct SceneWait {
  Shot shot;
  Geometry area;
  std::vector<std::string> faults;
};
SceneWait wait_for_scene(XServer& x, const std::function<Geometry()>& area, uint32_t keep, bool exact, int timeout_ms,
                         pid_t owner = -1);

// Whether the plane's checkerboard colour of frame row `frame_row` (or of the row below, which
// a square's edge can show) is `pixel`, reduced to the bits in `keep`.
bool is_plane_colour(uint32_t pixel, int frame_row, uint32_t keep);
// Where a frame of the show stands 1:1 on a screen whose background is not black: the start of
// a run of exactly 400 black pixels (its top rows) with the raster bars lit below it.
bool find_frame(const Shot& shot, int* x, int* y);
// Whether a 1:1 frame stands at (x, y): its black top rows over the lit band of the bars, in
// their many colours.
bool frame_at(const Shot& shot, int x, int y);

}  // namespace xtest
