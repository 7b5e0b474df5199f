// The Windows program (musicdisk.exe, cross-built) under Wine, in a real window on a virtual
// X server: each test starts its own Xvfb, runs the program with `wine`, reads the screen
// back and drives the show with real key events (xdotool). The Wine prefix is WINEPREFIX, one
// of the tests' own (CTest gives it); each test sets its desktop and stops the prefix's Wine
// server when it ends, so the next test's programs connect to their own X server.
//
// With Wine's virtual desktop the display can change modes (a 400 x 300 fullscreen mode is
// the desktop shrunk to that size); without it, on a bare Xvfb, every mode change is refused,
// which is the failed switch the show must survive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "codecs/disk_block.h"
#include "support/x_session.h"

namespace {

namespace fs = std::filesystem;
using xtest::Geometry;
using xtest::run;
using xtest::save;
using xtest::Shot;
using xtest::wait_until;

const std::string ExplorerKey = "HKCU\\Software\\Wine\\Explorer";

// `wine` with these arguments, on the X server `display` (on none when empty).
std::vector<std::string> wine(const std::string& display, std::vector<std::string> args) {
  std::vector<std::string> head = {"env", "-u", "DISPLAY", "WINEDEBUG=-all", "wine"};
  if (!display.empty()) head.insert(head.begin() + 3, "DISPLAY=" + display);
  args.insert(args.begin(), head.begin(), head.end());
  return args;
}

// Stops the prefix's Wine server and waits until it has gone.
void stop_wineserver() {
  run({"wineserver", "-k"}, {}, 30000);
  run({"wineserver", "-w"}, {}, 30000);
}

// A Windows program run through md-exit-code.exe, which writes the exit code the program gave
// into a file of this test's own: the status `wine` ends with can be a signal on a loaded
// machine although the program ended cleanly.
class Program {
 public:
  explicit Program(std::string exe = MUSICDISK_WINDOWS_PROGRAM) : exe_(std::move(exe)) { fs::remove(code_file_); }
  ~Program() { fs::remove(code_file_); }

  std::vector<std::string> command(const std::string& display, std::vector<std::string> args) const {
    args.insert(args.begin(), {MUSICDISK_WINDOWS_EXIT_CODE, code_file_, exe_});
    return wine(display, args);
  }
  // The program's exit code once `wine` has ended with `status`; without one written (the
  // program was killed, or never started), `status` itself (-1: still running).
  int code(int status) const {
    std::ifstream in(code_file_);
    int code = 0;
    return status != -1 && in >> code ? code : status;
  }

 private:
  std::string exe_;
  std::string code_file_ = testing::TempDir() + "md_wine_exit_code_" + std::to_string(getpid());
};

// A virtual X server with the Windows program running on it under Wine.
class Session {
 public:
  // Starts the program with `args`, its standard output and error into `output` unless -1,
  // and waits for its first window.
  void start(bool virtual_desktop, int depth = 24, std::vector<std::string> args = {}, int output = -1) {
    ASSERT_EQ(x.start(1024, 768, depth), "");
    // A Wine server left over from an earlier run would keep its desktop on that X server.
    stop_wineserver();
    if (virtual_desktop) {
      ASSERT_EQ(run(wine(x.name(), {"reg", "add", ExplorerKey, "/v", "Desktop", "/d", "Default", "/f"}), {}, 120000), 0);
      ASSERT_EQ(run(wine(x.name(), {"reg", "add", ExplorerKey + "\\Desktops", "/v", "Default", "/d", "1024x768", "/f"}),
                    {}, 120000),
                0);
    } else {
      run(wine(x.name(), {"reg", "delete", ExplorerKey, "/v", "Desktop", "/f"}), {}, 120000);
    }
    // The desktop is made as Wine starts: start it again with the setting in place.
    stop_wineserver();
    show = xtest::spawn(program.command(x.name(), args), {}, output, output);
    window = x.find_window("^musicdisk$", 120000, show);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << ended(0);
  }

  ~Session() {
    xtest::stop(show);
    run({"wineserver", "-k"}, {}, 30000);
  }

  // The program's exit code once it has ended, -1 while it runs after `timeout_ms`.
  int ended(int timeout_ms) { return program.code(xtest::wait_exit(show, timeout_ms)); }

  // Clicks into the window (making it the active one) and holds the keys for a tenth of a
  // second, as a hand does: the show reads the held keys once per frame.
  void press(const std::string& keys, const Geometry& into) {
    const std::string cx = std::to_string(into.x + into.width / 2), cy = std::to_string(into.y + into.height / 2);
    ASSERT_EQ(x.xdotool({"mousemove", cx, cy, "click", "1"}, 10000), 0) << "xdotool (is it installed?)";
    xtest::sleep_ms(200);
    ASSERT_EQ(x.xdotool({"keydown", keys, "sleep", "0.1", "keyup", keys}, 10000), 0);
  }

