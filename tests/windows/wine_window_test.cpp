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
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/disk_block.h"
#include "support/x_session.h"

namespace {

using xtest::Geometry;
using xtest::run;
using xtest::save;
using xtest::Shot;
using xtest::sleep_ms;
using xtest::wait_exit;
using xtest::wait_until;

// A virtual X server with the Windows program running on it under Wine.
class Session {
 public:
  // Starts the program with `args`, its standard output and error into `output` unless -1,
  // and waits for its first window.
  void start(bool virtual_desktop, int depth = 24, std::vector<std::string> args = {}, int output = -1) {
    const std::string started = x.start(1024, 768, depth);
    ASSERT_EQ(started, "");
    // A Wine server left over from an earlier run would keep its desktop on that X server.
    run({"wineserver", "-k"}, {}, 30000);
    run({"wineserver", "-w"}, {}, 30000);
    const std::string key = "HKCU\\Software\\Wine\\Explorer";
    if (virtual_desktop) {
      ASSERT_EQ(run({"wine", "reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"}, env(), 120000), 0);
      ASSERT_EQ(run({"wine", "reg", "add", key + "\\Desktops", "/v", "Default", "/d", "1024x768", "/f"}, env(), 120000),
                0);
    } else {
      run({"wine", "reg", "delete", key, "/v", "Desktop", "/f"}, env(), 120000);
    }
    // The desktop is made as Wine starts: start it again with the setting in place.
    run({"wineserver", "-k"}, {}, 30000);
    run({"wineserver", "-w"}, {}, 30000);
    args.insert(args.begin(), {"wine", MUSICDISK_WINDOWS_PROGRAM});
    show = xtest::spawn(args, env(), output, output);
    window = x.find_window("^musicdisk$", 120000, show);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  }

  ~Session() {
    xtest::stop(show);
    run({"wineserver", "-k"}, {}, 30000);
  }

  std::vector<std::string> env() const { return x.env({"WINEDEBUG=-all"}); }

  Geometry geometry(XWindow w) { return x.geometry(w); }
  Shot screenshot() { return x.screenshot(); }
  XWindow find_window(const std::string& pattern, int timeout_ms) { return x.find_window(pattern, timeout_ms, show); }

  // Clicks into the window (making it the active one) and holds the keys for a tenth of a
  // second, as a hand does: the show reads the held keys once per frame.
  void press(const std::string& keys, const Geometry& into) {
    const std::string cx = std::to_string(into.x + into.width / 2), cy = std::to_string(into.y + into.height / 2);
    ASSERT_EQ(x.xdotool({"mousemove", cx, cy, "click", "1"}, 10000), 0) << "xdotool (is it installed?)";
    sleep_ms(200);
    ASSERT_EQ(x.xdotool({"keydown", keys, "sleep", "0.1", "keyup", keys}, 10000), 0);
  }

  // Holds Escape until the show ends; its exit code, or -1 when it did not end.
  int escape(const Geometry& into) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      press("Escape", into);
      const int code = wait_exit(show, 5000);
      if (code != -1) return code;
    }
    return -1;
  }

  // Screenshots until the show's frame is found anywhere (the first frames come after the
  // unpacking, which under Wine on a busy machine takes a while); false after `timeout_ms`.
  bool wait_for_frame(Shot* shot, int* fx, int* fy, int timeout_ms) {
    return wait_until(timeout_ms, 250, [&] {
      *shot = screenshot();
      return xtest::find_frame(*shot, fx, fy) || wait_exit(show, 0) != -1;
    }) && wait_exit(show, 0) == -1;
  }

  // Screenshots until the show's frame is at (fx, fy); false after `timeout_ms`.
  bool wait_for_frame_at(Shot* shot, int fx, int fy, int timeout_ms) {
    return wait_until(timeout_ms, 250, [&] {
      *shot = screenshot();
      return xtest::frame_at(*shot, fx, fy) || wait_exit(show, 0) != -1;
    }) && wait_exit(show, 0) == -1;
  }

  // Waits until the window's X window is its 400 x 300 client area (without a window manager
  // or a virtual desktop, Wine settles it so; at first it spans the whole window) and the
  // scene is in it.
  xtest::SceneWait wait_for_scene_in_window(uint32_t keep = 0xFFFFFF) {
    return xtest::wait_for_scene(x, [this] { return geometry(window); }, keep, true, 120000, show);
  }

  xtest::XServer x;
  pid_t show = -1;
  XWindow window = 0;
};

