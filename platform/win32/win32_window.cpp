// The Win32 backend's window: one window class and window, the thread's message queue, the
// Alt+Enter accelerator table, the cursor, the message box and process exit. Every message
// the window receives, sent or posted, goes to the show's window procedure, which hands what
// it does not handle back to DefWindowProcA through default_window_proc.
#include <cstdio>

#include "platform/win32/win32_backend.h"

HWND Win32Window = nullptr;

namespace {

WindowProc Proc = nullptr;
HACCEL Shortcuts = nullptr;
// The message get_message took last, whole (window, time, cursor position), for the
// accelerator and for DispatchMessageA; TakenValid is false when the show got WM_NULL instead.
MSG Taken = {};
bool TakenValid = false;
// Per virtual-key code: whether the key's last first press came as a system key (with Alt).
bool PressedAsSystemKey[256] = {};

constexpr LPARAM PreviousStateBit = LPARAM{1} << 30;

LRESULT CALLBACK window_entry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The first messages (creation, the first size and move) arrive inside CreateWindowExA,
  // before it has returned the handle.
  if (Win32Window == nullptr) {
    Win32Window = window;
  }
  if (window != Win32Window || Proc == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return Proc(message, wParam, lParam);
}

// Keys held on past a change of Alt keep the kind of their first press: Enter held on after
// Alt+Enter when Alt is let go first repeats as a system key and never becomes an Enter
// press (which would open a link); an Enter press held on while Alt goes down stays Enter.
void keep_kind_of_repeats(MSG* msg) {
  const bool key_down = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
  if (!key_down || msg->wParam >= 256 || msg->wParam == VK_MENU) {
    return;
  }
  const bool system = msg->message == WM_SYSKEYDOWN;
  if ((msg->lParam & PreviousStateBit) == 0) {
    PressedAsSystemKey[msg->wParam] = system;
    return;
  }
  if (system != PressedAsSystemKey[msg->wParam]) {
    msg->message = PressedAsSystemKey[msg->wParam] ? WM_SYSKEYDOWN : WM_KEYDOWN;
  }
}

}  // namespace

bool create_window(const char* title, int outer_width, int outer_height, WindowProc proc) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class = {};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = window_entry;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszClassName = title;
  RegisterClassA(&window_class);  // a second registration fails harmlessly

  Proc = proc;
  HWND window = CreateWindowExA(0, title, title, WS_OVERLAPPEDWINDOW, 0, 0, outer_width, outer_height, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) {
    Win32Window = nullptr;
    return false;
  }
  Win32Window = window;
  return true;
}

bool window_exists() { return Win32Window != nullptr; }

void show_window() {
  if (Win32Window != nullptr) {
    ShowWindow(Win32Window, SW_SHOWNORMAL);
    UpdateWindow(Win32Window);
  }
}

bool get_window_rect(Rect* rect) {
  RECT r;
  if (Win32Window == nullptr || !GetWindowRect(Win32Window, &r)) {
    return false;
  }
  *rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

bool get_client_rect(Rect* rect) {
  RECT r;
  if (Win32Window == nullptr || !GetClientRect(Win32Window, &r)) {
    return false;
  }
  *rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

void client_to_screen(Point* point) {
  POINT p = {point->x, point->y};
  if (Win32Window != nullptr && ClientToScreen(Win32Window, &p)) {
    *point = {p.x, p.y};
  }
}

void set_window_pos(int left, int top, int width, int height) {
  if (Win32Window != nullptr) {
    SetWindowPos(Win32Window, HWND_NOTOPMOST, left, top, width, height, SWP_SHOWWINDOW);
  }
}

int get_system_metrics(int index) { return GetSystemMetrics(index); }

bool get_screen_bounds(Rect* bounds) {
  // The virtual screen: the rectangle all monitors cover together, in the coordinates of the
  // main one (a monitor left of or above it lies at negative coordinates).
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) {
    return false;
  }
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  *bounds = Rect{left, top, left + width, top + height};
  return true;
}

int show_cursor(bool show) { return ShowCursor(show ? TRUE : FALSE); }

void clear_cursor() { SetCursor(nullptr); }

bool peek_message() {
  MSG msg;
  return PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) != 0;
}

void wait_message() {
  if (!peek_message()) {
    WaitMessage();
  }
}

void get_message(WindowMessage* message) {
  // Every waiting message is taken, whatever its number, so that none stays behind to make
  // the next test for waiting messages true for ever. The quit request and the window's own
  // messages go to the caller; messages for the thread or for other windows (the system's
  // helpers) are handled here. With nothing left for the caller it gets WM_NULL, which the
  // window procedure passes to DefWindowProcA and which does nothing.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT || (msg.hwnd != nullptr && msg.hwnd == Win32Window)) {
      keep_kind_of_repeats(&msg);
      Taken = msg;
      TakenValid = true;
      *message = {msg.message, static_cast<uintptr_t>(msg.wParam), static_cast<intptr_t>(msg.lParam)};
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  TakenValid = false;
  *message = {WM_NULL, 0, 0};
}

bool create_shortcut_table(uint32_t command) {
  ACCEL entry = {};
  entry.fVirt = FVIRTKEY | FALT;
  entry.key = VK_RETURN;
  entry.cmd = static_cast<WORD>(command);
  Shortcuts = CreateAcceleratorTableA(&entry, 1);
  return Shortcuts != nullptr;
}

bool translate_shortcut(const WindowMessage& message) {
  if (Shortcuts == nullptr || Win32Window == nullptr || !TakenValid || message.message != Taken.message) {
    return false;
  }
  // Alt+Enter held down switches once: the key's auto-repeat is taken but does nothing.
  if (message.message == WM_SYSKEYDOWN && message.wParam == VK_RETURN && (message.lParam & PreviousStateBit) != 0) {
    return true;
  }
  return TranslateAcceleratorA(Win32Window, Shortcuts, &Taken) != 0;
}

intptr_t dispatch_message(const WindowMessage& message) {
  if (TakenValid && message.message == Taken.message && message.wParam == Taken.wParam &&
      message.lParam == Taken.lParam) {
    TakenValid = false;
    TranslateMessage(&Taken);
    return DispatchMessageA(&Taken);
  }
  return send_message(message.message, message.wParam, message.lParam);
}

intptr_t send_message(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (Win32Window == nullptr) {
    return Proc != nullptr ? Proc(message, wParam, lParam) : 0;
  }
  return SendMessageA(Win32Window, message, wParam, lParam);
}

intptr_t default_window_proc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Alt (or F10) pressed and let go alone would enter the system menu's keyboard mode, a
  // loop of its own in which the show stands still until another key ends it. The window
  // has no menu bar; Alt+Space still opens the system menu.
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) {
    return 0;
  }
  return DefWindowProcA(Win32Window, message, wParam, lParam);
}

void post_quit_message(int code) { PostQuitMessage(code); }

void message_box(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_ICONERROR); }

void exit_process(int code) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}
