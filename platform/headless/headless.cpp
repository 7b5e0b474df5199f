// The headless backend: everything the show asks of the platform, in memory, on a virtual
// clock that moves with each presented frame.
#include "platform/headless/headless.h"
#include "platform/headless/internal.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <new>
#include <thread>

#include "platform/clock.h"
#include "platform/display_device.h"
#include "platform/memory.h"
#include "platform/program_file.h"
#include "platform/window.h"

namespace {

constexpr int FrameX = 4;     // side border
constexpr int FrameY = 4;     // top and bottom border
constexpr int TitleBar = 19;  // caption

struct WindowStateH {
  bool exists = false;
  Rect rect = {};
  WindowProc proc = nullptr;
  bool shown = false;
  bool shortcut = false;
  uint32_t command = 0;
};

HeadlessConfig Config;
HeadlessStats Stats;
HeadlessFrame LastFrame;
std::function<void(const HeadlessFrame&)> PresentHook;
std::atomic<int64_t> AllocCount{0};
WindowStateH Win;
std::deque<WindowMessage> Queue;
size_t NextKey = 0;
bool CloseSent = false;
bool FocusLostSent = false;
bool MinimiseSent = false;
bool RestoreSent = false;
int CursorCount = 0;
uint32_t LostGeneration = 0;
int LiveSurfaces = 0;

// ---- display device -------------------------------------------------------------------

class HeadlessClipper final : public DisplayClipper {
 public:
  bool set_window() override { return Win.exists; }
  void release() override {
    if (--refs == 0) {
      delete this;
    }
  }
  int refs = 1;
};

uint32_t green_mask_for(int depth) {
  if (depth == 16) {
    return Config.green_mask_16;
  }
  if (depth == 15) {
    return 0x03E0;
  }
  return 0x00FF00;
}

// One row of surface pixels (blue, green, red bytes for 24 and 32 bits; 5-6-5 or 5-5-5
// words for 16 bits, little-endian) back to 0x00RRGGBB, the 16-bit channels shifted to the
// top of their byte. The depth is chosen per row, not per pixel.
template <int Bytes, bool Is555>
void decode_row(const uint8_t* p, uint32_t* out, int count) {
  for (int x = 0; x < count; ++x, p += Bytes) {
    if constexpr (Bytes == 4) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      out[x] = v & 0x00FFFFFFu;
    } else if constexpr (Bytes == 3) {
      out[x] = (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    } else {
      const uint32_t v = p[0] | (static_cast<uint32_t>(p[1]) << 8);
      uint32_t r, g, b;
      if constexpr (Is555) {
        r = (v >> 10) & 31;
        g = ((v >> 5) & 31) << 3;
        b = v & 31;
      } else {
        r = (v >> 11) & 31;
        g = ((v >> 5) & 63) << 2;
        b = v & 31;
      }
      out[x] = (r << 19) | (g << 8) | (b << 3);
    }
  }
}

class HeadlessSurface final : public DisplaySurface {
 public:
  HeadlessSurface(int w, int h, int d, bool is_primary, bool has_memory)
      : width(w), height(h), depth(d), primary(is_primary), generation(LostGeneration) {
    ++LiveSurfaces;
    bytes = depth == 32 ? 4 : depth == 24 ? 3 : 2;
    pitch = (width * bytes + 7) & ~7;
    if (has_memory) {
      memory.assign(static_cast<size_t>(pitch) * static_cast<size_t>(height), 0);
    }
  }

  bool lost() const { return generation != LostGeneration; }

