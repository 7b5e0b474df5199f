// musicdisk-make as a user runs it: a disk folder written here (two small tunes, a green
// logo, a text, two links) made into a program, which musicdisk-capture then shows and plays
// from the program's own file; and the folder's problems, each refused with its message.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/make/disk_folder_files.h"

namespace fs = std::filesystem;
using namespace disk_files;

namespace {

const std::string Make = MAKE_EXE;
const std::string Capture = CAPTURE_EXE;
const std::string Tunetool = TUNETOOL_EXE;
const fs::path Root = fs::path(MD_BINARY_DIR) / "make_test";

// The programs folder: the Linux program only, so the other two are named as not written.
fs::path programs_folder() {
  const fs::path dir = Root / "programs";
  fs::create_directories(dir);
  std::error_code ec;
  fs::remove(dir / "musicdisk", ec);
  fs::create_symlink(MUSICDISK_EXE, dir / "musicdisk");
  return dir;
}

// A command line as a user types it, run from the temporary folder: its exit status and
// both of its streams together.
struct ToolOutcome {
  int status;
  std::string output;
};
ToolOutcome run_here(const std::string& command) {
  const ToolRun r = run_tool(command, fs::temp_directory_path());
  return {r.status, r.out + r.err};
}

ToolOutcome make(const fs::path& folder, const fs::path& out) {
  return run_here(Make + " " + folder.string() + " -o " + out.string() + " --programs " + programs_folder().string());
}

RgbImage frame_at_one_second(const std::string& disk_option, const fs::path& dir) {
  fs::remove_all(dir);
  const ToolOutcome r = run_here(Capture + " " + disk_option + " --seconds 1.1 --at 1.0 --out " + dir.string());
  EXPECT_EQ(r.status, 0) << r.output;
  RgbImage image;
  std::string error;
  EXPECT_TRUE(read_png((dir / "frame_00050_0001000ms.png").string(), image, error)) << error;
  return image;
}

// Pixels of rows [top, bottom) that differ between two frames.
int differing_pixels(const RgbImage& a, const RgbImage& b, int top, int bottom) {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < a.width; ++x) n += a.pixels[static_cast<size_t>(y * a.width + x)] != b.pixels[static_cast<size_t>(y * a.width + x)];
  return n;
}

}  // namespace

TEST(MakeDisk, TheProgramShowsAndPlaysTheNewDisk) {
  const fs::path folder = Root / "good", out = Root / "good-out" / "mydisk";
  write_good_folder(folder);
  fs::remove_all(out.parent_path());
  fs::create_directories(out.parent_path());
  const ToolOutcome r = make(folder, out);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("not writing " + out.string() + ".exe: the Windows program is not at"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("not writing " + out.string() + "-web: the web page is not at"), std::string::npos) << r.output;
  struct stat s {};
  ASSERT_EQ(stat(out.c_str(), &s), 0);
  EXPECT_TRUE(s.st_mode & S_IXUSR) << "the new program can be run";

  // A made program may stand for the released one: its block is replaced, not added to; a
  // damaged block is not taken over.
  const fs::path again = Root / "good-out" / "again";
  fs::create_directories(again);
  fs::copy_file(out, again / "musicdisk");
  ToolOutcome r2 = run_here(Make + " " + folder.string() + " -o " + (again / "second").string() + " --programs " +
                            again.string());
  ASSERT_EQ(r2.status, 0) << r2.output;
  EXPECT_EQ(fs::file_size(again / "second"), fs::file_size(out));
  fs::resize_file(again / "musicdisk", fs::file_size(out) - 1);
  r2 = run_here(Make + " " + folder.string() + " -o " + (again / "third").string() + " --programs " + again.string());
  EXPECT_EQ(r2.status, 1);
  EXPECT_NE(r2.output.find("carries a damaged disk"), std::string::npos) << r2.output;
  EXPECT_FALSE(fs::exists(again / "third"));

  // Against the built-in disk at the same moment: the logo band is green, and the tune bar
  // (the titles as labels), the link bar and the scroller show other texts.
  const RgbImage builtin = frame_at_one_second("", Root / "frames-builtin");
  const RgbImage mine = frame_at_one_second("--disk " + out.string(), Root / "frames-mine");
  ASSERT_EQ(mine.pixels.size(), builtin.pixels.size());
  EXPECT_EQ(green_pixels(builtin.pixels, builtin.width, 0, 120), 0);
  EXPECT_GT(green_pixels(mine.pixels, mine.width, 0, 120), 10000);
  EXPECT_GT(differing_pixels(builtin, mine, 140, 168), 500) << "the tune bar";
  EXPECT_GT(differing_pixels(builtin, mine, 170, 198), 500) << "the link bar";
  EXPECT_GT(differing_pixels(builtin, mine, 225, 300), 500) << "the scroller";

  // Tune 1 plays from the show's start, one sound buffer (16384 frames) late, exactly as
  // tunetool renders the same module packed.
  const fs::path packed = Root / "good-out" / "a.packed", rendered = Root / "good-out" / "a.wav",
                 played = Root / "good-out" / "played.wav";
  ASSERT_EQ(run_here(Tunetool + " pack " + (folder / "tunes" / "a.xm").string() + " -q -o " + packed.string()).status, 0);
  ASSERT_EQ(run_here(Tunetool + " render " + packed.string() + " --seconds 2 -q -o " + rendered.string()).status, 0);
  const ToolOutcome c = run_here(Capture + " --disk " + out.string() + " --seconds 2.5 --wav " + played.string());
  ASSERT_EQ(c.status, 0) << c.output;
  const std::vector<int16_t> want = wav_samples(rendered), got = wav_samples(played);
  ASSERT_GT(got.size(), 2 * 16384 + want.size());
  ASSERT_GT(want.size(), 2u * 44100);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + 2 * 16384));
}

