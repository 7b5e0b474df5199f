// What the SDL2 backend's parts share: the one window and the count of display resets.
#pragma once
#include <SDL.h>

#include <cstdint>

// The show's window; null until create_window succeeds.
extern SDL_Window* SdlWindow;
// The window's renderer, made with the window while it is still hidden: making it later can
// make SDL replace the window (for one that OpenGL can draw into), which the user would see
// and which would lose messages sent to the first window. Null when no renderer could be
// made; the display device then cannot be opened.
extern SDL_Renderer* SdlRenderer;
// Raised when the renderer loses its textures (a device reset): every surface made before
// then counts as lost, as a surface does when another program takes the display.
extern uint32_t SdlLostGeneration;
