// The two built-in pictures as intra-picture streams: the 640 x 128 logo and the 32 x 32
// particle sprite. Made by picturetool from the PNG sources beside them.
#pragma once
#include <cstdint>

extern const unsigned char LogoStream[];
extern const unsigned long LogoStream_size;
extern const unsigned char SpriteStream[];
extern const unsigned long SpriteStream_size;