  bool lock(SurfaceLock* lock) override {
    if (lost() || memory.empty() || locked) {
      return false;
    }
    locked = true;
    *lock = {memory.data(), pitch, width, height};
    return true;
  }
  void unlock() override { locked = false; }
  bool get_pixel_format(PixelFormat* format) override {
    if (lost()) {
      return false;
    }
    uint32_t g = green_mask_for(depth);
    uint32_t r = depth == 16 ? (g == 0x07E0 ? 0xF800u : 0x7C00u) : depth == 15 ? 0x7C00u : 0xFF0000u;
    uint32_t b = depth <= 16 ? 0x001Fu : 0x0000FFu;
    *format = {static_cast<uint32_t>(depth == 15 ? 16 : depth), r, g, b};
    return true;
  }
  bool get_attached_back_buffer(DisplaySurface** out) override {
    if (back == nullptr) {
      return false;
    }
    // The caller gets a reference of its own, as with the interface this stands in for.
    ++back->refs;
    *out = back;
    return true;
  }
  bool set_clipper(DisplayClipper* c) override {
    auto* hc = static_cast<HeadlessClipper*>(c);
    ++hc->refs;
    clipper = hc;
    return true;
  }
  bool blt(const Rect& dest_rect, DisplaySurface* source, const Rect& source_rect) override {
    auto* src = static_cast<HeadlessSurface*>(source);
    if (lost() || src->lost() || src->locked) {
      return false;
    }
    (void)dest_rect;
    int x0 = std::max(0, source_rect.left);
    int y0 = std::max(0, source_rect.top);
    int x1 = std::min(src->width, source_rect.right);
    int y1 = std::min(src->height, source_rect.bottom);
    present(*src, x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
    return true;
  }
  bool flip() override {
    if (lost() || back == nullptr || back->lost()) {
      return false;
    }
    present(*back, 0, 0, back->width, back->height);
    return true;
  }
  void release() override {
    if (--refs > 0) {
      return;
    }
    if (back != nullptr) {
      back->release();
      back = nullptr;
    }
    if (clipper != nullptr) {
      clipper->release();
    }
    --LiveSurfaces;
    delete this;
  }

  static void present(const HeadlessSurface& s, int x0, int y0, int w, int h) {
    LastFrame.width = w;
    LastFrame.height = h;
    // Every pixel is written below, so the buffer is only sized, not cleared.
    LastFrame.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    const bool is555 = s.depth == 15 || (s.depth == 16 && Config.green_mask_16 != 0x07E0);
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = s.memory.data() + static_cast<size_t>(y0 + y) * static_cast<size_t>(s.pitch) +
                           static_cast<size_t>(x0) * static_cast<size_t>(s.bytes);
      uint32_t* out = LastFrame.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
      if (s.bytes == 4) {
        decode_row<4, false>(row, out, w);
      } else if (s.bytes == 3) {
        decode_row<3, false>(row, out, w);
      } else if (is555) {
        decode_row<2, true>(row, out, w);
      } else {
        decode_row<2, false>(row, out, w);
      }
    }
    LastFrame.tick = get_tick_count();
    ++Stats.presented;
    if (PresentHook) {
      PresentHook(LastFrame);
    }
    clock_advance_us(Config.frame_us);
  }

  int width, height, depth, bytes, pitch;
  bool primary;
  uint32_t generation;
  bool locked = false;
  std::vector<uint8_t> memory;
  HeadlessSurface* back = nullptr;
  HeadlessClipper* clipper = nullptr;
  int refs = 1;
};

class HeadlessDevice final : public DisplayDevice {
 public:
  bool set_cooperative_level(bool exclusive) override {
    if (exclusive ? Config.fail_fullscreen : Config.fail_windowed) {
      return false;
    }
    Stats.exclusive = exclusive;
    return true;
  }
  bool set_display_mode(int width, int height, int depth) override {
    if (!Stats.exclusive || Config.fail_mode_switch) {
      return false;
    }
    for (const HeadlessMode& m : Config.modes) {
      if (m.width == width && m.height == height && m.depth == depth) {
        Stats.mode_width = width;
        Stats.mode_height = height;
        Stats.mode_depth = depth;
        return true;
      }
    }
    return false;
  }
  bool restore_display_mode() override {
    Stats.mode_width = Stats.mode_height = Stats.mode_depth = 0;
    return true;
  }
  bool create_primary_surface(bool flipping_chain, DisplaySurface** surface) override {
    if (flipping_chain) {
      if (!Stats.exclusive || Stats.mode_depth == 0) {
        return false;
      }
      auto* front = new HeadlessSurface(Stats.mode_width, Stats.mode_height, Stats.mode_depth, true, true);
      front->back = new HeadlessSurface(Stats.mode_width, Stats.mode_height, Stats.mode_depth, false, true);
      *surface = front;
      return true;
    }
    *surface = new HeadlessSurface(Config.desktop_width, Config.desktop_height, Config.desktop_depth, true, false);
    return true;
  }
  bool create_offscreen_surface(int width, int height, DisplaySurface** surface) override {
    if (width <= 0 || height <= 0) {
      return false;
    }
    *surface = new HeadlessSurface(width, height, Config.desktop_depth, false, true);
    return true;
  }
  bool create_clipper(DisplayClipper** clipper) override {
    *clipper = new HeadlessClipper();
    return true;
  }
};

// One device object for the process, as with the real display device.
HeadlessDevice* Device = nullptr;

// ---- window ---------------------------------------------------------------------------

intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return Win.proc != nullptr ? Win.proc(message, wParam, lParam) : 0;
}

