// The Win32 backend's kernel and shell services: the tick count, sleeping, the
// audio streaming thread, opening a web address, and the program's own file.
#include "platform/win32/win32_backend.h"

#include <shellapi.h>

#include "platform/program_file.h"

uint32_t get_tick_count() { return GetTickCount(); }

void sleep_ms(uint32_t ms) { Sleep(ms); }

struct ThreadHandle {
  HANDLE handle;
  DWORD id;
  void (*proc)(void*);
  void* param;
};

namespace {
DWORD WINAPI thread_entry(LPVOID param) {
  auto* thread = static_cast<ThreadHandle*>(param);
  thread->proc(thread->param);
  return 0;
}
}  // namespace

ThreadHandle* create_thread(void (*proc)(void*), void* param) {
  auto* thread = new ThreadHandle{nullptr, 0, proc, param};
  thread->handle = CreateThread(nullptr, 0, thread_entry, thread, 0, &thread->id);
  if (thread->handle == nullptr) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void set_thread_priority_highest(ThreadHandle* thread) {
  if (thread != nullptr) {
    SetThreadPriority(thread->handle, THREAD_PRIORITY_HIGHEST);
  }
}

bool wait_thread(ThreadHandle* thread, uint32_t timeout_ms) {
  return thread != nullptr && WaitForSingleObject(thread->handle, timeout_ms) == WAIT_OBJECT_0;
}

void close_thread(ThreadHandle* thread) {
  if (thread != nullptr) {
    CloseHandle(thread->handle);
    delete thread;
  }
}

void open_address(const char* address) {
  // The address itself is opened, so whatever browser the user has chosen shows it; naming
  // one browser program would fail wherever that program is not installed.
  ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

std::FILE* open_own_program_file() {
  // The wide form: a folder name outside the ANSI code page still opens.
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
  if (n == 0 || n >= 32768) return nullptr;
  return _wfopen(path, L"rb");
}