  // Holds Escape until the show ends; its exit code, or -1 when it did not end.
  int escape(const Geometry& into) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      press("Escape", into);
      if (const int code = ended(5000); code != -1) return code;
    }
    return -1;
  }

  // Closes the message box titled `title` with Enter, once it has come.
  void answer_box(const std::string& title) {
    const XWindow box = x.find_window(title, 120000, show);
    ASSERT_NE(box, 0u) << "no message box " << title;
    EXPECT_EQ(ended(0), -1) << "the box waits for the user";
    ASSERT_NO_FATAL_FAILURE(press("Return", x.geometry(box)));
  }

  // Screenshots until the show's frame is at (*fx, *fy), or anywhere when *fx is -1 (the first
  // frames come after the unpacking, which under Wine on a busy machine takes a while); false
  // after 120 s or when the show has ended.
  bool wait_for_frame(Shot* shot, int* fx, int* fy) {
    const bool anywhere = *fx == -1;
    return wait_until(120000, 250, [&] {
      *shot = x.screenshot();
      return (anywhere ? xtest::find_frame(*shot, fx, fy) : xtest::frame_at(*shot, *fx, *fy)) || ended(0) != -1;
    }) && ended(0) == -1;
  }

  // Waits until the window's X window is its client area (without a window manager or a
  // virtual desktop, Wine settles it so; at first it spans the whole window) and the scene is in it.
  xtest::SceneWait wait_for_scene_in_window(uint32_t keep = 0xFFFFFF) {
    return xtest::wait_for_scene(x, [this] { return x.geometry(window); }, keep, true, 120000, show);
  }

  xtest::XServer x;
  Program program;
  pid_t show = -1;
  XWindow window = 0;
};

// Screenshots until the whole scene is in the 1:1 frame at (fx, fy): the shot that showed the
// frame first can hold one drawn only in part.
void expect_scene(Session& s, int fx, int fy) {
  const xtest::SceneWait w = xtest::wait_for_scene(s.x, [&] { return Geometry{fx, fy, 400, 300}; }, 0xFFFFFF, true,
                                                   60000, s.show);
  EXPECT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
}

std::vector<int> corners(const Geometry& g) { return {g.x, g.y, g.width, g.height}; }

TEST(WineWindow, ShowsTheSceneGoesFullscreenAndBackAndEscapeEndsIt) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(true));
  // Windowed: a 400 x 300 client area under the title bar, the frame shown 1:1.
  Shot shot;
  int x = -1, y = -1;
  const bool found = s.wait_for_frame(&shot, &x, &y);
  save(shot, "wine_windowed");
  ASSERT_TRUE(found) << "no frame on the screen";
  EXPECT_GT(y, 0) << "a title bar above the picture";
  expect_scene(s, x, y);
  const Geometry windowed = {x, y, 400, 300};
  const XWindow desktop = s.x.find_window("Wine desktop$", 10000);
  ASSERT_NE(desktop, 0u) << "Wine's virtual desktop";

  // Fullscreen: the display in a 400 x 300 mode (Wine's desktop shrinks to it), the frame
  // filling it.
  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", windowed));
  int fx = 0, fy = 0;
  ASSERT_TRUE(s.wait_for_frame(&shot, &fx, &fy)) << "no frame at the screen's corner, or the show ended";
  EXPECT_EQ(s.x.find_window("^Error$", 0), 0u) << "no error report";
  Geometry mode;
  wait_until(15000, 100, [&] { return (mode = s.x.geometry(desktop)).width == 400; });
  EXPECT_EQ(corners(mode), std::vector<int>({0, 0, 400, 300}));
  save(shot, "wine_fullscreen");
  expect_scene(s, 0, 0);

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", {0, 0, 400, 300}));
  ASSERT_TRUE(s.wait_for_frame(&shot, &x, &y)) << "no frame back in the window where it was, or the show ended";
  Geometry desk;
  wait_until(15000, 100, [&] { return (desk = s.x.geometry(desktop)).width == 1024; });
  EXPECT_EQ(std::vector<int>({desk.width, desk.height}), std::vector<int>({1024, 768})) << "the desktop's mode back";
  expect_scene(s, x, y);

  // Alt pressed and let go alone must not stop the show in the system menu's keyboard mode.
  ASSERT_NO_FATAL_FAILURE(s.press("alt", windowed));
  xtest::sleep_ms(500);  // the system menu's keyboard mode, where it comes, comes at once
  const Shot before = s.x.screenshot();
  int changed = 0;
  wait_until(20000, 100, [&] {
    const Shot after = s.x.screenshot();
    changed = 0;
    for (int row = 8; row < 300; ++row) {
      for (int col = 0; col < 400; ++col) changed += before.at(x + col, y + row) != after.at(x + col, y + row) ? 1 : 0;
    }
    return changed > 1000;
  });
  EXPECT_GT(changed, 1000) << "the scene moves on after Alt alone";

  EXPECT_EQ(s.escape(windowed), 0) << "a held Escape ends the show with exit code 0";
}

