// The tune and link menus, and starting and stopping tunes.
#pragma once
#include <cstdint>

// 1..13 a tune, 14 silence (a disk of N tunes from a block: 1..N, N + 1 silence).
extern int32_t TuneNumber;
// 1..17 (fewer on a disk from a block).
extern int32_t LinkNumber;
// 0: the tune bar is active, 1: the link bar.
extern int32_t ActiveBar;
extern int32_t MusicPlaying;
// When an arrow key last acted, when a link was last opened (tick counts).
extern uint32_t LastKeyTick;
extern uint32_t LastLinkTick;

// The built-in disk's silence entry and link count.
constexpr int32_t SilenceTune = 14;
constexpr int32_t LinkCount = 17;

// Acts on the held keys once per frame; `now` is the pass's tick count.
void menu_control(uint32_t now);
void start_tune(int32_t n);
void stop_tune();
void open_link(int32_t m);

void reset_menu_state();
