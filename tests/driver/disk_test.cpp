// A disk from a block at the end of a file: refused whole, with its cause and exit status 1,
// when anything in it is damaged; shown, with its own menu, when it is sound.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "codecs/picture.h"
#include "codecs/picture_encoder.h"
#include "driver/disk.h"
#include "driver/menu.h"
#include "driver/show.h"
#include "platform/headless/headless.h"
#include "support/disk_pieces.h"
#include "tools/common/png_io.h"

namespace fs = std::filesystem;
using disktest::builtin_pieces;

namespace {

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
  int frames = 0;
  std::vector<std::pair<int32_t, int32_t>> menu;  // tune and link entry, each change once
};

// The whole show on the headless backend with the disk of `file`, until Escape at `end_ms`.
ShowRun run_show_with(const std::string& file, std::vector<HeadlessKey> keys = {}, uint32_t end_ms = 300) {
  reset_show_state();
  HeadlessConfig config;
  config.keys = std::move(keys);
  config.keys.push_back({end_ms, VK_ESCAPE, true, false});
  headless_reset(config);
  set_disk_file(file);
  ShowRun r;
  headless_set_present_hook([&](const HeadlessFrame&) {
    ++r.frames;
    if (r.menu.empty() || r.menu.back() != std::make_pair(TuneNumber, LinkNumber))
      r.menu.emplace_back(TuneNumber, LinkNumber);
  });
  r.code = headless_run([] {
    run_show();
    exit_process(show_exit_code());
  });
  headless_set_present_hook(nullptr);
  r.messages = headless_stats().messages;
  set_disk_file("");
  return r;
}

void set_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

HeadlessKey press(uint32_t ms, uint32_t vk) { return {ms, vk, true, false}; }
HeadlessKey lift(uint32_t ms, uint32_t vk) { return {ms, vk, false, false}; }

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
    EXPECT_EQ(r.frames, 0) << c.what;
    ASSERT_EQ(r.messages.size(), 1u) << c.what;
    EXPECT_NE(r.messages[0].find(c.message), std::string::npos) << c.what << ": " << r.messages[0];
  }
}

// Two tunes and two links: Right from the last tune reaches the silence entry, then tune 1;
// the link bar wraps after its second link.
TEST(Disk, AShorterMenuWrapsAtItsOwnEnds) {
  const ShowRun r = run_show_with(
      program_file("short", encode_disk_block(builtin_pieces(2, 2))),
      {press(300, VK_RIGHT), lift(350, VK_RIGHT), press(600, VK_RIGHT), lift(650, VK_RIGHT), press(900, VK_RIGHT),
       lift(950, VK_RIGHT), press(1200, VK_LEFT), lift(1250, VK_LEFT), press(1500, VK_DOWN), lift(1550, VK_DOWN),
       press(1800, VK_LEFT), lift(1850, VK_LEFT), press(2100, VK_RIGHT), lift(2150, VK_RIGHT)},
      2400);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.messages.empty());
  const std::vector<std::pair<int32_t, int32_t>> expected = {{1, 1}, {2, 1}, {3, 1}, {1, 1}, {3, 1}, {3, 2}, {3, 1}};
  EXPECT_EQ(r.menu, expected);
}

#ifdef MUSICDISK_EXE
// The Linux program reads its own file: a damaged block is named before any window opens
// (with no display the box cannot appear; the text goes to standard error as well), and a
// sound one is taken, so the program goes on to the display, which is not there.
TEST(Disk, TheProgramReadsTheBlockAtTheEndOfItsOwnFile) {
  std::ifstream in(MUSICDISK_EXE, std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> block = encode_disk_block(builtin_pieces(2, 2));
  auto run = [&](const char* name, const char* expected) {
    const std::string path = program_file(name, block, program), log = path + ".log";
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 " + path + " 2> " + log;
    const int status = std::system(command.c_str());
    std::ifstream text(log);
    const std::string printed((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << name;
    EXPECT_NE(printed.find(expected), std::string::npos) << name << ": " << printed;
  };
  run("musicdisk-sound", "musicdisk: cannot init screen");
  block[block.size() / 3] ^= 0x20;
  run("musicdisk-damaged", "musicdisk: damaged disk: the block's checksum does not match");
}
#endif

#ifdef CAPTURE_EXE
namespace {

// One frame of the show at 1 s, as musicdisk-capture writes it (with `disk` unless empty).
RgbImage captured_frame(const std::string& name, const std::string& disk) {
  const fs::path out = scratch_dir() / name;
  const std::string command = std::string(CAPTURE_EXE) + " -q --seconds 1.2 --at 1 --out " + out.string() +
                              (disk.empty() ? "" : " --disk " + disk) + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  RgbImage image;
  std::string error;
  EXPECT_TRUE(read_png((out / "frame_00050_0001000ms.png").string(), image, error)) << error;
  return image;
}

struct Region {
  int top, bottom;  // frame rows [top, bottom)
};
// Red less blue over the region, and the pixels that differ between two frames there.
int64_t red_over_blue(const RgbImage& f, Region r) {
  int64_t sum = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint32_t p = f.pixels[static_cast<size_t>(y) * f.width + x];
      sum += static_cast<int64_t>((p >> 16) & 0xff) - static_cast<int64_t>(p & 0xff);
    }
  return sum;
}
int differing(const RgbImage& a, const RgbImage& b, Region r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = 0; x < a.width; ++x) {
      const size_t i = static_cast<size_t>(y) * a.width + x;
      n += a.pixels[i] != b.pixels[i];
    }
  return n;
}

}  // namespace

// The built-in disk with its logo's red and blue swapped, another first tune label and
// another text: the capture of the block shows exactly those, and the rest of the scene as
// the built-in disk shows it.
TEST(Disk, CaptureShowsTheDisksOwnLogoLabelAndText) {
  DiskPieces p = builtin_pieces(2, 2);
  std::vector<uint32_t> logo(640 * 128, 0);
  ASSERT_TRUE(decode_picture_stream(p.logo.data(), p.logo.size(), logo.data(), 640, 128, 22));
  for (uint32_t& px : logo) px = (px & 0x00ff00) | (px >> 16 & 0xff) | (px & 0xff) << 16;
  PictureEncoderOptions options;
  options.quantiserScale = 3;
  p.logo = encode_picture(logo.data(), 640, 128, options);
  p.tuneLabels[0] = "Another Tune";
  const std::string text = "WWWW MMMM WWWW MMMM WWWW MMMM WWWW MMMM WWWW MMMM ";
  p.scrollText.assign(text.begin(), text.end());

  const RgbImage builtIn = captured_frame("builtin", "");
  const RgbImage custom = captured_frame("custom", program_file("custom-disk", encode_disk_block(p)));
  ASSERT_EQ(custom.pixels.size(), builtIn.pixels.size());
  const Region logoBand{8, 136}, tuneBar{140, 170}, scroller{230, 300}, plane{205, 225};
  // The neon logo is blue and cyan; swapped, it leans to red (the raster bars over it, the
  // same in both, are blue).
  const int64_t before = red_over_blue(builtIn, logoBand), after = red_over_blue(custom, logoBand);
  EXPECT_GT(after - before, 500000) << before << " " << after;
  EXPECT_GT(differing(builtIn, custom, tuneBar), 500);
  EXPECT_GT(differing(builtIn, custom, scroller), 500);
  EXPECT_EQ(differing(builtIn, custom, plane), 0);
}
#endif