TEST(WineWindow, AFailedModeSwitchIsReportedAndTheShowGoesOnInItsWindow) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  const xtest::SceneWait w = s.wait_for_scene_in_window();
  save(w.shot, "wine_bare_windowed");
  const Geometry client = w.area;
  ASSERT_EQ(std::vector<int>({client.width, client.height}), std::vector<int>({400, 300}));
  ASSERT_TRUE(w.faults.empty()) << xtest::describe(w.faults);

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", client));
  ASSERT_NO_FATAL_FAILURE(s.answer_box("^Error$"));
  Shot shot;
  int x = client.x, y = client.y;
  EXPECT_TRUE(s.wait_for_frame(&shot, &x, &y)) << "no frame back in the window, or the show ended after the report";
  wait_until(15000, 100, [&] { return s.x.find_window("^Error$", 0) == 0; });
  EXPECT_EQ(s.x.find_window("^Error$", 0), 0u) << "one report: switching back worked";
  const xtest::SceneWait back = s.wait_for_scene_in_window();
  EXPECT_EQ(corners(back.area), corners(client)) << "the window where it was";
  save(back.shot, "wine_bare_back");
  EXPECT_TRUE(back.faults.empty()) << xtest::describe(back.faults);

  EXPECT_EQ(s.escape(back.area), 1) << "an error was reported, so the show ends with exit code 1";
}

// The scene at 16 bits (the windowed primary is 5-6-5 and the show converts into it) and at
// 24, and the show's end by Escape or by the window's close box, with exit code 0 either way.
TEST(WineWindow, ShowsTheSceneAndEndsWithZeroByEscapeOrClosingTheWindow) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "24 bits, closed" : "16 bits, Escape");
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start(false, close ? 24 : 16));
    const xtest::SceneWait w = s.wait_for_scene_in_window(close ? 0xFFFFFF : 0xF8FCF8);
    save(w.shot, close ? "wine_24_bits" : "wine_16_bits");
    EXPECT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
    if (close) s.x.request_close(s.window);
    EXPECT_EQ(close ? s.ended(30000) : s.escape(w.area), 0) << "-1: still running, -2: killed";
  }
}

// A window made larger by the user: the display is rebuilt at the new size and the frame
// stretched over the whole client area, in the frame's exact colours.
TEST(WineWindow, ResizingTheWindowStretchesTheFrameOverIt) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  const xtest::SceneWait w = s.wait_for_scene_in_window();
  ASSERT_TRUE(w.faults.empty()) << "no frame in the window; " << xtest::describe(w.faults);
  Geometry client = w.area;
  Shot shot;
  ASSERT_EQ(s.x.xdotool({"windowsize", std::to_string(s.window), "600", "450"}, 10000), 0);
  // 2:3 in both directions: destination row d shows frame row (d x step) >> 20.
  const int32_t step = (300 << 20) / 450;
  const auto source_row = [&](int d) { return static_cast<int>((static_cast<int64_t>(d) * step) >> 20); };
  int plane = 0, total = 0, black = 0;
  wait_until(60000, 250, [&] {
    client = s.x.geometry(s.window);
    if (client.width != 600 || client.height != 450) return false;
    shot = s.x.screenshot();
    plane = total = black = 0;
    for (int d = 0; d < 12; ++d) black += shot.at(client.x + 300, client.y + d) == 0 ? 1 : 0;
    for (int d = 300; d < 450; d += 3) {
      for (int dx = 0; dx < 600; dx += 3, ++total) {
        plane += xtest::is_plane_colour(shot.at(client.x + dx, client.y + d), source_row(d), 0xFFFFFF) ? 1 : 0;
      }
    }
    return black == 12 && plane >= total * 6 / 10;
  });
  save(shot, "wine_resized");
  EXPECT_EQ(std::vector<int>({client.width, client.height}), std::vector<int>({600, 450}));
  EXPECT_EQ(black, 12) << "frame rows 0 to 7 cover destination rows 0 to 11";
  EXPECT_GE(plane, total * 6 / 10) << "the plane's colours at the bottom of the stretched frame";
  EXPECT_EQ(s.escape(client), 0);
}

