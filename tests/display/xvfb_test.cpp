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
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assets/menu_texts.h"
#include "support/x_session.h"

namespace {

using xtest::Geometry;
using xtest::Shot;
using xtest::sleep_ms;
using xtest::wait_exit;
using xtest::wait_until;

// How long the show may take to end once asked: its exit includes the sanitizers' checks,
// which on a loaded machine take many seconds.
constexpr int ShowEndMs = 60000;

// A virtual X server with the show running on it, optionally under a window manager (for
// what only one can do: fullscreen on request, the way desktops expect it asked for).
class Session {
 public:
  void start(int width, int height, int depth, bool window_manager = false) {
    const std::string started = x.start(width, height, depth);
    ASSERT_EQ(started, "");
    if (window_manager) {
      ASSERT_EQ(x.start_window_manager(), "");
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
    show = xtest::spawn({MUSICDISK_PROGRAM}, x.env({"SDL_AUDIODRIVER=dummy", "PATH=" + folder_ + ":" +
                                                                             (path != nullptr ? path : "/usr/bin:/bin")}));
    window = x.find_window("^musicdisk$", 30000, show);
    ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << wait_exit(show, 0);
  }

  ~Session() {
    xtest::stop(show);
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

  // Waits until the scene is in the window, shown 1:1 (at 16 bits the screen keeps the top
  // 5, 6 and 5 bits of the channels); the last screenshot and what it lacked.
  xtest::SceneWait wait_for_scene(uint32_t keep = 0xFFFFFF, bool exact = true) {
    return xtest::wait_for_scene(x, [this] { return geometry(); }, keep, exact, 60000, show);
  }

  // Waits until the show presents its scene (the frame loop runs: the held keys are read
  // from now on), then as long again as the menu's guards keep the keys out at its start.
  void wait_for_the_show_and_its_guards() {
    const xtest::SceneWait w = wait_for_scene();
    ASSERT_TRUE(w.faults.empty()) << "the show presented no scene; " << xtest::describe(w.faults);
    // No link opens in the first 2000 ms of the frame loop: a lower bound, so a slow
    // machine only waits longer than needed here.
    sleep_ms(2200);
  }

  // Runs xdotool with these commands (keydown, keyup, sleep ...) against the focused show.
  void keys(const std::vector<std::string>& commands) {
    x.focus(window);
    ASSERT_EQ(x.xdotool(commands), 0) << "xdotool (127: is it installed?)";
  }

  // Presses keys with xdotool (real key events through XTEST) into the focused show and
  // holds them for a tenth of a second, as a hand does: the show reads the held keys once
  // per frame, so a shorter tap can pass unseen.
  void press(const std::string& keys) {
    x.focus(window);
    ASSERT_EQ(x.xdotool({"keydown", keys, "sleep", "0.1", "keyup", keys}, 5000), 0)
        << "xdotool key " << keys << " (127: is it installed?)";
  }

  Geometry geometry() { return x.geometry(window); }

  // Waits until the window has this inside (x, y, width, height; -1 for any); the last one.
  Geometry wait_for_geometry(std::vector<int> want) {
    Geometry g;
    wait_until(15000, 50, [&] {
      g = geometry();
      const int got[] = {g.x, g.y, g.width, g.height};
      for (size_t i = 0; i < 4; ++i) {
        if (want[i] != -1 && want[i] != got[i]) return false;
      }
      return true;
    });
    return g;
  }

  xtest::XServer x;
  pid_t show = -1;
  XWindow window = 0;

 private:
  std::string folder_;
};

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
  const xtest::SceneWait w = x.wait_for_scene(GetParam() == 16 ? 0xF8FCF8 : 0xFFFFFF);
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "the show is running";
  EXPECT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, ShowEndMs), 0) << "Escape ends the show with exit code 0";
}

INSTANTIATE_TEST_SUITE_P(Depths, RealWindow, ::testing::Values(24, 16),
                         [](const auto& info) { return "Screen" + std::to_string(info.param) + "Bits"; });

