// Import of FastTracker II extended modules (.xm, version 0x0104) into the module image.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "player/writer.h"

struct XmImport {
  bool ok = false;
  std::string error;                  // why the file was refused, when not ok
  std::vector<std::string> warnings;  // what was dropped or changed, by pattern/instrument/sample
  ModuleDef def;                    // the tune as imported
  std::vector<uint8_t> image;         // a module image that passes validate_module_image
};

// True if `data` starts like an extended module.
bool is_xm(const uint8_t* data, size_t size);

// Reads an extended module. A file that is not well formed is refused with a message
// naming the place; things the image cannot hold are dropped or adjusted with a warning.
XmImport import_xm(const uint8_t* data, size_t size);