void expect_scene(const Shot& shot, int fx, int fy, uint32_t keep = 0xFFFFFF) {
  const std::vector<std::string> faults = xtest::scene_faults(shot, {fx, fy, 400, 300}, keep, true);
  EXPECT_TRUE(faults.empty()) << xtest::describe(faults);
}

TEST(WineWindow, ShowsTheSceneGoesFullscreenAndBackAndEscapeEndsIt) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(true));
  // Windowed: a 400 x 300 client area under the title bar, the frame shown 1:1.
  Shot shot;
  int x = -1, y = -1;
  const bool found = s.wait_for_frame(&shot, &x, &y, 120000);
  save(shot, "wine_windowed");
  ASSERT_TRUE(found) << "no frame on the screen";
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "the show is running";
  EXPECT_GT(y, 0) << "a title bar above the picture";
  expect_scene(shot, x, y);
  const Geometry windowed = {x, y, 400, 300};
  const XWindow desktop = s.find_window("Wine desktop$", 10000);
  ASSERT_NE(desktop, 0u) << "Wine's virtual desktop";

  // Fullscreen: the display in a 400 x 300 mode (Wine's desktop shrinks to it), the frame
  // filling it.
  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", windowed));
  EXPECT_TRUE(s.wait_for_frame_at(&shot, 0, 0, 60000)) << "no frame at the screen's corner";
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "still running after going fullscreen";
  EXPECT_EQ(s.find_window("^Error$", 0), 0u) << "no error report";
  Geometry mode;
  wait_until(15000, 100, [&] { return (mode = s.geometry(desktop)).width == 400; });
  EXPECT_EQ(std::vector<int>({mode.x, mode.y, mode.width, mode.height}), std::vector<int>({0, 0, 400, 300}));
  save(shot, "wine_fullscreen");
  expect_scene(shot, 0, 0);

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", {0, 0, 400, 300}));
  EXPECT_TRUE(s.wait_for_frame_at(&shot, windowed.x, windowed.y, 60000)) << "no frame back in the window";
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "still running after coming back";
  Geometry desk;
  wait_until(15000, 100, [&] { return (desk = s.geometry(desktop)).width == 1024; });
  EXPECT_EQ(std::vector<int>({desk.width, desk.height}), std::vector<int>({1024, 768})) << "the desktop's mode back";
  ASSERT_TRUE(s.wait_for_frame(&shot, &x, &y, 30000)) << "no frame on the screen back in the window";
  EXPECT_EQ(std::vector<int>({x, y}), std::vector<int>({windowed.x, windowed.y})) << "the window where it was";
  expect_scene(shot, x, y);

  // Alt pressed and let go alone must not stop the show in the system menu's keyboard mode.
  ASSERT_NO_FATAL_FAILURE(s.press("alt", windowed));
  sleep_ms(500);  // the system menu's keyboard mode, where it comes, comes at once
  const Shot before = s.screenshot();
  int changed = 0;
  wait_until(20000, 100, [&] {
    const Shot after = s.screenshot();
    changed = 0;
    for (int fy = 8; fy < 300; ++fy) {
      for (int fx = 0; fx < 400; ++fx) changed += before.at(x + fx, y + fy) != after.at(x + fx, y + fy) ? 1 : 0;
    }
    return changed > 1000;
  });
  EXPECT_GT(changed, 1000) << "the scene moves on after Alt alone";

  EXPECT_EQ(s.escape(windowed), 0) << "a held Escape ends the show with exit code 0";
}

