#include "driver/menu.h"

#include "assets/disk.h"
#include "audio/audio_stream.h"
#include "codecs/tunes.h"
#include "display/window.h"
#include "platform/shell.h"
#include "platform/sound_device.h"
#include "player/player.h"

int32_t TuneNumber = 1;
int32_t LinkNumber = 1;
int32_t ActiveBar = 0;
int32_t MusicPlaying = 0;
uint32_t LastKeyTick = 0;
uint32_t LastLinkTick = 0;

namespace {
constexpr uint32_t RepeatGuardMs = 200;
constexpr uint32_t LinkGuardMs = 2000;

// More than `guard` ms since `last`, as an unsigned difference: still right when the tick
// count wraps.
bool guard_passed(uint32_t now, uint32_t last, uint32_t guard) { return now - last > guard; }
}  // namespace

void reset_menu_state() {
  TuneNumber = 1;
  LinkNumber = 1;
  ActiveBar = 0;
  MusicPlaying = 0;
  LastKeyTick = 0;
  LastLinkTick = 0;
}

void menu_control(uint32_t now) {
  // The built-in disk has 13 tunes, silence as entry 14 and 17 links; a disk from a block
  // may have fewer, and its silence entry follows its last tune.
  const int32_t silence = disk_tune_count() + 1;
  const int32_t links = disk_link_count();
  if (KeyState[VK_LEFT] && guard_passed(now, LastKeyTick, RepeatGuardMs)) {
    if (ActiveBar == 0) {
      if (TuneNumber < silence) stop_tune();
      TuneNumber -= 1;
      if (TuneNumber < 1) {
        TuneNumber = silence;
      } else if (TuneNumber < silence) {
        start_tune(TuneNumber);
      }
    } else {
      LinkNumber -= 1;
      if (LinkNumber < 1) LinkNumber = links;
    }
    LastKeyTick = now;
  }
  if (KeyState[VK_RIGHT] && guard_passed(now, LastKeyTick, RepeatGuardMs)) {
    if (ActiveBar == 0) {
      if (TuneNumber < silence) stop_tune();
      TuneNumber += 1;
      if (TuneNumber > silence) {
        TuneNumber = 1;
        start_tune(1);
      } else if (TuneNumber < silence) {
        start_tune(TuneNumber);
      }
    } else {
      LinkNumber += 1;
      if (LinkNumber > links) LinkNumber = 1;
    }
    LastKeyTick = now;
  }
  if (KeyState[VK_RETURN] && guard_passed(now, LastLinkTick, LinkGuardMs)) {
    if (!Windowed) switch_display(true);
    open_link(LinkNumber);
    LastLinkTick = now;
  }
  if (KeyState[VK_UP] && guard_passed(now, LastKeyTick, RepeatGuardMs)) {
    ActiveBar = 1 - ActiveBar;
    LastKeyTick = now;
  }
  if (KeyState[VK_DOWN] && guard_passed(now, LastKeyTick, RepeatGuardMs)) {
    ActiveBar = 1 - ActiveBar;
    LastKeyTick = now;
  }
}

void start_tune(int32_t n) {
  if (MusicPlaying) stop_tune();
  start_audio(get_foreground_window(), tune_images[n]);
  player_start(0);
  MusicPlaying = 1;
}

void stop_tune() {
  if (MusicPlaying) {
    player_stop();
    stop_audio();
    MusicPlaying = 0;
  }
}

void open_link(int32_t m) { open_address(disk_link_address(m)); }