// The show answering in a box that waits for the user, closed with Enter, then ending with the
// answer's exit code; the text goes to standard error as well. A file dropped on the program
// starts it with the file's name as its argument: with no console to print to, the program
// answers any argument in a box (the usage, which takes many lines). On a screen of 8 bits
// per pixel Wine's DirectDraw cannot set up either display mode: the window comes up and the
// show reports that in a message box.
TEST(WineWindow, ItAnswersInABoxAndEndsOnceTheUserClosesIt) {
  struct Case {
    int depth;
    std::vector<std::string> args;
    std::string box, printed;
    int code;
  };
  const Case cases[] = {{24, {"C:\\users\\someone\\Desktop\\dropped file.txt"}, "^musicdisk$", "usage: musicdisk", 2},
                        {24, {"--help"}, "^musicdisk$", "usage: musicdisk", 0},
                        {8, {}, "^Error$", "cannot init screen", 1}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.printed + " " + std::to_string(k.code));
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start(false, k.depth, k.args, fileno(err)));
    if (!k.args.empty()) {
      EXPECT_GE(s.x.geometry(s.window).height, 200) << "the usage's lines in the box";
    }
    ASSERT_NO_FATAL_FAILURE(s.answer_box(k.box));
    EXPECT_EQ(s.ended(30000), k.code) << "once the box is closed";
    std::string printed(4096, '\0');
    std::rewind(err);
    printed.resize(std::fread(printed.data(), 1, printed.size(), err));
    std::fclose(err);
    EXPECT_NE(printed.find(k.printed), std::string::npos) << "and printed: " << printed;
  }
}

// Without an X server to connect to, where no box can appear and the reports go to standard
// error as well: with no screen at all neither display mode can be set up, and the show
// reports "cannot init screen" without preparing anything; with a damaged disk block appended
// to its own file (cut short, one byte of its pieces changed, a wrong size in its trailer) it
// names the fault before any window opens. Exit code 1 every time.
TEST(WineWindow, WithoutAScreenItReportsWhyItCannotStartAndEndsWithOne) {
  const fs::path dir = fs::temp_directory_path() / ("md_wine_disk_" + std::to_string(getpid()));
  fs::create_directories(dir);
  DiskPieces pieces;
  pieces.tunes = {{4, 0, 0, 0, 0, 0, 0, 0, 'Q', 'K', 'B', 0}};
  pieces.tuneLabels = {"One"};
  pieces.linkLabels = {"Home"};
  pieces.linkAddresses = {"https://example.org/"};
  pieces.logo = pieces.sprite = pieces.scrollText = {'x', 'y', 'z'};
  const std::vector<uint8_t> sound = encode_disk_block(pieces);
  // The block's size sits 20 bytes before its end, in the trailer.
  const auto wrong_size = [](std::vector<uint8_t>& b) {
    const uint8_t size[4] = {0, 0, 0, 0x80};  // 2^31, little-endian
    std::copy_n(size, 4, b.end() - 20);
  };
  const struct {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* report;
  } cases[] = {{"no disk", nullptr, "cannot init screen"},
               {"cut", [](std::vector<uint8_t>& b) { b.resize(b.size() - 100); }, "damaged disk: the block is cut short"},
               {"flipped", [](std::vector<uint8_t>& b) { b[b.size() / 2] ^= 0x01; },
                "damaged disk: the block's checksum does not match"},
               {"sized", wrong_size, "gives its size as 2147483648"}};
  stop_wineserver();
  ASSERT_NE(run(wine("", {"reg", "delete", ExplorerKey, "/v", "Desktop", "/f"}), {}, 120000), 127) << "is Wine installed?";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string exe = MUSICDISK_WINDOWS_PROGRAM;
    if (c.damage) {
      exe = (dir / (std::string(c.name) + ".exe")).string();
      fs::copy_file(MUSICDISK_WINDOWS_PROGRAM, exe, fs::copy_options::overwrite_existing);
      std::vector<uint8_t> block = sound;
      c.damage(block);
      std::ofstream(exe, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(block.data()),
                                                                 static_cast<std::streamsize>(block.size()));
    }
    stop_wineserver();
    const Program program(exe);
    std::string errors;
    EXPECT_EQ(program.code(run(program.command("", {}), {}, 120000, &errors)), 1) << "exit code 1";
    EXPECT_NE(errors.find(c.report), std::string::npos) << errors;
  }
  stop_wineserver();
  fs::remove_all(dir);
}

}  // namespace
