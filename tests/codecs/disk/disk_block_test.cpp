// The disk block's frame and piece table: what is written is read back, and a file without
// a block is told apart from one with a block (damaged blocks: tests/driver/disk_test.cpp).
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

const std::vector<uint8_t> Program = bytes(std::string(1000, 'x') + "the program's own bytes");

std::vector<uint8_t> program_with(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> file = Program;
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

}  // namespace

TEST(DiskBlock, WhatIsWrittenIsReadBackFromTheProgramsEnd) {
  EXPECT_EQ(disk_crc32(bytes("123456789")), 0xCBF43926u);  // the common CRC-32's check value

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
  const std::vector<uint8_t> block = encode_disk_block(p);
  const DiskBlockPlace place = locate_disk_block(program_with(block));
  ASSERT_EQ(place.status, DiskBlockStatus::Found) << place.error;
  EXPECT_EQ(place.offset, Program.size());
  // Read back whole: written again, the pieces give the same block.
  const DiskBlockRead r = read_disk_block(program_with(block));
  ASSERT_EQ(r.status, DiskBlockStatus::Found) << r.error;
  EXPECT_EQ(encode_disk_block(r.pieces), block);
  EXPECT_EQ(r.pieces.font.height, 2);

  // Without a font strip (the built-in font) the piece is left out and the reader reports none.
  p.font = {};
  const DiskBlockRead without_font = read_disk_block(program_with(encode_disk_block(p)));
  ASSERT_EQ(without_font.status, DiskBlockStatus::Found) << without_font.error;
  EXPECT_EQ(without_font.pieces.font.width, 0);
}

TEST(DiskBlock, AProgramWithoutABlockHasNone) {
  EXPECT_EQ(locate_disk_block(Program).status, DiskBlockStatus::None);
  EXPECT_EQ(locate_disk_block({}).status, DiskBlockStatus::None);
  // The magic words inside the program, as the reader's own code holds them, are no block
  // (nor a cut one).
  EXPECT_EQ(locate_disk_block(bytes("code MDISKHDR" + std::string(30, 'z') + "MDISKEND more code")).status,
            DiskBlockStatus::None);
}
