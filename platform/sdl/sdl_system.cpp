// The SDL2 backend's clock, message box, process exit and the program's own file.
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/program_file.h"
#include "platform/sdl/sdl_backend.h"
#include "platform/window.h"

uint32_t get_tick_count() { return static_cast<uint32_t>(SDL_GetTicks64()); }

void sleep_ms(uint32_t ms) { SDL_Delay(ms); }

void message_box(const char* text, const char* caption) {
  // Without a display the box cannot be shown; the caller has written the text to
  // standard error as well.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}

void exit_process(int code) {
  SDL_Quit();
  std::fflush(nullptr);
  // Ends at once, like the process exit it stands in for: no destructors run while the
  // show's records are still in use.
  std::_Exit(code);
}

// The link stays readable even when the program was started through another link.
std::FILE* open_own_program_file() { return std::fopen("/proc/self/exe", "rb"); }
