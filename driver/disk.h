// The disk the show presents: the built-in one, or the one a disk block at the end of the
// program's own file brings (codecs/disk_block.h). A block is used only once every piece
// has passed the checks the build holds the built-in data to; anything else in it ends the
// start with a report.
#pragma once
#include <span>
#include <string>

#include "codecs/disk_block.h"

// What is wrong with the pieces, the first fault found in words ("tune 3: ..."), or an
// empty text when the show may use them: tunes that assemble within their budget into
// module images the player accepts, a 640 x 128 logo and a 32 x 32 sprite that decode
// whole, a font strip that keeps the strip rules with glyphs for codes 32 to 238, labels
// that fit their bars with the disk's font, web addresses, and a scroll text of codes the
// font draws.
std::string validate_disk_pieces(const DiskPieces& pieces);

// Makes validated pieces the show's disk (CustomDisk); they are kept until the process ends
// or forget_disk. Their tunes are not assembled here.
void install_disk(DiskPieces pieces);
// Back to the built-in disk (for runs of the show in one process); tune images the show has
// not taken are given back with it.
void forget_disk();

// The block at the end of `file`, read, checked and installed. An empty text when the show
// may start (with the built-in disk when the file has no block), else what is wrong: a fault
// in the block begins "damaged disk: ".
std::string load_disk_from(std::span<const uint8_t> file);

// Tune n's module image as the check assembled it (a TuneImageBytes block of alloc_block,
// the caller's from now on), once; null when no loaded disk has one for n. The show plays
// these instead of assembling a disk's tunes a second time.
uint8_t* take_checked_tune(int n);

// The file whose end is searched for a block: the program's own file unless a tool names
// another (musicdisk-capture --disk). An empty name goes back to the program's own.
void set_disk_file(const std::string& path);

// The start-up step: reads the disk file and loads its block. False after report_error has
// shown what is wrong; the show must not start then.
bool load_disk();