// The built-in disk's own sources, made into a disk, give the built-in show frame for frame.
TEST(MakeDisk, TheBuiltInSourcesMakeTheBuiltInDisk) {
  const fs::path folder = Root / "init", out = Root / "init-out" / "again";
  fs::remove_all(folder);
  fs::remove_all(out.parent_path());
  fs::create_directories(out.parent_path());
  ToolOutcome r = run_here(Make + " init " + folder.string());
  ASSERT_EQ(r.status, 0) << r.output;
  r = run_here(Make + " init " + folder.string());
  EXPECT_EQ(r.status, 1) << "an existing folder is not written over";
  r = make(folder, out);
  ASSERT_EQ(r.status, 0) << r.output;
  const RgbImage builtin = frame_at_one_second("", Root / "frames-builtin-2");
  const RgbImage again = frame_at_one_second("--disk " + out.string(), Root / "frames-again");
  EXPECT_TRUE(builtin.pixels == again.pixels);
}

TEST(MakeDisk, EveryProblemIsNamedAndNothingIsWritten) {
  using Change = std::function<void(const fs::path&)>;
  const Change small_logo = [](const fs::path& d) { write_picture(d / "logo.png", 320, 128, 0x00C800); };
  const Change wide_label = [](const fs::path& d) {
    write_file(d / "labels.txt", "Alpha\nA label far too wide for the tune bar of the show\n");
  };
  const Change snowman = [](const fs::path& d) { write_file(d / "text.txt", "Fine line\nsnow \xE2\x98\x83 here\n"); };
  const Change big_tune = [](const fs::path& d) {
    XmModule m = tune("Big", 125);
    m.instruments[0].samples[0] = xm::sine_sample(420000, false, 0);
    write_bytes(d / "tunes" / "b.xm", write_xm(m));
  };
  const Change blank_font = [](const fs::path& d) { write_picture(d / "font.png", 100, 52, 0); };
  const Change lone_link = [](const fs::path& d) { write_file(d / "links.txt", "Alone\n"); };
  const Change no_tunes = [](const fs::path& d) { fs::remove_all(d / "tunes"); fs::create_directory(d / "tunes"); };
  struct Case {
    const char* what;
    std::vector<Change> changes;
    std::vector<std::string> messages;
  } cases[] = {
      {"logo of the wrong size", {small_logo}, {"logo.png: the picture is 320 x 128, but the show's logo must be 640 x 128"}},
      {"label too wide", {wide_label}, {"labels.txt:2: tune label 2 \"A label far too wide for the tune bar of the show\" measures "}},
      {"tune over its budget", {big_tune}, {"tunes/b.xm: cannot pack: the image needs ", " more than the 409600 of a tune's buffer"}},
      {"character the font lacks", {snowman}, {"text.txt:2:6: character U+2603 has no code page 437 code"}},
      {"font strip without glyphs", {blank_font}, {"font.png: the strip holds 0 glyphs"}},
      {"link without an address", {lone_link}, {"links.txt:1: a link needs a label, then its address"}},
      {"no tunes", {no_tunes}, {"tunes: holds 0 modules (.xm); a disk has 1 to 13"}},
      {"all at once", {small_logo, wide_label, snowman, big_tune},
       {"logo must be 640 x 128", "tune label 2", "U+2603", "409600", "4 problems in"}},
  };
  const fs::path folder = Root / "bad", out = Root / "bad-out" / "never";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_good_folder(folder);
    for (const Change& change : c.changes) change(folder);
    fs::remove_all(out.parent_path());
    fs::create_directories(out.parent_path());
    const ToolOutcome r = make(folder, out);
    EXPECT_EQ(r.status, 1) << r.output;
    for (const std::string& m : c.messages) EXPECT_NE(r.output.find(m), std::string::npos) << m << "\n" << r.output;
    EXPECT_TRUE(fs::is_empty(out.parent_path())) << "nothing is written";
  }
}
