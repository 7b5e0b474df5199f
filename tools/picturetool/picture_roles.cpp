#include "tools/picturetool/picture_roles.h"

std::string picture_size_problem(const std::string& name, int32_t width, int32_t height, const PictureRole* role) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (role && (width != role->width || height != role->height)) {
    return name + ": the picture is " + size + ", but the show's " + role->name + " must be " +
           std::to_string(role->width) + " x " + std::to_string(role->height);
  }
  if (width % 16 || height % 16)
    return name + ": the picture is " + size + "; width and height must be multiples of 16, at most 4080";
  return {};
}
