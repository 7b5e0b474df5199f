// The disk block's frame and piece table: what is written is read back, and a file without
// a block is told apart from one with a block (damaged blocks: tests/driver/disk_test.cpp).
#include <gtest/gtest.h>

#include <string_view>

#include "codecs/disk_block.h"

namespace {

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A packed tune's frame around made-up contents (the frame is all the table reader sees).
std::vector<uint8_t> packed(std::string_view stored, std::string_view stream) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(stored.size()), 0, 0, 0,
                              static_cast<uint8_t>(stream.size()), 0, 0, 0};
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
  // Read back whole: written again, the pieces give the same block.
  EXPECT_EQ(encode_disk_block(r.pieces), block);
  EXPECT_EQ(r.pieces.tuneLabels[1], "Second");
  EXPECT_EQ(r.pieces.font.height, 2);

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