void queue_due_events() {
  const uint32_t elapsed = headless_elapsed_ms();
  while (NextKey < Config.keys.size() && Config.keys[NextKey].time_ms <= elapsed) {
    const HeadlessKey& k = Config.keys[NextKey++];
    uint32_t message = k.down ? (k.alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (k.alt ? WM_SYSKEYUP : WM_KEYUP);
    intptr_t lParam = 1 | (k.alt ? (1 << 29) : 0) | (k.down ? 0 : (3 << 30));
    Queue.push_back({message, k.vk, lParam});
  }
  if (!CloseSent && Config.close_at_ms >= 0 && static_cast<int64_t>(elapsed) >= Config.close_at_ms) {
    CloseSent = true;
    Queue.push_back({WM_CLOSE, 0, 0});
  }
  if (!FocusLostSent && Config.focus_lost_at_ms >= 0 && static_cast<int64_t>(elapsed) >= Config.focus_lost_at_ms) {
    FocusLostSent = true;
    Queue.push_back({WM_ACTIVATE, 0, 0});
  }
  if (!MinimiseSent && Config.minimised_from_ms >= 0 && static_cast<int64_t>(elapsed) >= Config.minimised_from_ms) {
    MinimiseSent = true;
    Queue.push_back({WM_SIZE, SIZE_MINIMIZED, 0});
  }
  if (!RestoreSent && Config.minimised_until_ms >= 0 && static_cast<int64_t>(elapsed) >= Config.minimised_until_ms) {
    RestoreSent = true;
    Queue.push_back({WM_SIZE, 0, 0});
  }
}

// Virtual milliseconds until the next scripted message, or -1 when none is left.
int64_t ms_to_next_event() {
  const int64_t elapsed = headless_elapsed_ms();
  int64_t next = -1;
  const auto consider = [&](bool pending, int64_t at) {
    if (pending && at >= 0 && (next < 0 || at < next)) next = at;
  };
  consider(NextKey < Config.keys.size(), NextKey < Config.keys.size() ? Config.keys[NextKey].time_ms : -1);
  consider(!CloseSent, Config.close_at_ms);
  consider(!FocusLostSent, Config.focus_lost_at_ms);
  consider(!MinimiseSent, Config.minimised_from_ms);
  consider(!RestoreSent, Config.minimised_until_ms);
  return next < 0 ? -1 : std::max<int64_t>(next - elapsed, 0);
}

}  // namespace

// ---- headless control -----------------------------------------------------------------

void headless_reset(const HeadlessConfig& config) {
  Config = config;
  Stats = HeadlessStats{};
  LastFrame = HeadlessFrame{};
  PresentHook = nullptr;
  clock_reset();
  sound_reset();
  AllocCount = 0;
  Win = WindowStateH{};
  Queue.clear();
  NextKey = 0;
  CloseSent = false;
  FocusLostSent = false;
  MinimiseSent = false;
  RestoreSent = false;
  CursorCount = 0;
  ++LostGeneration;  // surfaces of an earlier run are gone
  std::stable_sort(Config.keys.begin(), Config.keys.end(),
                   [](const HeadlessKey& a, const HeadlessKey& b) { return a.time_ms < b.time_ms; });
}

HeadlessConfig& headless_config() { return Config; }
const HeadlessStats& headless_stats() { return Stats; }
const HeadlessFrame& headless_last_frame() { return LastFrame; }
void headless_set_present_hook(std::function<void(const HeadlessFrame&)> hook) { PresentHook = std::move(hook); }

void headless_set_tick(uint32_t tick) {
  clock_set_us(static_cast<uint64_t>(tick - Config.start_tick) * 1000u);
}
void headless_advance_us(uint64_t us) { clock_advance_us(us); }
uint32_t headless_elapsed_ms() { return static_cast<uint32_t>(clock_now_us() / 1000u); }
int headless_live_surfaces() { return LiveSurfaces; }
void headless_lose_surfaces() { ++LostGeneration; }
void headless_post(uint32_t message, uintptr_t wParam, intptr_t lParam) { Queue.push_back({message, wParam, lParam}); }

void headless_user_move(int left, int top) {
  int w = Win.rect.right - Win.rect.left;
  int h = Win.rect.bottom - Win.rect.top;
  Win.rect = {left, top, left + w, top + h};
  Queue.push_back({WM_MOVE, 0, 0});
}

void headless_user_size(int outer_width, int outer_height) {
  Win.rect.right = Win.rect.left + outer_width;
  Win.rect.bottom = Win.rect.top + outer_height;
  Queue.push_back({WM_SIZE, 0, 0});
}

void headless_user_minimise() { Queue.push_back({WM_SIZE, SIZE_MINIMIZED, 0}); }

int headless_run(const std::function<void()>& body) {
  try {
    body();
  } catch (const HeadlessExit& e) {
    return e.code;
  }
  return -1;
}

// ---- platform: clock and memory -------------------------------------------------------

uint32_t get_tick_count() { return Config.start_tick + static_cast<uint32_t>(clock_now_us() / 1000u); }

