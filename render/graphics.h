// The pictures the effects draw from, made once at start-up.
#pragma once
#include <cstdint>

constexpr int32_t LogoWidth = 640;
constexpr int32_t LogoHeight = 128;
constexpr int32_t SpriteSize = 32;

// 640 x 128 and 32 x 32 prepared pixels.
extern uint32_t* LogoPicture;
extern uint32_t* SpritePicture;

// Allocates the frame buffer and the pictures in their fixed order and clears the frame.
void prepare_graphics();
