// The real program in a real window: each test starts its own virtual X server (Xvfb),
// runs musicdisk on it, reads the screen back and drives it with real key events
// (xdotool) and the window manager's close request. Sound goes to SDL's dummy driver.
// Every check waits for what it looks for (the scene, a window's size, an opened link)
// with a generous deadline, so a loaded machine makes the tests slower, not wrong.
// Xvfb, xdotool and openbox come from scripts/install-deps.sh; without them the tests fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assets/menu_texts.h"
#include "support/x_session.h"

namespace {

using xtest::Geometry;
using xtest::wait_exit;
using xtest::wait_until;

// How long the show may take to end once asked: its exit includes the sanitizers' checks,
// which on a loaded machine take many seconds.
constexpr int ShowEndMs = 60000;

std::vector<int> corners(const Geometry& g) { return {g.x, g.y, g.width, g.height}; }

// A virtual X server with the show running on it, optionally under a window manager (for
// what only one can do: fullscreen on request, the way desktops expect it asked for).
class Session {
 public:
  void start(int width, int height, int depth, bool window_manager = false) {
    ASSERT_EQ(x.start(width, height, depth), "");
    if (window_manager) {
      ASSERT_EQ(x.start_window_manager(), "");
    }
    // The desktop's way of opening an address, xdg-open, is found on the PATH: a stand-in
    // in front of the real one writes down every address the show asks for.
    char folder[] = "/tmp/musicdisk-xvfb-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    std::ofstream(folder_ + "/xdg-open") << "#!/bin/sh\necho \"$1\" >> '" << folder_ << "/opened'\n";
    ASSERT_EQ(chmod((folder_ + "/xdg-open").c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    show = xtest::spawn({MUSICDISK_PROGRAM}, x.env({"SDL_AUDIODRIVER=dummy", "PATH=" + folder_ + ":" +
                                                                             (path != nullptr ? path : "/usr/bin:/bin")}));
    // The window shows once everything is prepared: about a second of CPU time in a sanitised
    // build, which a machine loaded thirty times over stretches past half a minute.
    window = x.find_window("^musicdisk$", 300000, show);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  }

  ~Session() {
    xtest::stop(show);
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  // The addresses the show has asked the desktop to open, in order.
  std::vector<std::string> opened() {
    std::vector<std::string> lines;
    std::ifstream in(folder_ + "/opened");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Waits until the scene is in the window; what it lacked, empty when it came.
  std::string scene_faults(uint32_t keep = 0xFFFFFF) {
    const xtest::SceneWait w = xtest::wait_for_scene(x, [this] { return x.geometry(window); }, keep, true, 60000, show);
    return w.faults.empty() ? "" : xtest::describe(w.faults);
  }

  // Runs xdotool with these commands (keydown, keyup, sleep ...) against the focused show.
  void keys(const std::vector<std::string>& commands) {
    x.focus(window);
    ASSERT_EQ(x.xdotool(commands), 0) << "xdotool (127: is it installed?)";
  }

  // Holds the keys for a tenth of a second, as a hand does: the show reads the held keys
  // once per frame.
  void press(const std::string& key) { keys({"keydown", key, "sleep", "0.1", "keyup", key}); }

  // Waits until the window's inside is `want` (x, y, width, height; -1 for any); the last one.
  std::vector<int> wait_for_geometry(const std::vector<int>& want) {
    std::vector<int> got;
    wait_until(15000, 50, [&] {
      got = corners(x.geometry(window));
      return std::equal(want.begin(), want.end(), got.begin(), [](int w, int g) { return w == -1 || w == g; });
    });
    return got;
  }

  xtest::XServer x;
  pid_t show = -1;
  XWindow window = 0;

 private:
  std::string folder_;
};

// At 24 bits Escape ends the show, at 16 bits the window manager's close request.
class RealWindow : public ::testing::TestWithParam<int> {};

TEST_P(RealWindow, ShowsTheSceneCentredAndEndsWithExitCodeZero) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, GetParam()));
  // Opened in the middle of the screen (no window manager: no frame around it).
  EXPECT_EQ(corners(x.x.geometry(x.window)), std::vector<int>({(1024 - 400) / 2, (768 - 300) / 2, 400, 300}));
  // At 16 bits the screen keeps the top 5, 6 and 5 bits of the channels.
  EXPECT_EQ(x.scene_faults(GetParam() == 16 ? 0xF8FCF8 : 0xFFFFFF), "");
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "the show is running";
  if (GetParam() == 24) {
    x.press("Escape");
  } else {
    x.x.request_close(x.window);
  }
  EXPECT_EQ(wait_exit(x.show, ShowEndMs), 0) << "-1: still running, -2: killed by a signal";
}

INSTANTIATE_TEST_SUITE_P(Depths, RealWindow, ::testing::Values(24, 16),
                         [](const auto& info) { return "Screen" + std::to_string(info.param) + "Bits"; });

TEST(RealWindowModes, AltEnterGoesFullscreenAndBackWhereAndAsLargeAsBefore) {
  const std::vector<int> Fullscreen = {0, 0, 1280, 800};
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24, true));
  ASSERT_EQ(x.scene_faults(), "") << "windowed";
  const std::vector<int> windowed = corners(x.x.geometry(x.window));
  x.press("alt+Return");
  EXPECT_EQ(x.wait_for_geometry(Fullscreen), Fullscreen);
  // The frame fills the largest centred 4:3 area, black at the sides.
  const xtest::SceneWait w = xtest::wait_for_scene(
      x.x, [] { return Geometry{(1280 - 1066) / 2, 0, 1066, 800}; }, 0xFFFFFF, false, 60000, x.show);
  EXPECT_TRUE(w.faults.empty()) << "fullscreen: " << xtest::describe(w.faults);
  int side_black = 0;
  for (int y = 0; y < 800; y += 8) side_black += (w.shot.at(10, y) == 0 && w.shot.at(1270, y) == 0) ? 1 : 0;
  EXPECT_EQ(side_black, 100) << "black beside the 4:3 area";
  x.press("alt+Return");
  EXPECT_EQ(x.wait_for_geometry(windowed), windowed);
  EXPECT_EQ(x.scene_faults(), "") << "back in the window";

