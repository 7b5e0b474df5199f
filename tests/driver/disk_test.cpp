// A disk from a block at the end of a file: refused whole, with its cause and exit status 1,
// when anything in it is damaged; shown, with its own menu, when it is sound.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "assets/menu_texts.h"
#include "codecs/picture_encoder.h"
#include "driver/disk.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "support/disk_pieces.h"
#include "support/golden.h"
#include "support/show_runner.h"
#include "support/tool_run.h"
#include "tools/common/png_io.h"

namespace fs = std::filesystem;
using disktest::builtin_pieces;
using showtest::changes;
using showtest::FrameState;
using showtest::press;

namespace {

// The test's files, in a folder of this process's own (the tests run side by side).
fs::path scratch_dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("md_disk_" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

struct RemoveScratch : ::testing::Environment {
  void TearDown() override { fs::remove_all(scratch_dir()); }
};
const auto* const Cleanup = ::testing::AddGlobalTestEnvironment(new RemoveScratch);

// A stand-in program (any bytes) with `block` appended, written as `name`.
std::string program_file(const std::string& name, const std::vector<uint8_t>& block,
                         const std::string& program = "a program's own bytes") {
  const fs::path path = scratch_dir() / name;
  std::ofstream out(path, std::ios::binary);
  out.write(program.data(), static_cast<std::streamsize>(program.size()));
  out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  return path.string();
}

struct ShowRun {
  int code = -1;
  std::vector<std::string> messages;
  std::vector<showtest::FrameState> frames;
};

// The whole show on the headless backend with the disk of `file`.
ShowRun run_show_with(const std::string& file, const HeadlessConfig& config = showtest::escape_at(300)) {
  set_disk_file(file);
  ShowRun r;
  r.frames = showtest::run_recorded(config, &r.code);
  r.messages = headless_stats().messages;
  set_disk_file("");
  return r;
}

void set_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

// Each fault, in the frame or in a piece, ends the start before any frame with its cause.
TEST(Disk, ADamagedBlockIsRefusedBeforeTheShowStarts) {
  const std::vector<uint8_t> sound = encode_disk_block(builtin_pieces(2, 2, true));
  using Bytes = std::vector<uint8_t>;
  using Pieces = DiskPieces;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> onBlock;
    std::function<void(Pieces&)> onPieces;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"truncated", [](Bytes& b) { b.resize(b.size() - 100); }, nullptr, "damaged disk: the block is cut short"},
      {"a flipped byte", [](Bytes& b) { b[b.size() / 2] ^= 0x04; }, nullptr, "damaged disk: the block's checksum"},
      {"a wrong size", [](Bytes& b) { set_u32(b, b.size() - 20, 1u << 31); }, nullptr, "gives its size as 2147483648"},
      {"a wrong version", [](Bytes& b) { set_u32(b, b.size() - 24, 7); }, nullptr, "the block is of version 7"},
      {"a logo of the sprite's size", nullptr, [](Pieces& p) { p.logo = p.sprite; },
       "damaged disk: logo: the picture is 32 x 32; it must be 640 x 128"},
      {"a cut sprite", nullptr, [](Pieces& p) { p.sprite.resize(p.sprite.size() / 2); },
       "damaged disk: sprite: the stream ends early"},
      {"a too-wide label", nullptr, [](Pieces& p) { p.tuneLabels[1] = std::string(40, 'W'); },
       "damaged disk: tune label 2 \"WWWWWWWWWW"},
      {"a link label of another code", nullptr, [](Pieces& p) { p.linkLabels[0] = "caf\xe9"; },
       "damaged disk: link label 1 \"caf\\xe9\" has code 233"},
      {"a font strip with ink below its rows", nullptr, [](Pieces& p) { p.font.levels[45 * p.font.width + 3] = 5; },
       "damaged disk: font strip: glyph for code 32"},
      {"a tune that is no module image", nullptr, [](Pieces& p) { p.tunes[1][8] = 'X'; },
       "damaged disk: tune 2: invalid module image: not a module image (bad magic)"},
      {"a text the font cannot draw", nullptr, [](Pieces& p) { p.scrollText[3] = 7; },
       "damaged disk: the scroll text's character 4 (code 7) has no glyph"},
      {"an address that is no web address", nullptr, [](Pieces& p) { p.linkAddresses[1] = "file:///etc/passwd"; },
       "damaged disk: link address 2 \"file:///etc/passwd\" is not a web address"},
      // The frame's other parts, and tables whose counts do not add up.
      {"cut in the trailer", [](Bytes& b) { b.pop_back(); }, nullptr, "cut short"},
      // The reader scans a file without a trailer in pieces of 64 KiB: this header starts
      // 10 bytes before the end of the first (after the 21 bytes of the program).
      {"truncated, its header across two of the reader's pieces",
       [](Bytes& b) { b.resize(b.size() - 100), b.insert(b.begin(), 65536 - 21 - 10, 'p'); }, nullptr, "cut short"},
      {"the trailer's magic", [](Bytes& b) { b.back() ^= 1; }, nullptr, "trailer is missing or damaged"},
      {"the header's checksum", [](Bytes& b) { b[21] ^= 1; }, nullptr, "header is missing or damaged"},
      {"a size short of the header", [](Bytes& b) { set_u32(b, b.size() - 20, b.size() - 4); }, nullptr, "header"},
      {"a table entry", [](Bytes& b) { b[30] ^= 1; }, nullptr, "checksum"},
      {"no tune", nullptr, [](Pieces& p) { p.tunes.clear(), p.tuneLabels.clear(); }, "holds no tune"},
      {"14 tunes", nullptr, [](Pieces& p) { p.tunes.resize(14, p.tunes[0]), p.tuneLabels.resize(14, "x"); },
       "more than 13 tunes"},
      {"a label short", nullptr, [](Pieces& p) { p.tuneLabels.pop_back(); }, "2 tunes but 1 tune labels"},
      {"18 links", nullptr, [](Pieces& p) { p.linkLabels.resize(18, "x"), p.linkAddresses.resize(18, "x"); },
       "more than 17 links"},
      {"an address short", nullptr, [](Pieces& p) { p.linkAddresses.pop_back(); }, "2 link labels but 1 link"},
      {"a tune's sizes", nullptr, [](Pieces& p) { p.tunes[1][0] += 1; }, "tune 2: its sizes do not match"},
      {"a font of the wrong size", nullptr, [](Pieces& p) { p.font.levels.pop_back(); }, "font strip's size"},
  };
  for (const Case& c : cases) {
    Bytes block = sound;
    if (c.onPieces) {
      Pieces p = builtin_pieces(2, 2, true);
      c.onPieces(p);
      block = encode_disk_block(p);
    }
    if (c.onBlock) c.onBlock(block);
    const ShowRun r = run_show_with(program_file("damaged", block));
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_TRUE(r.frames.empty()) << c.what;
    ASSERT_EQ(r.messages.size(), 1u) << c.what;
    EXPECT_NE(r.messages[0].find(c.message), std::string::npos) << c.what << ": " << r.messages[0];
  }
}