namespace {
// The fault switch for page blocks: after fail_alloc_after blocks, the rest fail.
bool headless_page_gate() {
  return !(Config.fail_alloc_after >= 0 && AllocCount.fetch_add(1) >= Config.fail_alloc_after);
}
const bool PageGateSet = (set_page_gate(&headless_page_gate), true);
}  // namespace

// ---- platform: window -----------------------------------------------------------------

bool create_window(const char*, int outer_width, int outer_height, WindowProc proc) {
  if (Config.fail_window) {
    return false;
  }
  Win.exists = true;
  Win.rect = {0, 0, outer_width, outer_height};
  Win.proc = proc;
  return true;
}

bool window_exists() { return Win.exists; }

void show_window() {
  Win.shown = true;
  send(WM_SIZE, 0, 0);
  send(WM_MOVE, 0, 0);
}

bool get_window_rect(Rect* rect) {
  if (!Win.exists) {
    return false;
  }
  *rect = Win.rect;
  return true;
}

bool get_client_rect(Rect* rect) {
  if (!Win.exists) {
    return false;
  }
  *rect = {0, 0, std::max(0, Win.rect.right - Win.rect.left - 2 * FrameX),
           std::max(0, Win.rect.bottom - Win.rect.top - 2 * FrameY - TitleBar)};
  return true;
}

void client_to_screen(Point* point) {
  point->x += Win.rect.left + FrameX;
  point->y += Win.rect.top + FrameY + TitleBar;
}

void set_window_pos(int left, int top, int width, int height) {
  if (!Win.exists) {
    return;
  }
  Rect old = Win.rect;
  Win.rect = {left, top, left + width, top + height};
  if (old.left != left || old.top != top) {
    send(WM_MOVE, 0, 0);
  }
  if (old.right - old.left != width || old.bottom - old.top != height) {
    send(WM_SIZE, 0, 0);
  }
}

int get_system_metrics(int index) {
  switch (index) {
    case SM_CXFRAME: return FrameX;
    case SM_CYFRAME: return FrameY;
    case SM_CYMENU: return TitleBar;
    default: return 0;
  }
}

bool get_screen_bounds(Rect* bounds) {
  if (Stats.mode_width != 0) {
    // A fullscreen mode is the one screen there is.
    *bounds = {0, 0, Stats.mode_width, Stats.mode_height};
    return true;
  }
  *bounds = {0, 0, Config.desktop_width, Config.desktop_height};
  for (const Rect& r : Config.more_screens) {
    *bounds = {std::min(bounds->left, r.left), std::min(bounds->top, r.top), std::max(bounds->right, r.right),
               std::max(bounds->bottom, r.bottom)};
  }
  return true;
}

int show_cursor(bool show) { return Stats.cursor_count = CursorCount += show ? 1 : -1; }
void clear_cursor() {}

bool peek_message() {
  queue_due_events();
  return !Queue.empty();
}

void wait_message() {
  // Waiting is time passing: up to the next scripted message, or a frame's time when none
  // is left (the show then waits for ever, a frame at a time).
  queue_due_events();
  if (!Queue.empty()) return;
  const int64_t ms = ms_to_next_event();
  clock_advance_us(ms >= 0 ? static_cast<uint64_t>(ms) * 1000u : std::max<uint64_t>(Config.frame_us, 1000u));
  ++Stats.waits;
}

void get_message(WindowMessage* message) {
  queue_due_events();
  if (Queue.empty()) {
    *message = {0, 0, 0};
    return;
  }
  *message = Queue.front();
  Queue.pop_front();
}

bool create_shortcut_table(uint32_t command) {
  Win.shortcut = !Config.fail_shortcut;
  Win.command = command;
  return Win.shortcut;
}

bool translate_shortcut(const WindowMessage& message) {
  if (Win.shortcut && message.message == WM_SYSKEYDOWN && message.wParam == VK_RETURN &&
      (message.lParam & (1 << 29)) != 0) {
    send(WM_COMMAND, Win.command, 0);
    return true;
  }
  return false;
}

intptr_t dispatch_message(const WindowMessage& message) { return send(message.message, message.wParam, message.lParam); }
intptr_t send_message(uint32_t message, uintptr_t wParam, intptr_t lParam) { return send(message, wParam, lParam); }
intptr_t default_window_proc(uint32_t, uintptr_t, intptr_t) { return 0; }

void post_quit_message(int) {
  ++Stats.quit_posted;
  Queue.push_back({WM_QUIT, 0, 0});
}

void message_box(const char* text, const char*) { Stats.messages.emplace_back(text); }

void exit_process(int code) { throw HeadlessExit{code}; }

bool create_display_device(DisplayDevice** device) {
  if (Config.fail_device) {
    return false;
  }
  if (Device == nullptr) {
    Device = new HeadlessDevice();
  }
  ++Stats.devices_created;
  *device = Device;
  return true;
}

std::FILE* open_own_program_file() { return nullptr; }
