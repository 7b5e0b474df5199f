// The whole show on the headless backend, run the way the show, menu, display and
// golden-frame tests run it: from a fresh show state and screen to the process's end.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/headless/headless.h"

namespace showtest {

// A screen whose only key is Escape, pressed at `ms`.
HeadlessConfig escape_at(uint32_t ms);

// Runs the show to its end; the process's exit code. `on_present`, when given, sees every
// presented frame.
int run(const HeadlessConfig& config, std::function<void(const HeadlessFrame&)> on_present = {});

// Adds a press of `vk` at `ms` and its release `held_ms` later (none when 0).
void press(HeadlessConfig& config, uint32_t ms, uint32_t vk, uint32_t held_ms = 50);

// The menu and the music when a frame was presented.
struct FrameState {
  uint32_t ms;  // show time
  int32_t tune, link, bar, playing;
  bool sounding;  // the player's own flag: a tune is rendered into the sound buffer
};

// Runs the show like run() and records the state of every presented frame.
std::vector<FrameState> run_recorded(const HeadlessConfig& config, int* exit_code = nullptr);

// The values one field takes over the frames, each change once, in order.
std::vector<int32_t> changes(const std::vector<FrameState>& frames, int32_t FrameState::*field);

}  // namespace showtest
