// The pictures the effects draw from, made once at start-up.
#pragma once
#include <cstdint>

constexpr int32_t LogoWidth = 640;
constexpr int32_t LogoHeight = 128;
constexpr int32_t SpriteSize = 32;

// 640 x 128 and 32 x 32 prepared pixels.
extern uint32_t* LogoPicture;
extern uint32_t* SpritePicture;

// Makes every picture the effects use, in a fixed order: the frame buffer, logo and sprite
// blocks; the font (and the scroller's strip); the cleared frame; the decoded logo and
// sprite; the 14 tune-bar and 17 link-bar images.
void prepare_graphics();
