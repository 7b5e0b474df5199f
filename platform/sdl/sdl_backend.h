// What the SDL2 backend's parts share: the one window and the count of display resets.
#pragma once
#include <SDL.h>

#include <cstdint>

// The show's window; null until create_window succeeds.
extern SDL_Window* SdlWindow;
// Raised when the renderer loses its textures (a device reset): every surface made before
// then counts as lost, as a surface does when another program takes the display.
extern uint32_t SdlLostGeneration;
