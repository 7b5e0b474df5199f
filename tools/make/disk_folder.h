// A disk folder: the editable sources of one disk, checked and turned into the pieces of a
// disk block with the same code the build uses for the built-in disk.
//
//   tunes/*.xm   1 to 13 extended modules; their names' order is the tune bar's order
//   labels.txt   optional: line n names tune n (an empty or missing line takes the module's
//                title), the line after the last tune names the silence entry
//   logo.png     640 x 128
//   sprite.png   32 x 32
//   text.txt     the scroll text, UTF-8
//   links.txt    1 to 17 lines: a label, then the address as the line's last word
//   font.png     optional: a font strip (without it, the built-in font)
#pragma once
#include <string>
#include <vector>

#include "codecs/disk_block.h"

struct DiskFolderRead {
  DiskPieces pieces;                  // complete only when `problems` is empty
  std::vector<std::string> problems;  // every problem found, each naming its file
  std::vector<std::string> warnings;  // what the tunes cannot carry, by file and place
};

DiskFolderRead read_disk_folder(const std::string& folder);

// The built-in disk's sources as a disk folder: `sources` is a folder with its tunes,
// pictures and text laid out as in a disk folder (`assets_layout` false) or the source tree's
// assets/ folder (`assets_layout` true); labels.txt and links.txt are written from the menu texts
// this program carries. `folder` must not exist or be empty. Returns false with a message.
bool write_builtin_disk_folder(const std::string& sources, bool assets_layout, const std::string& folder,
                               std::string& error);
