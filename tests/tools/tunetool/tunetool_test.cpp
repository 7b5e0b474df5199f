// tunetool as a musician runs it, on modules written here: what each command reads, shows,
// plays and packs. (Bad input and the shared conventions: tools/cli_test.cpp.)
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

using TunetoolTest = ToolTest;
const std::string Tunetool = std::string(TUNETOOL_EXE) + " ";
constexpr double BusyTick = 787.5;  // frames of a tick at tempo 140

// The frames of a 16-bit stereo WAV, after checking its rate.
double wav_frames(const std::string& wav, uint32_t rate) {
  EXPECT_EQ(static_cast<uint8_t>(wav[24]) | static_cast<uint8_t>(wav[25]) << 8 | static_cast<uint8_t>(wav[26]) << 16,
            rate);
  return static_cast<double>(wav.size() - 44) / 4.0;
}

std::vector<int16_t> wav_samples(const std::string& wav) {
  const size_t data = wav.find("data");
  std::vector<int16_t> v((wav.size() - data - 8) / 2);
  std::memcpy(v.data(), wav.data() + data + 8, v.size() * 2);
  return v;
}

}  // namespace

// A module as an .xm, imported as a module image and packed: each form reads back as the same
// song, and packing reports what it cost.
TEST_F(TunetoolTest, ImportPackAndInfoOfEachForm) {
  write("night.xm", write_xm(xm::busy_module(false)));
  ASSERT_EQ(run(Tunetool + "import night.xm -o night.img").status, 0);
  const ToolRun packed = run(Tunetool + "pack night.xm -o night.packed");
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_NE(packed.err.find("1 16-bit samples stored as 8-bit"), std::string::npos) << packed.err;
  for (const char* file : {"night.xm", "night.img", "night.packed"}) {
    EXPECT_NE(run(Tunetool + "validate " + file).out.find(": valid"), std::string::npos) << file;
    const ToolRun r = run(Tunetool + "info " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    // One pass: 40 rows of 4 ticks, 126000 frames: 2.857 s.
    for (const char* line : {"duration         0:02.86 one pass, then it plays on from position 1",
                             "frequency table  amiga", "speed, tempo     4, 140"})
      EXPECT_NE(r.out.find(line), std::string::npos) << file << ": " << line << " in\n" << r.out;
  }
}

// Whole passes: the first from position 0, each further one from the restart position, up to
// the row the song comes back to. Rates other than the player's are resampled.
TEST_F(TunetoolTest, RenderPassesAndRates) {
  write("busy.xm", write_xm(xm::busy_module()));
  // Restart at 1: orders 0, 1, 0 (16 + 8 + 16 rows, the break ends the second pattern after
  // 8), then 1, 0 (8 + 16 rows), 4 ticks a row.
  ToolRun r = run(Tunetool + "render busy.xm --loops 2 -o two.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(2 passes)"), std::string::npos) << r.out;
  EXPECT_EQ(wav_frames(slurp(path("two.wav")), 44100), (40 + 24) * 4 * BusyTick);

  for (uint32_t rate : {22050u, 48000u}) {
    ASSERT_EQ(run(Tunetool + "render busy.xm --rate " + std::to_string(rate) + " -o rate.wav").status, 0);
    EXPECT_EQ(wav_frames(slurp(path("rate.wav")), rate), std::floor(40 * 4 * BusyTick * rate / 44100));
  }
}

// Resampled renders against ffmpeg's resampler (a peer used as a black box) applied to the
// player's own 44100 Hz render: the same sound, within the two filters' differences.
TEST_F(TunetoolTest, ResampledRendersMatchAPeersResampling) {
  if (std::system("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string in = std::string(MD_SOURCE_DIR) + "/assets/tunes/01.xm";
  ASSERT_EQ(run(Tunetool + "render " + in + " --seconds 6 -o native.wav").status, 0);
  for (int rate : {22050, 48000}) {
    const std::string r = std::to_string(rate);
    ASSERT_EQ(run(Tunetool + "render " + in + " --seconds 6 --rate " + r + " -o ours.wav").status, 0);
    ASSERT_EQ(run("ffmpeg -v error -y -i native.wav -af aresample=" + r + ":resampler=soxr -c:a pcm_s16le peer.wav").status,
              0);
    const std::vector<int16_t> a = wav_samples(slurp(path("ours.wav"))), b = wav_samples(slurp(path("peer.wav")));
    ASSERT_EQ(a.size(), b.size()) << rate;
    double signal = 0, error = 0;
    // Away from the ends, where the two filters see different edges.
    for (size_t i = 2 * 2000; i + 2 * 2000 < a.size(); ++i) {
      signal += double(a[i]) * a[i];
      error += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    EXPECT_GT(10 * std::log10(signal / error), 35) << rate << " Hz";
  }
}

// Songs that come back to their first row at once: the pass ends there, not after the
// 30-minute limit.
TEST_F(TunetoolTest, APassEndsAtTheFirstRowVisitedAgain) {
  const double row = 6 * 882;  // speed 6, tempo 125
  auto song = [](std::vector<XmPattern> patterns, std::vector<uint8_t> orders) {
    XmModule m;
    m.channels = 2;
    m.instruments = {xm::instrument(xm::sine_sample(32, false))};
    m.patterns = std::move(patterns);
    m.orders = std::move(orders);
    return m;
  };
  XmPattern loopOnFirst = xm::pattern(4, 2);
  loopOnFirst.cells[0] = {49, 1, 0, 0x0E, 0x61};  // E61 on row 0: row 0 twice, then rows 1..3
  XmPattern jumpToSelf = xm::pattern(1, 2);
  jumpToSelf.cells[1] = {0, 0, 0, 0x0B, 0x00};  // B00 in a one-row pattern
  const struct {
    const char* name;
    XmModule module;
    double rows;
  } cases[] = {
      {"E61 on row 0", song({loopOnFirst}, {0}), 5},
      {"B00 after another pattern", song({xm::pattern(4, 2), jumpToSelf}, {0, 1}), 5},
  };
  for (const auto& c : cases) {
    write("song.xm", write_xm(c.module));
    const ToolRun r = run(Tunetool + "render song.xm -o song.wav");
    EXPECT_NE(r.out.find("(one pass)"), std::string::npos) << c.name << ": " << r.out << r.err;
    EXPECT_EQ(wav_frames(slurp(path("song.wav")), 44100), c.rows * row) << c.name;
  }
}
