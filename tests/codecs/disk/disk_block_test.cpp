// The disk block's frame and piece table: what is written is read back, and a block that
// was cut, changed or mislabelled is told apart from a file without one.
#include <gtest/gtest.h>

#include <string_view>

#include "codecs/disk_block.h"

namespace {

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A packed tune's frame around made-up contents (the frame is all the table reader sees).
std::vector<uint8_t> packed(std::string_view stored, std::string_view stream) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(stored.size()), 0, 0, 0, static_cast<uint8_t>(stream.size()), 0, 0, 0};
  out.insert(out.end(), stored.begin(), stored.end());
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

DiskPieces two_tunes() {
  DiskPieces p;
  p.tunes = {packed("QKB\0one", "s1"), packed("QKB\0two!", "")};
  p.tuneLabels = {"First", "Second"};
  p.silenceLabel = "Quiet";
  p.linkLabels = {"Home", "Mail"};
  p.linkAddresses = {"https://example.org/", "mailto:a@example.org"};
  p.logo = bytes("logo stream");
  p.sprite = bytes("sprite");
  p.font = {3, 2, {0, 1, 2, 3, 4, 15}};
  p.scrollText = bytes("Hello \x82t\x82");
  return p;
}

const std::vector<uint8_t> Program = bytes(std::string(1000, 'x') + "the program's own bytes");

std::vector<uint8_t> program_with(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> file = Program;
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

void set_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(DiskBlock, CrcIsTheCommonOne) {
  EXPECT_EQ(disk_crc32(bytes("123456789")), 0xCBF43926u);  // the standard check value
  EXPECT_EQ(disk_crc32(bytes("6789"), disk_crc32(bytes("12345"))), 0xCBF43926u);
}

TEST(DiskBlock, WhatIsWrittenIsReadBackFromTheProgramsEnd) {
  const DiskPieces p = two_tunes();
  const std::vector<uint8_t> block = encode_disk_block(p);
  const std::vector<uint8_t> file = program_with(block);
  const DiskBlockPlace place = locate_disk_block(file);
  ASSERT_EQ(place.status, DiskBlockStatus::Found) << place.error;
  EXPECT_EQ(place.offset, Program.size());
  EXPECT_EQ(place.size, block.size());

  const DiskBlockRead r = read_disk_block(file);
  ASSERT_EQ(r.status, DiskBlockStatus::Found) << r.error;
  EXPECT_EQ(r.pieces.tunes, p.tunes);
  EXPECT_EQ(r.pieces.tuneLabels, p.tuneLabels);
  EXPECT_EQ(r.pieces.silenceLabel, p.silenceLabel);
  EXPECT_EQ(r.pieces.linkLabels, p.linkLabels);
  EXPECT_EQ(r.pieces.linkAddresses, p.linkAddresses);
  EXPECT_EQ(r.pieces.logo, p.logo);
  EXPECT_EQ(r.pieces.sprite, p.sprite);
  EXPECT_EQ(r.pieces.font.width, 3);
  EXPECT_EQ(r.pieces.font.height, 2);
  EXPECT_EQ(r.pieces.font.levels, p.font.levels);
  EXPECT_EQ(r.pieces.scrollText, p.scrollText);

  // Without a font strip the piece is left out and the reader reports none.
  DiskPieces noFont = two_tunes();
  noFont.font = {};
  const DiskBlockRead r2 = read_disk_block(program_with(encode_disk_block(noFont)));
  ASSERT_EQ(r2.status, DiskBlockStatus::Found) << r2.error;
  EXPECT_EQ(r2.pieces.font.width, 0);
}

TEST(DiskBlock, AProgramWithoutABlockHasNone) {
  EXPECT_EQ(locate_disk_block(Program).status, DiskBlockStatus::None);
  EXPECT_EQ(locate_disk_block({}).status, DiskBlockStatus::None);
  // The magic alone, as the reader's own code holds it, is not a block.
  EXPECT_EQ(locate_disk_block(bytes("xxMDISKHDRMDISKENDyy")).status, DiskBlockStatus::None);
}

TEST(DiskBlock, DamagedBlocksAreRefusedWithTheirCause) {
  const std::vector<uint8_t> block = encode_disk_block(two_tunes());
  const size_t trailer = block.size() - DiskBlockTrailerBytes;
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    const char* message;
  };
  auto changed = [&](auto change) {
    std::vector<uint8_t> b = block;
    change(b);
    return program_with(b);
  };
  const std::vector<Case> cases = {
      {"cut at the end", program_with({block.begin(), block.end() - 30}), "cut short"},
      {"cut in the trailer", program_with({block.begin(), block.end() - 1}), "cut short"},
      {"a byte of a piece flipped", changed([](auto& b) { b[200] ^= 0x10; }), "checksum"},
      {"a table entry changed", changed([](auto& b) { b[30] ^= 1; }), "checksum"},
      {"the trailer's magic changed", changed([&](auto& b) { b[b.size() - 1] ^= 1; }), "trailer"},
      {"another version", changed([&](auto& b) { set_u32(b, trailer, 2); }), "version 2"},
      {"a size beyond the file", changed([&](auto& b) { set_u32(b, trailer + 4, 1u << 30); }), "size"},
      {"a size that misses the header", changed([&](auto& b) { set_u32(b, trailer + 4, b.size() - 4); }),
       "header"},
      {"the header's checksum", changed([](auto& b) { b[21] ^= 1; }), "header"},
  };
  for (const Case& c : cases) {
    const DiskBlockRead r = read_disk_block(c.file);
    EXPECT_EQ(r.status, DiskBlockStatus::Damaged) << c.what;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
  }
}

// Blocks whose frame is whole (checksums made over the change) but whose table is wrong.
TEST(DiskBlock, TablesThatDoNotAddUpAreRefused) {
  struct Case {
    const char* what;
    void (*change)(DiskPieces&);
    const char* message;
  };
  const Case cases[] = {
      {"no tune", [](DiskPieces& p) { p.tunes.clear(), p.tuneLabels.clear(); }, "no tune"},
      {"14 tunes", [](DiskPieces& p) { p.tunes.resize(14, p.tunes[0]), p.tuneLabels.resize(14); }, "more than 13"},
      {"a label short", [](DiskPieces& p) { p.tuneLabels.pop_back(); }, "2 tunes but 1 tune labels"},
      {"18 links", [](DiskPieces& p) { p.linkLabels.resize(18), p.linkAddresses.resize(18); }, "more than 17"},
      {"an address short", [](DiskPieces& p) { p.linkAddresses.pop_back(); }, "link addresses"},
      {"a tune's sizes", [](DiskPieces& p) { p.tunes[1][0] += 1; }, "tune 2: its sizes"},
      {"a font of the wrong size", [](DiskPieces& p) { p.font.levels.pop_back(); }, "font strip's size (3 x 2)"},
  };
  for (const Case& c : cases) {
    DiskPieces p = two_tunes();
    c.change(p);
    const DiskBlockRead r = read_disk_block(program_with(encode_disk_block(p)));
    EXPECT_EQ(r.status, DiskBlockStatus::Damaged) << c.what;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
  }
}
