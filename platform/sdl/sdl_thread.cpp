// Worker threads and the browser launch for the SDL2 backend.
#include <SDL.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/shell.h"
#include "platform/thread.h"

extern char** environ;

struct ThreadHandle {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable ended_changed;
  bool ended = false;
};

ThreadHandle* create_thread(void (*proc)(void*), void* param) {
  auto* handle = new ThreadHandle();
  handle->thread = std::thread([handle, proc, param] {
    // Raising the priority may need privileges; without them the thread runs as it is.
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    proc(param);
    std::lock_guard<std::mutex> lock(handle->mutex);
    handle->ended = true;
    handle->ended_changed.notify_all();
  });
  return handle;
}

void set_thread_priority_highest(ThreadHandle*) {}

bool wait_thread(ThreadHandle* thread, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(thread->mutex);
  return thread->ended_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [thread] { return thread->ended; });
}

void close_thread(ThreadHandle* thread) {
  thread->thread.join();
  delete thread;
}

void open_address(const char* address) {
  // xdg-open in a grandchild: the show neither waits for the browser nor leaves a zombie.
  pid_t child = fork();
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(address), nullptr};
      execvp("xdg-open", argv);
      _exit(127);
    }
    _exit(0);
  }
  if (child > 0) {
    waitpid(child, nullptr, 0);
  }
}

#include "platform/sound_device.h"
#include "platform/window.h"

// The show's window when it has the keyboard focus, else none: the sound device is shared
// either way.
intptr_t get_foreground_window() { return window_exists() ? 1 : 0; }
