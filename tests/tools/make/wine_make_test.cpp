// musicdisk-make.exe under Wine, as a Windows user runs it: the disk folder of the Linux
// test made into a Windows program, which then runs under Wine on a virtual X server with
// its sound going into a file. It shows the new logo and plays tune 1 as tunetool renders it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/disk_block.h"
#include "support/x_session.h"
#include "tools/common/file_io.h"
#include "tools/make/disk_folder_files.h"

namespace fs = std::filesystem;
using namespace disk_files;

namespace {

// The first stereo frame of 16-bit samples clearly above a mixer's rounding noise.
size_t first_sound(const std::vector<int16_t>& s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] > 64 || s[i] < -64) return i / 2;
  return s.size() / 2;
}

}  // namespace

TEST(WineMake, TheMadeWindowsProgramShowsAndPlaysTheNewDisk) {
  const fs::path dir = fs::temp_directory_path() / ("md_wine_make_" + std::to_string(getpid()));
  const fs::path folder = dir / "my-disk", programs = dir / "programs", out = dir / "out" / "mydisk";
  write_good_folder(folder);
  fs::create_directories(programs);
  fs::create_directories(out.parent_path());
  fs::copy_file(MUSICDISK_WINDOWS_PROGRAM, programs / "musicdisk.exe");
  const std::vector<std::string> quiet = {"WINEDEBUG=-all"};

  std::string printed;
  const auto make = [&] {
    return xtest::run({"wine", MUSICDISK_WINDOWS_MAKE, folder.string(), "-o", out.string(), "--programs", programs.string()},
                      quiet, 300000, &printed);
  };
  ASSERT_EQ(make(), 0) << printed;
  EXPECT_NE(printed.find("not writing " + out.string() + ": the Linux program is not at"), std::string::npos) << printed;
  std::vector<uint8_t> made;
  std::string error;
  ASSERT_TRUE(read_input(out.string() + ".exe", made, error, ProgramInput)) << error;
  // Made again over the first: replaced whole, with no temporary left beside it.
  ASSERT_EQ(make(), 0) << printed;
  EXPECT_EQ(fs::file_size(out.string() + ".exe"), made.size());
  EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1);
  const DiskBlockRead block = read_disk_block(made);
  ASSERT_EQ(block.status, DiskBlockStatus::Found) << block.error;
  EXPECT_EQ(block.pieces.tuneLabels, (std::vector<std::string>{"Alpha Tune", "Beta Tune"}));
  EXPECT_EQ(block.pieces.linkLabels, (std::vector<std::string>{"First Link", "Second"}));
  EXPECT_EQ(std::string(block.pieces.scrollText.begin(), block.pieces.scrollText.end()).find("HELLO FROM THE TEST DISK"),
            0u);

  // The program's sound into a file through ALSA's file plugin (raw 16-bit stereo at 44100 Hz).
  const fs::path raw = dir / "sound.raw", alsa = dir / "file.conf";
  write_file(alsa, "pcm.!default { type plug slave { pcm \"tofile\"; format S16_LE; rate 44100; channels 2 } }\n"
                   "pcm.tofile { type file slave.pcm \"null\" file \"" + raw.string() + "\" format \"raw\" }\n");
  xtest::XServer x;
  ASSERT_EQ(x.start(1024, 768, 24), "");
  // A Wine server left over from an earlier test would keep its desktop on that X server.
  xtest::run({"wineserver", "-k"}, {}, 30000);
  xtest::run({"wineserver", "-w"}, {}, 30000);
  xtest::run({"wine", "reg", "delete", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/f"}, x.env(quiet), 120000);
  const pid_t show = xtest::spawn({"wine", out.string() + ".exe"},
                                  x.env({"WINEDEBUG=-all", "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + alsa.string()}));
  const XWindow window = x.find_window("^musicdisk$", 120000, show);
  ASSERT_NE(window, 0u) << "no window titled musicdisk; the show's state: " << xtest::wait_exit(show, 0);
  // The logo band of the frame (the window's inside, once Wine has settled it) turns green
  // as the logo swings in.
  xtest::Shot shot;
  const bool green = xtest::wait_until(180000, 250, [&] {
    shot = x.screenshot();
    const xtest::Geometry g = x.geometry(window);
    if (g.width != 400 || g.height != 300 || g.x < 0 || g.y < 0 || g.x + 400 > shot.width || g.y + 300 > shot.height())
      return false;
    std::vector<uint32_t> logo(400 * 120);
    for (int y = 0; y < 120; ++y)
      std::copy_n(&shot.pixels[static_cast<size_t>((g.y + y) * shot.width + g.x)], 400, &logo[static_cast<size_t>(y) * 400]);
    return green_pixels(logo, 400, 0, 120) > 10000;
  });
  xtest::save(shot, "wine_made_disk");
  EXPECT_TRUE(green) << "no green logo in the frame (screenshot wine_made_disk.ppm); the show's state: "
                     << xtest::wait_exit(show, 0);

  // Tune 1 as tunetool renders the module packed, from the show's first sound on.
  const fs::path packed = dir / "a.packed", rendered = dir / "a.wav";
  ASSERT_EQ(xtest::run({TUNETOOL_EXE, "pack", (folder / "tunes" / "a.xm").string(), "-q", "-o", packed.string()}, {}, 60000), 0);
  ASSERT_EQ(xtest::run({TUNETOOL_EXE, "render", packed.string(), "--seconds", "2", "-q", "-o", rendered.string()}, {}, 60000),
            0);
  const std::vector<int16_t> want = wav_samples(rendered);
  const size_t enough = 4 * (16384 + 44100 + want.size() / 2);
  std::error_code ec;
  EXPECT_TRUE(xtest::wait_until(180000, 250, [&] { return fs::file_size(raw, ec) > enough; }))
      << "the sound file holds " << fs::file_size(raw, ec) << " bytes";
  xtest::stop(show);
  xtest::run({"wineserver", "-k"}, {}, 30000);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(read_input(raw.string(), bytes, error, SoundInput)) << error;
  std::vector<int16_t> got(bytes.size() / 2);
  std::memcpy(got.data(), bytes.data(), got.size() * 2);
  ASSERT_GE(first_sound(got), first_sound(want));
  // Wine resamples and mixes in floating point: not the same samples, but the same sound.
  // Matched from the first loud frame (give or take a few), tune 1 correlates above 0.9999;
  // tune 2 would give about 0.1.
  const size_t start = first_sound(got) - first_sound(want);
  double best = -1;
  for (size_t frame = start > 4 ? start - 4 : 0; frame <= start + 4; ++frame) {
    ASSERT_GE(got.size(), 2 * frame + want.size());
    double both = 0, mine = 0, theirs = 0;
    for (size_t i = 0; i < want.size(); ++i) {
      both += double(want[i]) * got[2 * frame + i];
      mine += double(want[i]) * want[i];
      theirs += double(got[2 * frame + i]) * got[2 * frame + i];
    }
    best = std::max(best, both / std::sqrt(mine * theirs + 1));
  }
  EXPECT_GT(best, 0.999) << "the sound file, from frame " << start << ", against tune 1 as tunetool renders it";
  fs::remove_all(dir, ec);
}
