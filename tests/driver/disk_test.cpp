// A disk from a block at the end of a file: refused whole, with its cause and exit status 1,
// when anything in it is damaged; shown, with its own menu, when it is sound.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "assets/menu_texts.h"
#include "driver/disk.h"
#include "support/disk_pieces.h"
#include "support/golden.h"
#include "support/show_runner.h"
#include "support/tool_run.h"

using disktest::builtin_pieces;
using showtest::changes;
using showtest::FrameState;
using showtest::press;

namespace {

// Each test writes its files into a folder of its own.
class Disk : public ToolTest {
 protected:
  // A stand-in program (any bytes) with `block` appended, written as `name`.
  std::string program_file(const std::string& name, const std::vector<uint8_t>& block,
                           std::string program = "a program's own bytes") const {
    program.append(block.begin(), block.end());
    return write(name, program);
  }
  // The whole show on the headless backend with `block` as its disk; the frames it presented.
  std::vector<FrameState> run_disk(const std::vector<uint8_t>& block, const HeadlessConfig& config, int* code) const {
    set_disk_file(program_file("disk", block));
    const std::vector<FrameState> frames = showtest::run_recorded(config, code);
    set_disk_file("");
    return frames;
  }
};

}  // namespace

// Each fault, in the frame or in a piece, ends the start before any frame with its cause.
TEST_F(Disk, ADamagedBlockIsRefusedBeforeTheShowStarts) {
  const std::vector<uint8_t> sound = encode_disk_block(builtin_pieces(2, 2));
  using Bytes = std::vector<uint8_t>;
  using Pieces = DiskPieces;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> onBlock;
    std::function<void(Pieces&)> onPieces;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"truncated", [](Bytes& b) { b.resize(b.size() - 100); }, nullptr, "the block is cut short"},
      // The reader scans a file without a trailer in pieces of 64 KiB: this header starts
      // 10 bytes before the end of the first (after the 21 bytes of the program).
      {"truncated, its header across two of the reader's pieces",
       [](Bytes& b) { b.resize(b.size() - 100), b.insert(b.begin(), 65536 - 21 - 10, 'p'); }, nullptr, "cut short"},
      {"a flipped byte", [](Bytes& b) { b[b.size() / 2] ^= 0x04; }, nullptr, "the block's checksum"},
      {"a size 2 GiB over", [](Bytes& b) { b[b.size() - 17] ^= 0x80; }, nullptr, "gives its size as 2147"},
      {"no tune", nullptr, [](Pieces& p) { p.tunes.clear(), p.tuneLabels.clear(); }, "holds no tune"},
      {"14 tunes", nullptr, [](Pieces& p) { p.tunes.resize(14, p.tunes[0]), p.tuneLabels.resize(14, "x"); }, "than 13"},
      {"18 links", nullptr, [](Pieces& p) { p.linkLabels.resize(18, ""), p.linkAddresses.resize(18, ""); }, "than 17"},
      {"a label short", nullptr, [](Pieces& p) { p.tuneLabels.pop_back(); }, "2 tunes but 1 tune labels"},
      {"a tune's sizes", nullptr, [](Pieces& p) { p.tunes[1][0] += 1; }, "tune 2: its sizes do not match"},
      {"a logo of the sprite's size", nullptr, [](Pieces& p) { p.logo = p.sprite; }, "logo: the picture is 32 x"},
      {"a too-wide label", nullptr, [](Pieces& p) { p.tuneLabels[1] = std::string(40, 'W'); }, "tune label 2 \"WW"},
      {"a tune that is no module image", nullptr, [](Pieces& p) { p.tunes[1][8] = 'X'; }, "tune 2: invalid module"},
      {"a text the font cannot draw", nullptr, [](Pieces& p) { p.scrollText[3] = 7; }, "character 4 (code 7)"},
      {"a file's address", nullptr, [](Pieces& p) { p.linkAddresses[1] = "file:///etc/passwd"; }, "not a web address"},
  };
  for (const Case& c : cases) {
    Bytes block = sound;
    if (c.onPieces) {
      Pieces p = builtin_pieces(2, 2);
      c.onPieces(p);
      block = encode_disk_block(p);
    }
    if (c.onBlock) c.onBlock(block);
    int code = -1;
    EXPECT_TRUE(run_disk(block, showtest::escape_at(300), &code).empty()) << c.what;
    EXPECT_EQ(code, 1) << c.what;
    const std::vector<std::string>& messages = headless_stats().messages;
    ASSERT_EQ(messages.size(), 1u) << c.what;
    EXPECT_NE(messages[0].find(c.message), std::string::npos) << c.what << ": " << messages[0];
  }
}

// Two tunes and two links: Right from the last tune reaches the silence entry, then tune 1;
// the link bar wraps after its second link. Enter, held from the start, opens the disk's own
// address of the link chosen at 2020 ms. The last frame shows silence chosen and the link bar
// focused on link 1.
TEST_F(Disk, AShorterMenuWrapsAtItsOwnEnds) {
  // Right, Right, Right, Left on the tune bar; Down; Left (to link 2), Right on the link bar.
  const uint32_t taps[] = {VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_LEFT, VK_DOWN, VK_LEFT, VK_RIGHT};
  HeadlessConfig keys = showtest::escape_at(2400);
  for (uint32_t i = 0; i < 7; ++i) press(keys, 300 * (i + 1), taps[i]);
  press(keys, 0, VK_RETURN, 0);
  int code = -1;
  const std::vector<FrameState> frames = run_disk(encode_disk_block(builtin_pieces(2, 2)), keys, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(changes(frames, &FrameState::tune), (std::vector<int32_t>{1, 2, 3, 1, 3}));
  EXPECT_EQ(changes(frames, &FrameState::link), (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(headless_opened_addresses(), std::vector<std::string>{LinkAddresses[2]});
  EXPECT_TRUE(golden::matches(headless_last_frame(), MD_SOURCE_DIR "/tests/driver/golden", "short-menu",
                              {{"menu-bars", 0, 140, 400, 80}}));
}

#ifdef MUSICDISK_EXE
// The Linux program reads its own file: a damaged block is named before any window opens
// (with no display the box cannot appear; the text goes to standard error as well), and a
// sound one is taken, so the program goes on to the display, which is not there (and says
// what the window system answered).
TEST_F(Disk, TheProgramReadsTheBlockAtTheEndOfItsOwnFile) {
  const std::string program = slurp(MUSICDISK_EXE);
  const struct {
    bool damaged;
    std::vector<const char*> expected;
  } rows[] = {{false, {"musicdisk: no window: ", "musicdisk: cannot init screen"}},
              {true, {"musicdisk: damaged disk: the block's checksum"}}};
  for (const auto& row : rows) {
    std::vector<uint8_t> block = encode_disk_block(builtin_pieces(2, 2));
    if (row.damaged) block[block.size() / 3] ^= 0x20;
    const std::string path = program_file("musicdisk", block, program);
    const ToolRun r = run("chmod +x " + path + " && env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 " + path);
    EXPECT_EQ(r.status, 1) << row.expected[0];
    for (const char* text : row.expected) EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  }
}
#endif

