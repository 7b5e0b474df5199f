#include "driver/show.h"

#include <cmath>
#include <cstdio>

#include "display/present.h"
#include "display/surfaces.h"
#include "display/window.h"
#include "codecs/tunes.h"
#include "driver/disk.h"
#include "driver/menu.h"
#include "platform/blocks.h"
#include "platform/clock.h"
#include "platform/report.h"
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

[[noreturn]] void out_of_memory(size_t) {
  report_error("not enough memory for the show");
  stop_tune();
  release_display();
  exit_process(show_exit_code());
}

}  // namespace

int show_exit_code() { return report_exit_code(); }

ShowClock show_clock(uint32_t elapsed_ms) {
  const double td = static_cast<double>(elapsed_ms) * 0.02;
  const float t = static_cast<float>(td);
  const double turn = 200.0 * std::cos(0.01 * td) + 100.0 * std::sin(0.007 * static_cast<double>(t));
  return {t, static_cast<float>(turn)};
}

void free_show_buffers() {
  free_block(Framebuffer.pixels);
  Framebuffer.pixels = nullptr;
  free_block(LogoPicture);
  LogoPicture = nullptr;
  free_block(SpritePicture);
  SpritePicture = nullptr;
}

void begin_frame_loop() {
  LastKeyTick = get_tick_count();
  LastLinkTick = get_tick_count();
}

void frame_pass() {
  pump_messages();
  if (window_minimised()) {
    // Nothing of the scene can be seen: draw nothing and sleep until the window system
    // has the next message (the restore, a close), instead of spinning through empty
    // passes. The music plays on its own thread; the show time runs on meanwhile.
    wait_message();
    return;
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

bool show_ended() { return KeyState[VK_ESCAPE] != 0; }

void frame_loop() {
  begin_frame_loop();
  while (!show_ended()) {
    frame_pass();
  }
}

bool start_show() {
  set_block_failure_handler(out_of_memory);
  // Closing the window at any time stops the tune before the process ends.
  set_close_handler(stop_tune);
  // A disk block is checked whole before any window opens; a damaged one ends the start.
  if (!load_disk()) return false;
  if (!init_display_window(FrameWidth, FrameHeight, false)) {
    report_error("cannot init screen");
    return false;
  }
  prepare_graphics();
  init_particles();
  build_plane_colours();
  // A disk block's tunes were assembled when they were checked.
  for (int n = 1; n <= TuneCount; ++n) {
    if (uint8_t* image = take_checked_tune(n)) {
      tune_images[n] = image;
    } else {
      assemble_tune(n);
    }
  }
  start_tune(TuneNumber);
  ShowStartTick = get_tick_count();
  return true;
}

void end_show() {
  free_show_buffers();
  stop_tune();
  close_window();
}

int run_show() {
  if (!start_show()) {
    return 0;
  }
  frame_loop();
  end_show();
  return 1;
}

void reset_show_state() {
  reset_surface_state();
  reset_window_state();
  reset_menu_state();
  reset_random();
  free_show_buffers();
  Framebuffer = FramebufferRecord{};
  free_block(PlaneColours);
  PlaneColours = nullptr;
  // The font, the scroller's strip and the bar images live until exit in the real show;
  // here the next run makes them again.
  free_font();
  free_menu_bar_images();
  reset_scroller_state();
  free_block(Particles);
  Particles = nullptr;
  LastParticleTime = NoParticleStepYet;
  free_tune_images();
  ShowStartTick = 0;
  reset_error_report();
}
