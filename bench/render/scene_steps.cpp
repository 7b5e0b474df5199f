#include "bench/render/scene_steps.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "display/present.h"
#include "render/framebuffer.h"
#include "render/logo_swing.h"
#include "render/menu_bars.h"
#include "render/particles.h"
#include "render/plane.h"
#include "render/raster_bars.h"
#include "render/scroller.h"

namespace {

float turn_at(float t) { return static_cast<float>(200.0 * std::cos(0.01 * t) + 100.0 * std::sin(0.007 * t)); }

// The converted frame: 32-bit pixels, rows back to back.
std::vector<uint8_t> Screen;

void convert(float) {
  const int32_t w = Framebuffer.width, h = Framebuffer.height;
  Screen.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  for (int32_t y = 0; y < h; ++y) {
    convert_row_32(Screen.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4, Framebuffer.pixels + y * w, w,
                   1 << 20);
  }
}

}  // namespace

const SceneStep SceneSteps[SceneStepCount] = {
    {"logo swing", draw_logo_swing},
    {"raster bars", draw_raster_bars},
    {"plane", [](float t) { draw_plane(Framebuffer.pixels, 5000.0f, 150.0f, turn_at(t), t, t); }},
    {"particles", update_particles},
    {"scroller", draw_scroller},
    {"tune bar", [](float) { overlay_bar_image(TuneBarImages[1], TuneBarRow, 1); }},
    {"link bar", [](float) { overlay_bar_image(LinkBarImages[1], LinkBarRow, 0); }},
    {"conversion", convert},
};

void draw_scene(float t) {
  for (const SceneStep& step : SceneSteps) step.draw(t);
}

void time_scene_steps(double (*now_ms)(), void (*extra)(float t), StepTime* times) {
  const int32_t count = SceneStepCount + (extra != nullptr ? 2 : 1);
  struct Timed {
    float t = 0.0f;
    int32_t frames = 4;  // per turn
    std::vector<double> turns;  // ms per frame
  };
  std::vector<Timed> timed(static_cast<size_t>(count));
  const auto turn = [&](int32_t s) {
    Timed& m = timed[static_cast<size_t>(s)];
    const double start = now_ms();
    for (int32_t i = 0; i < m.frames; ++i, m.t += 0.4f) {
      if (s < SceneStepCount) {
        SceneSteps[s].draw(m.t);
      } else if (s == SceneStepCount) {
        draw_scene(m.t);
      } else {
        extra(m.t);
      }
    }
    return (now_ms() - start) / m.frames;
  };
  // A first short turn sets how many frames make a turn of about SceneTurnMs.
  for (int32_t s = 0; s < count; ++s) {
    const double ms = turn(s);
    timed[static_cast<size_t>(s)].frames = ms > 0 ? std::clamp(static_cast<int32_t>(SceneTurnMs / ms), 4, 4000) : 4000;
  }
  for (int32_t k = 0; k < SceneTurns; ++k) {
    for (int32_t s = 0; s < count; ++s) timed[static_cast<size_t>(s)].turns.push_back(turn(s));
  }
  for (int32_t s = 0; s < count; ++s) {
    std::vector<double>& v = timed[static_cast<size_t>(s)].turns;
    std::sort(v.begin(), v.end());
    times[s] = {v.front(), v[v.size() / 2]};
  }
}
