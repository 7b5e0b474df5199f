#include "driver/show.h"

#include <cmath>
#include <cstdio>

#include "display/present.h"
#include "display/surfaces.h"
#include "display/window.h"
#include "codecs/tunes.h"
#include "driver/blocks.h"
#include "driver/menu.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "render/framebuffer.h"
#include "render/graphics.h"
#include "render/font.h"
#include "render/logo_swing.h"
#include "render/menu_bars.h"
#include "render/particles.h"
#include "render/plane.h"
#include "render/raster_bars.h"
#include "render/scroller.h"

uint32_t ShowStartTick = 0;

namespace {

bool ErrorReported = false;

[[noreturn]] void out_of_memory(size_t) {
  report_error("not enough memory for the show");
  stop_tune();
  release_display();
  exit_process(show_exit_code());
}

}  // namespace

int show_exit_code() { return ErrorReported ? 1 : 0; }

ShowClock show_clock(uint32_t elapsed_ms) {
  const double td = static_cast<double>(elapsed_ms) * 0.02;
  const float t = static_cast<float>(td);
  const double turn = 200.0 * std::cos(0.01 * td) + 100.0 * std::sin(0.007 * static_cast<double>(t));
  return {t, static_cast<float>(turn)};
}

void report_error(const char* text) {
  ErrorReported = true;
  if (window_exists()) {
    set_window_pos(WindowRect.left, WindowRect.top, OuterWidth, OuterHeight);
  }
  show_cursor(true);
  // Where no message box can be shown the text still reaches the user.
  std::fprintf(stderr, "musicdisk: %s\n", text);
  message_box(text, "Error");
  post_quit_message(0);
}

void free_show_buffers() {
  free_block(Framebuffer.pixels);
  Framebuffer.pixels = nullptr;
  free_block(LogoPicture);
  LogoPicture = nullptr;
  free_block(SpritePicture);
  SpritePicture = nullptr;
}

void frame_loop() {
  LastKeyTick = get_tick_count();
  LastLinkTick = get_tick_count();
  while (KeyState[VK_ESCAPE] == 0) {
    pump_messages();
    if (window_minimised()) {
      // Nothing of the scene can be seen: draw nothing and sleep until the window system
      // has the next message (the restore, a close), instead of spinning through empty
      // passes. The music plays on its own thread; the show time runs on meanwhile.
      wait_message();
      continue;
    }
    const uint32_t now = get_tick_count();
    const ShowClock clock = show_clock(now - ShowStartTick);
    menu_control(now);
    draw_logo_swing(clock.t);
    draw_raster_bars(clock.t);
    draw_plane(Framebuffer.pixels, 5000.0f, 150.0f, clock.turn, clock.t, clock.t);
    update_particles(clock.t);
    draw_scroller(clock.t);
    overlay_bar_image(TuneBarImages[TuneNumber], TuneBarRow, 1 - ActiveBar);
    overlay_bar_image(LinkBarImages[LinkNumber], LinkBarRow, ActiveBar);
    present_frame(Framebuffer);
  }
}

int run_show() {
  set_block_failure_handler(out_of_memory);
  if (!init_display_window(FrameWidth, FrameHeight, false)) {
    report_error("cannot init screen");
    return 0;
  }
  prepare_graphics();
  init_particles();
  build_plane_colours();
  for (int n = 1; n <= TuneCount; ++n) {
    assemble_tune(n);
  }
  start_tune(TuneNumber);
  ShowStartTick = get_tick_count();
  frame_loop();
  free_show_buffers();
  stop_tune();
  close_window();
  return 1;
}

void reset_show_state() {
  reset_surface_state();
  reset_window_state();
  reset_menu_state();
  reset_random();
  Framebuffer = FramebufferRecord{};
  LogoPicture = nullptr;
  SpritePicture = nullptr;
  PlaneColours = nullptr;
  // The font, the scroller's strip and the bar images live until exit in the real show;
  // here the next run makes them again.
  free_font();
  free_menu_bar_images();
  reset_scroller_state();
  Particles = nullptr;
  LastParticleTime = NoParticleStepYet;
  free_tune_images();
  ShowStartTick = 0;
  ErrorReported = false;
}
