// tunetool as a musician runs it, on modules written here: what each command reads, shows,
// plays and packs. (Bad input and the shared conventions: tools/cli_test.cpp.)
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

using TunetoolTest = ToolTest;
const std::string Tunetool = std::string(TUNETOOL_EXE) + " ";

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

// A module as an .xm, imported as a module image and packed: each form reads back, and info
// shows what a musician looks at when a tune does not fit (names, lengths, loops, widths and
// the bytes each sample takes in the tune's 409600-byte buffer, as packing reaches them).
TEST_F(TunetoolTest, ImportPackAndInfoOfEachForm) {
  XmModule m = xm::busy_module(false);
  m.name = "night drive";
  m.tracker = "FastTracker v2.00";
  m.instruments[0].name = "lead";
  m.instruments[0].samples[0].name = "saw loop";
  m.instruments[1].samples[0].name = "pad";
  write("night.xm", write_xm(m));
  ASSERT_EQ(run(Tunetool + "import night.xm -o night.img").status, 0);
  const ToolRun packed = run(Tunetool + "pack night.xm -o night.packed");
  ASSERT_EQ(packed.status, 0) << packed.err;
  for (const char* figure : {"stored ", "blocks ", "groups ", "stream ", "decoded ", "used ", "instrument  1 sample 0",
                             "packed against unpacked SNR"})
    EXPECT_NE(packed.out.find(figure), std::string::npos) << figure << " in\n" << packed.out;
  EXPECT_NE(packed.err.find("1 16-bit samples stored as 8-bit"), std::string::npos) << packed.err;

  for (const char* file : {"night.xm", "night.img", "night.packed"}) {
    EXPECT_NE(run(Tunetool + "validate " + file).out.find(": valid"), std::string::npos) << file;
    const ToolRun r = run(Tunetool + "info " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    // One pass: 40 rows of 4 ticks of 787.5 frames, 126000 frames: 2.857 s.
    for (const char* line : {"duration         0:02.86 one pass, then it plays on from position 1",
                             "song length      3 (restart at 1)", "channels         2", "patterns         2",
                             "instruments      2", "samples          2", "frequency table  amiga",
                             "speed, tempo     4, 140"})
      EXPECT_NE(r.out.find(line), std::string::npos) << file << ": " << line << " in\n" << r.out;
  }
  EXPECT_NE(run(Tunetool + "info night.packed").out.find(" 0 values 16-bit"), std::string::npos);
  const ToolRun r = run(Tunetool + "info night.xm");
  // Sample 1: 32 8-bit frames, a forward loop over all of them. Sample 2: 200 16-bit frames,
  // ping-pong from 50 for 100, so 150 frames are kept, each one byte on the disk.
  for (const char* line : {"title            night drive\n", "tracker          FastTracker v2.00\n",
                           "\n   1      \"lead\"\n",
                           "   1   0  \"saw loop\"                    32  forward           0        32     8  ",
                           "   2   0  \"pad\"                        200  ping-pong        50       100    16  "})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  const size_t used = packed.out.find("used ");
  ASSERT_NE(used, std::string::npos);
  const std::string figure = packed.out.substr(used + 5, packed.out.find_first_not_of("0123456789", used + 5) - used - 5);
  EXPECT_NE(r.out.find("on the disk      " + figure + " of 409600 bytes once unpacked"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": fits"), std::string::npos) << r.out;
  EXPECT_EQ(run(Tunetool + "render night.packed --seconds 0.5 -o packed.wav").status, 0);
}

// Seconds, or whole passes: the first from position 0, each further one from the restart
// position, up to the row the song comes back to. Rates other than the player's are resampled.
TEST_F(TunetoolTest, RenderSecondsPassesAndRates) {
  const double tick = 787.5;  // frames at tempo 140
  write("busy.xm", write_xm(xm::busy_module()));
  ASSERT_EQ(run(Tunetool + "render busy.xm --seconds 1 -o one.wav").status, 0);
  EXPECT_EQ(wav_frames(slurp(path("one.wav")), 44100), 44100);
  // Restart at 1: orders 0, 1, 0 (16 + 8 + 16 rows, the break ends the second pattern after
  // 8), then 1, 0 (8 + 16 rows), 4 ticks a row.
  ToolRun r = run(Tunetool + "-v render busy.xm --loops 2 -o two.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(2 passes)"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("2 passes came back round in 201600 frames"), std::string::npos) << "-v: " << r.err;
  EXPECT_EQ(wav_frames(slurp(path("two.wav")), 44100), (40 + 24) * 4 * tick);

  XmModule m = xm::busy_module();
  m.restart = 0;
  write("again.xm", write_xm(m));
  r = run(Tunetool + "render again.xm -o one.wav");
  EXPECT_NE(r.out.find("(one pass)"), std::string::npos) << r.out;
  ASSERT_EQ(run(Tunetool + "render again.xm --loops 3 -o three.wav").status, 0);
  EXPECT_EQ(wav_frames(slurp(path("one.wav")), 44100), 40 * 4 * tick);
  const std::string three = slurp(path("three.wav"));
  EXPECT_EQ(wav_frames(three, 44100), 3 * 40 * 4 * tick);
  // The second pass sounds as the first (the channels carry on, so compare the end only).
  const size_t pass = 40 * 4 * 787.5 * 4;
  EXPECT_EQ(three.substr(44 + pass + pass / 2, pass / 2), three.substr(44 + 2 * pass + pass / 2, pass / 2));
  for (uint32_t rate : {22050u, 48000u}) {
    ASSERT_EQ(run(Tunetool + "render again.xm --rate " + std::to_string(rate) + " -o rate.wav").status, 0);
    EXPECT_EQ(wav_frames(slurp(path("rate.wav")), rate), std::floor(40 * 4 * tick * rate / 44100));
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
  XmPattern oneRow = xm::pattern(1, 2);
  oneRow.cells[0] = {49, 1, 0, 0, 0};
  XmPattern loopOnFirst = xm::pattern(4, 2);
  loopOnFirst.cells[0] = {49, 1, 0, 0x0E, 0x61};  // E61 on row 0: row 0 twice, then rows 1..3
  XmPattern jumpToSelf = xm::pattern(1, 2);
  jumpToSelf.cells[1] = {0, 0, 0, 0x0B, 0x00};  // B00 in a one-row pattern
  const struct {
    const char* name;
    XmModule module;
    double rows;
  } cases[] = {
      {"one row", song({oneRow}, {0}), 1},
      {"E61 on row 0", song({loopOnFirst}, {0}), 5},
      {"B00 in a one-row pattern", song({jumpToSelf}, {0}), 1},
      {"B00 after another pattern", song({xm::pattern(4, 2), jumpToSelf}, {0, 1}), 5},
  };
  for (const auto& c : cases) {
    write("song.xm", write_xm(c.module));
    const ToolRun r = run(Tunetool + "render song.xm -o song.wav");
    EXPECT_NE(r.out.find("(one pass)"), std::string::npos) << c.name << ": " << r.out << r.err;
    EXPECT_EQ(wav_frames(slurp(path("song.wav")), 44100), c.rows * row) << c.name;
  }
}

// Files cut short: a module cut in its sample data plays with silence for what is missing
// (as other players play it), a packed tune cut short says so, and a picture stream cut
// short decodes with the rest black and a warning.
TEST_F(TunetoolTest, FilesCutShortAreReadAsFarAsTheyGo) {
  std::vector<uint8_t> bytes = write_xm(xm::busy_module());
  bytes.resize(bytes.size() - 100);
  write("cut.xm", bytes);
  ToolRun r = run(Tunetool + "pack cut.xm -o cut.packed");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the file is cut short: 100 bytes of sample data are missing"), std::string::npos) << r.err;
  EXPECT_EQ(run(Tunetool + "-q render cut.xm -o quiet.wav").err, "");
  const std::string packed = slurp(path("cut.packed"));
  write("short.packed", packed.substr(0, packed.size() - 30));
  r = run(Tunetool + "info short.packed");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a packed tune cut short: " + std::to_string(packed.size() - 30) + " of its " +
                       std::to_string(packed.size()) + " bytes are there"),
            std::string::npos)
      << r.err;

  const std::string stream = slurp(std::string(MD_PICTURE_STREAMS) + "/logo.m1v");
  write("half.m1v", stream.substr(0, stream.size() / 2));
  r = run(std::string(PICTURETOOL_EXE) + " decode half.m1v -o half.png");
  EXPECT_EQ(r.status, 0);
  // 640 x 128: 40 x 8 macroblocks; about half of them are missing.
  const size_t at = r.err.find("the stream ends early; ");
  ASSERT_NE(at, std::string::npos) << r.err;
  const int missing = std::stoi(r.err.substr(at + 23));
  EXPECT_GT(missing, 100);
  EXPECT_LT(missing, 220);
  EXPECT_NE(r.err.find(" of 320 macroblocks are missing and stay black"), std::string::npos) << r.err;
  EXPECT_EQ(run(std::string(PICTURETOOL_EXE) + " decode " + MD_PICTURE_STREAMS + "/logo.m1v -o whole.png").err, "");
}