TEST(WineWindow, AFailedModeSwitchIsReportedAndTheShowGoesOnInItsWindow) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  // Without a window manager or a virtual desktop, the window's X window becomes its client
  // area once Wine has settled it (at first it spans the whole window).
  const xtest::SceneWait w = s.wait_for_scene_in_window();
  save(w.shot, "wine_bare_windowed");
  const Geometry client = w.area;
  ASSERT_EQ(std::vector<int>({client.width, client.height}), std::vector<int>({400, 300}));
  ASSERT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
  Shot shot;

  ASSERT_NO_FATAL_FAILURE(s.press("alt+Return", client));
  const XWindow box = s.find_window("^Error$", 60000);
  ASSERT_NE(box, 0u) << "the failed switch is reported in a message box";
  ASSERT_NO_FATAL_FAILURE(s.press("Return", s.geometry(box)));
  EXPECT_TRUE(s.wait_for_frame_at(&shot, client.x, client.y, 60000)) << "no frame back in the window";
  ASSERT_EQ(wait_exit(s.show, 0), -1) << "the show goes on after the report";
  wait_until(15000, 100, [&] { return s.find_window("^Error$", 0) == 0; });
  EXPECT_EQ(s.find_window("^Error$", 0), 0u) << "one report: switching back worked";
  const xtest::SceneWait back_scene = s.wait_for_scene_in_window();
  const Geometry back = back_scene.area;
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({client.x, client.y, client.width, client.height}))
      << "the window where it was";
  save(back_scene.shot, "wine_bare_back");
  EXPECT_TRUE(back_scene.faults.empty()) << xtest::describe(back_scene.faults);

  EXPECT_EQ(s.escape(back), 1) << "an error was reported, so the show ends with exit code 1";
}

// A 16-bit desktop: the windowed primary is 5-6-5 and the show converts into it.
TEST(WineWindow, ShowsTheSceneOnA16BitScreen) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false, 16));
  const xtest::SceneWait w = s.wait_for_scene_in_window(0xF8FCF8);
  save(w.shot, "wine_16_bits");
  EXPECT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
  EXPECT_EQ(s.escape(w.area), 0);
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
    client = s.geometry(s.window);
    if (client.width != 600 || client.height != 450) return false;
    shot = s.screenshot();
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

TEST(WineWindow, ClosingTheWindowEndsTheShowWithExitCodeZero) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false));
  const xtest::SceneWait w = s.wait_for_scene_in_window();
  ASSERT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
  s.x.request_close(s.window);
  EXPECT_EQ(wait_exit(s.show, 30000), 0) << "-1: still running, -2: killed by a signal";
}

// A file dropped on the program starts it with the file's name as its argument. With no
// console to print to, the program answers any argument in a box (the usage, which takes many
// lines), waits for the user to close it, and ends with the exit code of its answer.
TEST(WineWindow, AnArgumentIsAnsweredInABoxNeverSilently) {
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {{{"C:\\users\\someone\\Desktop\\dropped file.txt"}, 2}, {{"--help"}, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args[0]);
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start(false, 24, k.args, fileno(err)));
    EXPECT_EQ(wait_exit(s.show, 0), -1) << "the box waits for the user";
    const Geometry box = s.geometry(s.window);
    EXPECT_GE(box.height, 200) << "the usage's lines in the box";
    ASSERT_NO_FATAL_FAILURE(s.press("Return", box));
    EXPECT_EQ(wait_exit(s.show, 30000), k.code) << "once the box is closed";
    std::string printed(4096, '\0');
    std::rewind(err);
    printed.resize(std::fread(printed.data(), 1, printed.size(), err));
    std::fclose(err);
    EXPECT_NE(printed.find("usage: musicdisk"), std::string::npos) << "and printed: " << printed;
  }
}