TEST(RealWindowModes, AltEnterGoesFullscreenAndBack) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24, true));
  const xtest::SceneWait first = x.wait_for_scene();
  ASSERT_TRUE(first.faults.empty()) << "windowed: " << xtest::describe(first.faults);
  const Geometry windowed = first.area;
  x.press("alt+Return");
  const Geometry full = x.wait_for_geometry({-1, -1, 1280, 800});
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running after going fullscreen";
  EXPECT_EQ(full.width, 1280);
  EXPECT_EQ(full.height, 800);
  // The frame fills the largest centred 4:3 area, black at the sides.
  const xtest::SceneWait w =
      xtest::wait_for_scene(x.x, [] { return Geometry{(1280 - 1066) / 2, 0, 1066, 800}; }, 0xFFFFFF, false, 60000, x.show);
  EXPECT_TRUE(w.faults.empty()) << "fullscreen: " << xtest::describe(w.faults);
  int side_black = 0;
  for (int y = 0; y < 800; y += 8) side_black += (w.shot.at(10, y) == 0 && w.shot.at(1270, y) == 0) ? 1 : 0;
  EXPECT_EQ(side_black, 100) << "black beside the 4:3 area";

  x.press("alt+Return");
  const Geometry back = x.wait_for_geometry({windowed.x, windowed.y, windowed.width, windowed.height});
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running after coming back";
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({windowed.x, windowed.y, windowed.width, windowed.height}));
  const xtest::SceneWait again = x.wait_for_scene();
  EXPECT_TRUE(again.faults.empty()) << "back in the window: " << xtest::describe(again.faults);
  x.press("Escape");
  EXPECT_EQ(wait_exit(x.show, ShowEndMs), 0);
}

TEST(RealWindowModes, ClosingTheWindowEndsWithExitCodeZero) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1024, 768, 24));
  const xtest::SceneWait w = x.wait_for_scene();
  ASSERT_TRUE(w.faults.empty()) << xtest::describe(w.faults);
  x.x.request_close(x.window);
  EXPECT_EQ(wait_exit(x.show, ShowEndMs), 0) << "-1: still running, -2: killed by a signal";
}

// The keys as a hand (or a remote desktop, or an automation tool) gives them, seen through
// the links the show opens: the arrows move the link bar, Enter opens the selected link.
struct KeyScenario {
  const char* name;
  std::vector<std::string> keys;  // xdotool commands
  int link;                       // the one link opened at the end; 0: any but link 1
  // The longest an arrow key may stay down, as the X server saw it, for the keys to mean
  // what the scenario says (held within the arrows' 200 ms guard, so acted on once). A
  // starved xdotool can hold a key far longer than it was told; such a try says nothing of
  // the show and is made again with a fresh one.
  int arrow_hold_ms;
};

void PrintTo(const KeyScenario& s, std::ostream* os) { *os << s.name; }

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

class RealWindowKeys : public ::testing::TestWithParam<KeyScenario> {};

TEST_P(RealWindowKeys, OpenTheLinkTheKeysSelected) {
  constexpr int Tries = 5;
  unsigned long held = 0;
  std::unique_ptr<Session> x;
  for (int attempt = 0; attempt < Tries; ++attempt) {
    x = std::make_unique<Session>();
    ASSERT_NO_FATAL_FAILURE(x->start(1024, 768, 24));
    ASSERT_NO_FATAL_FAILURE(x->wait_for_the_show_and_its_guards());
    x->x.watch_keys(x->window);
    ASSERT_NO_FATAL_FAILURE(x->keys(GetParam().keys));
    held = longest_arrow_hold(x->x.key_events());
    if (held <= static_cast<unsigned long>(GetParam().arrow_hold_ms)) break;
  }
  ASSERT_LE(held, static_cast<unsigned long>(GetParam().arrow_hold_ms))
      << "xdotool held an arrow key too long in all " << Tries << " tries";
  std::vector<std::string> opened;
  wait_until(10000, 20, [&] { return !(opened = x->opened()).empty(); });
  ASSERT_EQ(opened.size(), 1u) << "one link opened";
  if (GetParam().link != 0) {
    EXPECT_EQ(opened[0], LinkAddresses[GetParam().link]);
  } else {
    EXPECT_NE(opened[0], LinkAddresses[1]) << "the arrow moved the link bar";
  }
  x->keys({"keydown", "Escape", "sleep", "0.005", "keyup", "Escape"});
  EXPECT_EQ(wait_exit(x->show, ShowEndMs), 0) << "a tap of Escape ends the show";
}

