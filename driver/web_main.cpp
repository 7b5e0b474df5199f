// The program's entry in a web page. The page has no loop of its own to give the show:
// the page script calls web_show_begin once (start-up and the first frame), then
// web_show_frame once per animation frame. Both run the same steps as the desktop's
// run_show. When the show ends (Escape, or an error that closes it), the process exit
// comes back to the page script as a thrown exit, after the final frame was presented.
#include <emscripten/emscripten.h>

#include "bench/render/scene_steps.h"
#include "display/present.h"
#include "driver/show.h"
#include "render/framebuffer.h"

extern "C" {

// A fresh show: everything unpacked again, the first tune started, the first frame drawn.
// 1 when the show runs, 0 when it could not start (the error has been shown).
EMSCRIPTEN_KEEPALIVE int web_show_begin() {
  reset_show_state();
  if (!start_show()) return 0;
  begin_frame_loop();
  frame_pass();
  return 1;
}

// One pass of the frame loop; after the pass that saw Escape, the show's end.
EMSCRIPTEN_KEEPALIVE int web_show_frame() {
  frame_pass();
  if (show_ended()) end_show();
  return 1;
}

// For the page's ?bench: each step of the scene, the whole scene and the frame's
// presentation (the conversion, the canvas's RGBA bytes and their upload) timed on the running
// show's pictures, as render_bench --turns times them natively. The result: fastest and
// median milliseconds per frame of each, in that order, SceneStepCount + 2 pairs.
EMSCRIPTEN_KEEPALIVE const StepTime* web_bench_scene() {
  static StepTime times[SceneStepCount + 2];
  time_scene_steps(emscripten_get_now, [](float) { present_frame(Framebuffer); }, times);
  return times;
}

// The steps' names, for the page's report: the name of step `step`, or null past the last.
EMSCRIPTEN_KEEPALIVE const char* web_bench_step_name(int step) {
  return step >= 0 && step < SceneStepCount ? SceneSteps[step].name : nullptr;
}

}  // extern "C"

// The runtime keeps running after main: the page script drives the show.
int main() { return 0; }
