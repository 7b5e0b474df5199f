#include "support/show_runner.h"

#include <utility>

#include "audio/audio_stream.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/window.h"
#include "player/player.h"

namespace showtest {

HeadlessConfig escape_at(uint32_t ms) {
  HeadlessConfig c;
  c.keys = {{ms, VK_ESCAPE, true, false}};
  return c;
}

int run(const HeadlessConfig& config, std::function<void(const HeadlessFrame&)> on_present) {
  reset_show_state();
  headless_reset(config);
  if (on_present) headless_set_present_hook(std::move(on_present));
  return headless_run([] {
    run_show();
    exit_process(show_exit_code());
  });
}

void press(HeadlessConfig& config, uint32_t ms, uint32_t vk, uint32_t held_ms) {
  config.keys.push_back({ms, vk, true, false});
  if (held_ms != 0) config.keys.push_back({ms + held_ms, vk, false, false});
}

std::vector<FrameState> run_recorded(const HeadlessConfig& config, int* exit_code) {
  std::vector<FrameState> frames;
  const int code = run(config, [&](const HeadlessFrame&) {
    const auto* player = reinterpret_cast<const PlayerState*>(AudioStream.playerArea);
    frames.push_back({headless_elapsed_ms(), TuneNumber, LinkNumber, ActiveBar, MusicPlaying, player->playing != 0});
  });
  headless_set_present_hook(nullptr);  // it refers to `frames`
  if (exit_code != nullptr) *exit_code = code;
  return frames;
}

std::vector<int32_t> changes(const std::vector<FrameState>& frames, int32_t FrameState::*field) {
  std::vector<int32_t> out;
  for (const FrameState& f : frames) {
    if (out.empty() || out.back() != f.*field) out.push_back(f.*field);
  }
  return out;
}

}  // namespace showtest