  // Partly off the screen's left edge (the window manager keeps it there, its frame around
  // it), then fullscreen and back: where it was, as large as it was.
  x.x.move(x.window, -60, 100);
  ASSERT_TRUE(wait_until(20000, 50, [&] { return x.x.geometry(x.window).x < 0; }))
      << "the window never went partly off the screen's left edge";
  const std::vector<int> before = x.wait_for_geometry({-1, -1, 400, -1});
  ASSERT_EQ(before[2], 400);
  x.press("alt+Return");
  EXPECT_EQ(x.wait_for_geometry(Fullscreen), Fullscreen);
  x.press("alt+Return");
  EXPECT_EQ(x.wait_for_geometry(before), before);
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, ShowEndMs), 0);
}

// The longest time from an arrow key's press to its release among these events.
unsigned long longest_arrow_hold(const std::vector<xtest::XServer::KeyEvent>& events) {
  std::map<std::string, unsigned long> down;
  unsigned long longest = 0;
  for (const auto& e : events) {
    if (e.key != "Left" && e.key != "Right" && e.key != "Up" && e.key != "Down") continue;
    if (e.pressed) {
      down.emplace(e.key, e.time_ms);  // an autorepeat press keeps the first one's time
    } else if (down.count(e.key) != 0) {
      longest = std::max(longest, e.time_ms - down[e.key]);
      down.erase(e.key);
    }
  }
  return longest;
}

// Real key events through the X server, seen through the link the show opens: taps of
// 5 ms, shorter than a frame, each count, and an arrow released while Alt is held counts
// once: Down, then Left select link 17, and Enter opens it.
TEST(RealWindowKeys, OpenTheLinkTheKeysSelected) {
  const std::vector<std::string> keys = {
      "keydown", "Down", "sleep", "0.005", "keyup", "Down", "sleep", "0.5",  // 500 ms: the arrows' guard runs out
      "keydown", "Left", "sleep", "0.02", "keydown", "alt", "sleep", "0.02", "keyup", "Left",
      "sleep", "0.1", "keyup", "alt", "sleep", "1.2", "keydown", "Return", "sleep", "0.005", "keyup", "Return"};
  // An arrow held down longer than the arrows' 200 ms guard acts twice. A starved xdotool
  // can hold a key far longer than it was told: such a try says nothing of the show and is
  // made again with a fresh one.
  constexpr int Tries = 5;
  unsigned long held = 0;
  std::unique_ptr<Session> x;
  for (int attempt = 0; attempt < Tries; ++attempt) {
    x = std::make_unique<Session>();
    ASSERT_NO_FATAL_FAILURE(x->start(1024, 768, 24));
    ASSERT_EQ(x->scene_faults(), "") << "the show presented no scene";
    // No link opens in the first 2000 ms of the frame loop, which runs from the scene on: a
    // lower bound, so a slow machine only waits longer than needed here.
    xtest::sleep_ms(2200);
    x->x.watch_keys(x->window);
    ASSERT_NO_FATAL_FAILURE(x->keys(keys));
    held = longest_arrow_hold(x->x.key_events());
    if (held <= 180) break;
  }
  ASSERT_LE(held, 180u) << "xdotool held an arrow key too long in all " << Tries << " tries";
  std::vector<std::string> opened;
  wait_until(10000, 20, [&] { return !(opened = x->opened()).empty(); });
  EXPECT_EQ(opened, std::vector<std::string>({LinkAddresses[17]}));
}

}  // namespace