// Each key pressed for 100 ms unless it is a tap; 500 ms between actions, so that the arrow
// keys' 200 ms guard has run out even when the show sees one key late and the next on time.
const std::vector<std::string> Down = {"keydown", "Down", "sleep", "0.1", "keyup", "Down", "sleep", "0.5"};
const std::vector<std::string> Enter = {"keydown", "Return", "sleep", "0.1", "keyup", "Return"};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// For a scenario that holds an arrow on.
constexpr int AnyHold = 1 << 30;

INSTANTIATE_TEST_SUITE_P(
    Keys, RealWindowKeys,
    ::testing::Values(
        // Left released while Alt is held: one step back (link 17), not one every 220 ms.
        // Held for 40 ms in all, well inside the arrows' 200 ms guard, so it acts once.
        KeyScenario{"ArrowReleasedWhileAltIsHeld",
                    join({Down,
                          {"keydown", "Left", "sleep", "0.02", "keydown", "alt", "sleep", "0.02", "keyup", "Left",
                           "sleep", "0.1", "keyup", "alt", "sleep", "1.2"},
                          Enter}),
                    17, 180},
        // Left pressed with Alt and held on after Alt is let go: its repeats move the bar.
        KeyScenario{"ArrowHeldOnAfterAlt",
                    join({Down,
                          {"keydown", "alt", "sleep", "0.1", "keydown", "Left", "sleep", "0.1", "keyup", "alt",
                           "sleep", "1.5", "keyup", "Left", "sleep", "0.3"},
                          Enter}),
                    0, AnyHold},
        // Taps of 5 ms, shorter than a frame: every one counts.
        KeyScenario{"TapsOf5Ms",
                    {"keydown", "Down", "sleep", "0.005", "keyup", "Down", "sleep", "0.5", "keydown", "Left", "sleep",
                     "0.005", "keyup", "Left", "sleep", "0.5", "keydown", "Return", "sleep", "0.005", "keyup",
                     "Return"},
                    17, 180}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealWindowModes, BackFromFullscreenWhereAndAsLargeAsBeforeWhenPartlyOffTheScreen) {
  Session x;
  ASSERT_NO_FATAL_FAILURE(x.start(1280, 800, 24, true));
  ASSERT_NO_FATAL_FAILURE(x.wait_for_the_show_and_its_guards());
  x.x.move(x.window, -60, 100);  // the window manager keeps it there, its frame around it
  ASSERT_TRUE(wait_until(20000, 50, [&] { return x.geometry().x < 0; }))
      << "the window never went partly off the screen's left edge";
  const Geometry before = x.wait_for_geometry({-1, -1, 400, -1});
  ASSERT_LT(before.x, 0) << "partly off the screen's left edge";
  ASSERT_EQ(before.width, 400);
  const std::vector<std::string> alt_enter = {"keydown", "alt",    "keydown", "Return", "sleep", "0.1",
                                              "keyup",   "Return", "keyup",   "alt",    "sleep", "0.8"};
  x.keys(alt_enter);
  EXPECT_EQ(x.wait_for_geometry({-1, -1, 1280, 800}).width, 1280) << "fullscreen";
  x.keys(alt_enter);
  const Geometry back = x.wait_for_geometry({before.x, before.y, before.width, before.height});
  EXPECT_EQ(std::vector<int>({back.x, back.y, back.width, back.height}),
            std::vector<int>({before.x, before.y, before.width, before.height}));
  ASSERT_EQ(wait_exit(x.show, 0), -1) << "still running";
}

TEST(RealProgram, NoScreenIsReportedWithExitCodeOne) {
  // No X server at that address: the window cannot be made.
  std::string printed;
  EXPECT_EQ(xtest::run({"env", "-u", "WAYLAND_DISPLAY", MUSICDISK_PROGRAM}, {"DISPLAY=:65000", "SDL_AUDIODRIVER=dummy"},
                       10000, &printed),
            1);
  EXPECT_NE(printed.find("cannot init screen"), std::string::npos) << printed;
}

}  // namespace
