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

// Hands the move and size messages that the show's own change of the window (its place,
// its size, fullscreen on or off) has caused straight to the window procedure, as the
// window system the show was made for does from inside the call that made the change.
// Left in the queue they would arrive a frame later, once the display is ready again, and
// be taken for the user's: the window would be pushed back onto the screen and shortened.
// Other window events are queued in their order.
void sdl_deliver_own_window_messages();