// A screen of 8 bits per pixel, on which Wine's DirectDraw cannot set up either display mode:
// the window comes up, the show reports "cannot init screen" in a message box, and once the
// box is closed it ends with exit code 1.
TEST(WineWindow, OnAScreenItCannotUseItReportsThatAndEndsWithOne) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.start(false, 8));
  const XWindow box = s.find_window("^Error$", 120000);
  ASSERT_NE(box, 0u) << "the report in a message box";
  EXPECT_EQ(wait_exit(s.show, 0), -1) << "the box waits for the user";
  ASSERT_NO_FATAL_FAILURE(s.press("Return", s.geometry(box)));
  EXPECT_EQ(wait_exit(s.show, 30000), 1) << "exit code 1 once the box is closed";
}

// The program under Wine with no X server to connect to: its exit code (-1 when it did not
// end within two minutes) and what it wrote to standard error, where its reports go too.
struct Unseen {
  int code;
  std::string errors;
};
Unseen run_without_a_screen(const std::string& program) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, "no pipe"};
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 2);
    close(fds[0]);
    unsetenv("DISPLAY");
    setenv("WINEDEBUG", "-all", 1);
    execlp("wine", "wine", program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  Unseen r{-1, {}};
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) r.errors.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  r.code = wait_exit(pid, 120000);
  return r;
}

// No screen at all (no X server to connect to): neither display mode can be set up, the
// show reports "cannot init screen" and ends with exit code 1 without preparing anything.
TEST(WineWindow, WithoutAScreenItReportsThatItCannotInitTheScreenAndEndsWithOne) {
  const std::string key = "HKCU\\Software\\Wine\\Explorer";
  ASSERT_EQ(run({"wineserver", "-k"}, {}, 30000) == 127, false) << "wineserver (is Wine installed?)";
  run({"wineserver", "-w"}, {}, 30000);
  run({"env", "-u", "DISPLAY", "wine", "reg", "delete", key, "/v", "Desktop", "/f"}, {"WINEDEBUG=-all"}, 120000);
  run({"wineserver", "-w"}, {}, 30000);
  const Unseen r = run_without_a_screen(MUSICDISK_WINDOWS_PROGRAM);
  EXPECT_EQ(r.code, 1) << "exit code 1";
  EXPECT_NE(r.errors.find("cannot init screen"), std::string::npos) << r.errors;
  run({"wineserver", "-k"}, {}, 30000);
}

// The program with a damaged disk block appended (one byte of its pieces changed): it reads
// its own file, names the fault and ends with exit code 1 before any window opens. Without
// a screen the box cannot appear; the text goes to standard error as well.
TEST(WineWindow, ADamagedDiskBlockInItsOwnFileIsRefusedWithItsCause) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("md_wine_disk_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path program = dir / "damaged.exe";
  fs::copy_file(MUSICDISK_WINDOWS_PROGRAM, program, fs::copy_options::overwrite_existing);
  DiskPieces pieces;
  pieces.tunes = {{4, 0, 0, 0, 0, 0, 0, 0, 'Q', 'K', 'B', 0}};
  pieces.tuneLabels = {"One"};
  pieces.linkLabels = {"Home"};
  pieces.linkAddresses = {"https://example.org/"};
  pieces.logo = pieces.sprite = pieces.scrollText = {'x', 'y', 'z'};
  std::vector<uint8_t> block = encode_disk_block(pieces);
  block[block.size() / 2] ^= 0x01;
  {
    std::ofstream out(program, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  }
  run({"wineserver", "-k"}, {}, 30000);
  run({"wineserver", "-w"}, {}, 30000);
  const Unseen r = run_without_a_screen(program.string());
  EXPECT_EQ(r.code, 1) << "exit code 1";
  EXPECT_NE(r.errors.find("damaged disk: the block's checksum does not match"), std::string::npos) << r.errors;
  run({"wineserver", "-k"}, {}, 30000);
  fs::remove_all(dir);
}

}  // namespace
