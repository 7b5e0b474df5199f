// The pictures the show draws, the one size each must have, and the encoder settings the
// built-in ones are made with (the same as on their lines in assets/pictures/CMakeLists.txt).
#pragma once
#include <cstdint>
#include <string>

struct PictureRole {
  const char* name;
  int32_t width, height;
  int32_t quantiserScale;
};
inline constexpr PictureRole PictureRoles[] = {{"logo", 640, 128, 3}, {"sprite", 32, 32, 2}};
inline constexpr const PictureRole& LogoRole = PictureRoles[0];
inline constexpr const PictureRole& SpriteRole = PictureRoles[1];

// An empty string when a picture of this size can be encoded for the role (none: for any
// role), else the problem, starting with `name`:
// "logo.png: the picture is 320 x 128, but the show's logo must be 640 x 128".
std::string picture_size_problem(const std::string& name, int32_t width, int32_t height, const PictureRole* role);
