// What the Win32 backend's parts share: the one window.
//
// The platform headers come before <windows.h>: they declare the window system's message,
// key and metric names with the same values, and <windows.h> then defines those names as
// macros. The other order would turn the declarations into nonsense.
#pragma once
#include "platform/clock.h"
#include "platform/display_device.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/sound_device.h"
#include "platform/thread.h"
#include "platform/window.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The show's window; null until create_window succeeds.
extern HWND Win32Window;
