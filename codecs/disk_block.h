// The disk block: a whole disk (tunes, pictures, font, texts, labels and links) as one byte
// block appended to a program. A program that carries one shows that disk; a program without
// one shows the built-in disk.
//
// Layout, every number little-endian, offsets from the block's first byte:
//
//   header   24 bytes   "MDISKHDR", u32 version (1), u32 block bytes (header to trailer
//                       inclusive), u32 piece count, u32 CRC-32 of the header's first 20 bytes
//   table    12 bytes per piece: u32 kind, u32 offset, u32 length
//   pieces   the bytes of each piece, where the table says (after the table, before the
//            trailer)
//   trailer  24 bytes   u32 version (1), u32 block bytes, u32 CRC-32 of every byte before the
//                       trailer, u32 0, "MDISKEND"
//
// The trailer ends the file, so a reader finds the block from the file's end. CRC-32 is the
// common one (reflected polynomial 0xEDB88320, start and final xor 0xFFFFFFFF).
//
// Piece kinds and how many of each a block holds (pieces of one kind in their order):
//   1 tune           1..13   a packed tune: u32 stored length L, u32 stream bytes S, the
//                            stored part (L bytes), the sample stream (S bytes)
//   2 tune label     one per tune, the label of tune n in the n-th
//   3 silence label  1       the tune bar's entry after the last tune
//   4 link label     1..17
//   5 link address   one per link label
//   6 logo           1       an intra-picture stream of 640 x 128
//   7 sprite         1       an intra-picture stream of 32 x 32
//   8 font strip     0 or 1  u16 width, u16 height, width x height levels (0..15), row-major;
//                            without it the built-in font is used
//   9 scroll text    1       code page 437 bytes, no terminating zero
// Labels and addresses are their bytes without a terminating zero. Unknown kinds are refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

constexpr uint32_t DiskBlockVersion = 1;
constexpr size_t DiskBlockHeaderBytes = 24;
constexpr size_t DiskBlockTrailerBytes = 24;
constexpr size_t DiskBlockEntryBytes = 12;
constexpr int DiskMaxTunes = 13;
constexpr int DiskMaxLinks = 17;

enum class DiskPieceKind : uint32_t {
  Tune = 1,
  TuneLabel = 2,
  SilenceLabel = 3,
  LinkLabel = 4,
  LinkAddress = 5,
  Logo = 6,
  Sprite = 7,
  FontStrip = 8,
  ScrollText = 9,
};

struct DiskFontStrip {
  uint16_t width = 0;           // columns; 0 means no strip (the built-in font)
  uint16_t height = 0;          // rows
  std::vector<uint8_t> levels;  // width x height, row-major, 0..15
};

// One disk's pieces, as the block holds them (no piece is decoded here).
struct DiskPieces {
  std::vector<std::vector<uint8_t>> tunes;  // packed tunes, tune 1 first
  std::vector<std::string> tuneLabels;      // one per tune
  std::string silenceLabel;
  std::vector<std::string> linkLabels;
  std::vector<std::string> linkAddresses;   // one per link label
  std::vector<uint8_t> logo;                // picture streams
  std::vector<uint8_t> sprite;
  DiskFontStrip font;
  std::vector<uint8_t> scrollText;          // code page 437
};

// The standard CRC-32 of `bytes`, continuing from `crc` (0 to start).
uint32_t disk_crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// The block for `pieces` (header, table, pieces, trailer), ready to append to a program.
// The pieces are written as they are; read_disk_block is what judges them.
std::vector<uint8_t> encode_disk_block(const DiskPieces& pieces);

enum class DiskBlockStatus {
  None,     // the file carries no block: the built-in disk
  Found,    // a whole, intact block
  Damaged,  // a block that is there but cannot be trusted; `error` says why
};

// Where the block of a file lies. Found: bytes [offset, offset + size) of the file.
struct DiskBlockPlace {
  DiskBlockStatus status = DiskBlockStatus::None;
  size_t offset = 0;
  size_t size = 0;
  std::string error;
};

// Finds the block at the end of `file` and checks its frame: magics, version, sizes, the
// checksum. A file whose trailer is missing but which holds a block's header (a block cut
// short) is Damaged, not None.
DiskBlockPlace locate_disk_block(std::span<const uint8_t> file);

// What a reader that holds only the end of a file needs: the size of the block that the
// file's last DiskBlockTrailerBytes announce (0 when they are no trailer), and whether some
// bytes hold a block's whole header (a block whose trailer was cut off starts there).
size_t disk_block_size_in_trailer(std::span<const uint8_t> last_bytes);
bool holds_disk_block_header(std::span<const uint8_t> bytes);

struct DiskBlockRead {
  DiskBlockStatus status = DiskBlockStatus::None;
  DiskPieces pieces;  // when Found
  std::string error;  // when Damaged: what is wrong, in words
};

// locate_disk_block, then the piece table: every entry inside the block, known kinds in the
// counts above, sizes that make sense for their kind. The pieces' contents (a tune that
// assembles, a picture that decodes, ...) are judged by validate_disk_pieces.
DiskBlockRead read_disk_block(std::span<const uint8_t> file);
