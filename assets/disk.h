// A disk other than the built-in one: the tunes, pictures, font, texts and menu entries that
// a disk block appended to the program brought, once every piece has passed its checks.
// While CustomDisk is null (no block) the show uses the built-in data.
#pragma once
#include <cstddef>
#include <cstdint>

#include "assets/font_strip.h"
#include "codecs/tunes.h"

struct CustomDiskRecord {
  int32_t tuneCount;                  // 1..13
  const StoredTune* tunes;            // tuneCount entries, tune n in entry n - 1
  const char* const* tuneLabels;      // entries 1..tuneCount, the silence entry at tuneCount + 1
  int32_t linkCount;                  // 1..17
  const char* const* linkLabels;      // entries 1..linkCount; entry 0 unused
  const char* const* linkAddresses;   // the same
  const unsigned char* logo;          // picture streams
  size_t logoBytes;
  const unsigned char* sprite;
  size_t spriteBytes;
  const FontStripRecord* font;        // null: the built-in strip
  const unsigned char* scrollText;    // code page 437, NUL-terminated
};

// Set once at start-up, before anything is prepared; the record and all it points to live
// until the process ends.
extern const CustomDiskRecord* CustomDisk;

// The disk's menu, whichever disk it is: the number of tunes (the silence entry follows
// them in the tune bar) and of links, and their texts by entry number.
#include "assets/menu_texts.h"
inline int32_t disk_tune_count() { return CustomDisk ? CustomDisk->tuneCount : TuneCount; }
inline int32_t disk_link_count() { return CustomDisk ? CustomDisk->linkCount : 17; }
// n = 1..disk_tune_count() + 1.
inline const char* disk_tune_label(int32_t n) { return CustomDisk ? CustomDisk->tuneLabels[n] : TuneLabels[n]; }
// m = 1..disk_link_count().
inline const char* disk_link_label(int32_t m) { return CustomDisk ? CustomDisk->linkLabels[m] : LinkLabels[m]; }
inline const char* disk_link_address(int32_t m) {
  return CustomDisk ? CustomDisk->linkAddresses[m] : LinkAddresses[m];
}
