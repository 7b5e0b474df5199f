// musicdisk-make as a user runs it: a disk folder written here (two small tunes, a green
// logo, a text, two links) made into a program, which musicdisk-capture then shows and plays
// from the program's own file; and the folder's problems, each refused with its message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/make/disk_folder_files.h"

namespace fs = std::filesystem;
using namespace disk_files;

namespace {

const std::string Make = std::string(MAKE_EXE) + " ", Capture = std::string(CAPTURE_EXE) + " ",
                  Tunetool = std::string(TUNETOOL_EXE) + " ";

class MakeDisk : public ToolTest {
 protected:
  // The programs folder holds the Linux program only, so the other two are named as not written.
  void SetUp() override {
    ToolTest::SetUp();
    fs::create_directories(dir / "programs");
    fs::create_symlink(MUSICDISK_EXE, dir / "programs" / "musicdisk");
  }

  ToolRun make(const std::string& folder, const std::string& out, const std::string& programs = "programs") const {
    return run(Make + folder + " -o " + out + " --programs " + programs);
  }

  // The frame the show draws at 1.0 s, from the built-in disk or the `disk` option given.
  RgbImage frame_at_one_second(const std::string& disk_option, const std::string& frames) const {
    const ToolRun r = run(Capture + disk_option + " --seconds 1.1 --at 1.0 --out " + frames);
    EXPECT_EQ(r.status, 0) << r.err;
    RgbImage image;
    std::string error;
    EXPECT_TRUE(read_png(path(frames + "/frame_00050_0001000ms.png"), image, error)) << error;
    return image;
  }
};

// Pixels of rows [top, bottom) that differ between two frames.
int differing_pixels(const RgbImage& a, const RgbImage& b, int top, int bottom) {
  const auto row = [](const RgbImage& image, int y) { return image.pixels.begin() + y * image.width; };
  int n = 0;
  for (auto p = row(a, top), q = row(b, top); p != row(a, bottom); ++p, ++q) n += *p != *q;
  return n;
}

}  // namespace

TEST_F(MakeDisk, TheProgramShowsAndPlaysTheNewDisk) {
  write_good_folder(dir / "good");
  ToolRun r = make("good", "mydisk");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(fs::status(path("mydisk")).permissions() & fs::perms::owner_exec, fs::perms::none) << "it can be run";

  // A made program may stand for the released one: its block is replaced, not added to; a
  // damaged block is not taken over.
  fs::create_directories(dir / "again");
  fs::copy_file(path("mydisk"), dir / "again" / "musicdisk");
  ASSERT_EQ(make("good", "second", "again").status, 0);
  EXPECT_EQ(fs::file_size(path("second")), fs::file_size(path("mydisk")));
  fs::resize_file(dir / "again" / "musicdisk", fs::file_size(path("mydisk")) - 1);
  r = make("good", "third", "again");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("carries a damaged disk"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("third")));

  // Against the built-in disk at the same moment: the logo band is green, and the tune bar
  // (the titles as labels), the link bar and the scroller show other texts.
  const RgbImage builtin = frame_at_one_second("", "frames-builtin");
  const RgbImage mine = frame_at_one_second("--disk mydisk", "frames-mine");
  ASSERT_EQ(mine.pixels.size(), builtin.pixels.size());
  EXPECT_EQ(green_pixels(builtin.pixels, builtin.width, 0, 120), 0);
  EXPECT_GT(green_pixels(mine.pixels, mine.width, 0, 120), 10000);
  EXPECT_GT(differing_pixels(builtin, mine, 140, 168), 500) << "the tune bar";
  EXPECT_GT(differing_pixels(builtin, mine, 170, 198), 500) << "the link bar";
  EXPECT_GT(differing_pixels(builtin, mine, 225, 300), 500) << "the scroller";

  // Tune 1 plays from the show's start, one sound buffer (16384 frames) late, exactly as
  // tunetool renders the same module packed.
  ASSERT_EQ(run(Tunetool + "pack good/tunes/a.xm -q -o a.packed").status, 0);
  ASSERT_EQ(run(Tunetool + "render a.packed --seconds 2 -q -o a.wav").status, 0);
  r = run(Capture + "--disk mydisk --seconds 2.5 --wav played.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int16_t> want = wav_samples(path("a.wav")), got = wav_samples(path("played.wav"));
  ASSERT_GT(got.size(), 2 * 16384 + want.size());
  ASSERT_GT(want.size(), 2u * 44100);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + 2 * 16384));
}

// The built-in disk's own sources, made into a disk, give the built-in show frame for frame;
// an existing folder is not written over.
TEST_F(MakeDisk, TheBuiltInSourcesMakeTheBuiltInDisk) {
  ToolRun r = run(Make + "init sources");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run(Make + "init sources").status, 1);
  r = make("sources", "again");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(frame_at_one_second("", "frames-builtin").pixels ==
              frame_at_one_second("--disk again", "frames-again").pixels);
}

// Every problem of a folder is named at once, where it lies, and nothing is written.
TEST_F(MakeDisk, EveryProblemIsNamedAndNothingIsWritten) {
  const fs::path bad = dir / "bad";
  write_good_folder(bad);
  write_picture(bad / "logo.png", 320, 128, 0x00C800);
  write_file(bad / "labels.txt", "Alpha\nA label far too wide for the tune bar of the show\n");
  write_file(bad / "text.txt", "Fine line\nsnow \xE2\x98\x83 here\n");
  write_file(bad / "links.txt", "Alone\n");
  XmModule big = xm::busy_module();
  big.instruments[0].samples[0] = xm::sine_sample(420000, false, 0);
  write_bytes(bad / "tunes" / "b.xm", write_xm(big));
  const std::vector<std::string> before = listing();
  ToolRun r = make("bad", "never");
  EXPECT_EQ(r.status, 1);
  for (const char* message :
       {"logo.png: the picture is 320 x 128, but the show's logo must be 640 x 128",
        "labels.txt:2: tune label 2 \"A label far too wide for the tune bar of the show\" measures ",
        "text.txt:2:6: character U+2603 has no code page 437 code", "links.txt:1: a link needs a label, then its address",
        "tunes/b.xm: cannot pack: the image needs ", " more than the 409600 of a tune's buffer", "5 problems in"})
    EXPECT_NE(r.err.find(message), std::string::npos) << message << "\n" << r.err;
  // A strip without glyphs, and no tunes at all.
  write_good_folder(bad);
  write_picture(bad / "font.png", 100, 52, 0);
  fs::remove_all(bad / "tunes");
  fs::create_directory(bad / "tunes");
  r = make("bad", "never");
  EXPECT_EQ(r.status, 1);
  for (const char* message : {"font.png: the strip holds 0 glyphs", "tunes: holds 0 modules (.xm); a disk has 1 to 13"})
    EXPECT_NE(r.err.find(message), std::string::npos) << message << "\n" << r.err;
  EXPECT_EQ(listing(), before) << "nothing is written";
}