// Two tunes and two links: Right from the last tune reaches the silence entry, then tune 1;
// the link bar wraps after its second link. Enter, held from the start, opens the disk's own
// address of the link chosen at 2020 ms.
TEST(Disk, AShorterMenuWrapsAtItsOwnEnds) {
  // Right, Right, Right, Left on the tune bar; Down; Left (to link 2), Right on the link bar.
  const uint32_t taps[] = {VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_LEFT, VK_DOWN, VK_LEFT, VK_RIGHT};
  HeadlessConfig keys = showtest::escape_at(2400);
  for (uint32_t i = 0; i < 7; ++i) press(keys, 300 * (i + 1), taps[i]);
  press(keys, 0, VK_RETURN, 0);
  const ShowRun r = run_show_with(program_file("short", encode_disk_block(builtin_pieces(2, 2))), keys);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(changes(r.frames, &FrameState::tune), (std::vector<int32_t>{1, 2, 3, 1, 3}));
  EXPECT_EQ(changes(r.frames, &FrameState::link), (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(headless_opened_addresses(), std::vector<std::string>{LinkAddresses[2]});
}

#ifdef MUSICDISK_EXE
// The Linux program reads its own file: a damaged block is named before any window opens
// (with no display the box cannot appear; the text goes to standard error as well), and a
// sound one is taken, so the program goes on to the display, which is not there.
TEST(Disk, TheProgramReadsTheBlockAtTheEndOfItsOwnFile) {
  const std::string program = slurp(MUSICDISK_EXE);
  std::vector<uint8_t> block = encode_disk_block(builtin_pieces(2, 2));
  auto run = [&](const char* name, const char* expected) {
    const std::string path = program_file(name, block, program);
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    const ToolRun r = run_tool("env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 " + path, scratch_dir());
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find(expected), std::string::npos) << name << ": " << r.err;
  };
  run("musicdisk-sound", "musicdisk: cannot init screen");
  block[block.size() / 3] ^= 0x20;
  run("musicdisk-damaged", "musicdisk: damaged disk: the block's checksum does not match");
}
#endif

#ifdef CAPTURE_EXE
// The built-in disk with a logo of its own (colour ramps), another first tune label and
// another text: musicdisk-capture shows exactly those at 2.5 s, and the rest of the scene as
// the built-in disk shows it.
TEST(Disk, CaptureShowsTheDisksOwnLogoLabelAndText) {
  DiskPieces p = builtin_pieces(2, 2);
  std::vector<uint32_t> logo(640 * 128);
  for (uint32_t i = 0; i < logo.size(); ++i) logo[i] = (i % 640 / 3) << 16 | (i / 640) << 8 | 0x40;
  p.logo = encode_picture(logo.data(), 640, 128, PictureEncoderOptions{});
  p.tuneLabels[0] = "Another Tune";
  const std::string text = "WWWW MMMM WWWW MMMM WWWW MMMM WWWW MMMM WWWW MMMM ";
  p.scrollText.assign(text.begin(), text.end());
  const std::string disk = program_file("custom-disk", encode_disk_block(p));
  const ToolRun r = run_tool(std::string(CAPTURE_EXE) + " -q --seconds 2.6 --at 2.5 --out frames --disk " + disk,
                             scratch_dir());
  ASSERT_EQ(r.status, 0) << r.err;
  RgbImage image;
  std::string error;
  ASSERT_TRUE(read_png((scratch_dir() / "frames/frame_00125_0002500ms.png").string(), image, error)) << error;
  const HeadlessFrame frame{image.width, image.height, image.pixels, 0};
  const std::string golden = MD_SOURCE_DIR "/tests/driver/golden";
  EXPECT_TRUE(golden::matches(frame, golden, "2500ms", {{"plane", 0, 128, 400, 12}, {"particles", 0, 150, 100, 69}}));
  EXPECT_TRUE(golden::matches(
      frame, golden, "own-disk",
      {{"logo-and-raster-bars", 120, 0, 160, 128}, {"menu-bars", 100, 140, 200, 80}, {"scroller", 0, 220, 200, 80}}));
}
#endif
