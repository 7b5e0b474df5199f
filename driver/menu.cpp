#include "driver/menu.h"

int32_t TuneNumber = 1;
int32_t LinkNumber = 1;
int32_t ActiveBar = 0;
int32_t MusicPlaying = 0;
uint32_t LastKeyTick = 0;
uint32_t LastLinkTick = 0;

void reset_menu_state() {
  TuneNumber = 1;
  LinkNumber = 1;
  ActiveBar = 0;
  MusicPlaying = 0;
  LastKeyTick = 0;
  LastLinkTick = 0;
}

void menu_control(uint32_t) {}

void start_tune(int32_t) {
  if (MusicPlaying) {
    stop_tune();
  }
  MusicPlaying = 1;
}

void stop_tune() {
  if (MusicPlaying) {
    MusicPlaying = 0;
  }
}

void open_link(int32_t) {}
