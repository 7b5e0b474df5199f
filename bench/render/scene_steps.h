// The frame loop's drawing, one step at a time: the same steps natively (render_bench) and in
// the web page (its ?bench address), so that each step can be timed apart on both and the
// two set side by side. The scene is what the frame loop draws with tune 1 and link 1 chosen
// and the tune bar active, and then the frame's conversion for a 32-bit screen of the frame's
// own size, as a frame is presented; the page's canvas upload is not part of it.
#pragma once
#include <cstdint>

struct SceneStep {
  const char* name;
  void (*draw)(float t);  // t: the show time, 20 units per second
};

// Logo swing, raster bars, plane, particles, scroller, tune bar, link bar (the frame loop's
// order), then the conversion. Each needs the show's pictures, particles and plane colours
// made (prepare_graphics, init_particles, build_plane_colours).
constexpr int32_t SceneStepCount = 8;
extern const SceneStep SceneSteps[SceneStepCount];

// Every step in order: one frame of the scene at show time t.
void draw_scene(float t);

// Milliseconds per frame of one step over the turns: the fastest turn (the least disturbed by
// whatever else the machine does) and the median one.
struct StepTime {
  double fastest, median;
};

// Times each step and then the whole scene (and then `extra`, when given) in turns of about
// SceneTurnMs each, one turn of each in order, SceneTurns turns in all; each step's show
// time advances one frame (0.4 units) per frame drawn, on from turn to turn. Short turns are
// seldom interrupted on a busy machine, so the fastest of many is a frame undisturbed.
// `now_ms` is the clock. Fills times[0 .. SceneStepCount] (the scene last) and, with `extra`,
// times[SceneStepCount + 1].
constexpr double SceneTurnMs = 1.0;
constexpr int32_t SceneTurns = 60;
void time_scene_steps(double (*now_ms)(), void (*extra)(float t), StepTime* times);
