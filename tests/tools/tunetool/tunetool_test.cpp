// tunetool as a user runs it: each command on modules written here, exit codes, messages,
// and no output file left behind by a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cmath>
#include <cstring>
#include <string>

#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out, err;
};

class TunetoolTest : public ::testing::Test {
 protected:
  fs::path dir = fs::path(MD_BINARY_DIR) / "tunetool_test" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();

  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }

  std::string path(const std::string& name) { return (dir / name).string(); }

  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  Outcome run(const std::string& arguments) {
    const std::string out = path("stdout.txt"), err = path("stderr.txt");
    const std::string command = std::string(TUNETOOL_EXE) + " " + arguments + " >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
  }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }
};

}  // namespace

TEST_F(TunetoolTest, ImportValidateAndInfo) {
  const std::string in = write("busy.xm", write_xm(xm::busy_module(false)));
  Outcome r = run("import " + in + " -o " + path("busy.img"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("busy.img")).substr(0, 4), std::string("QKB\0", 4));
  for (const std::string& file : {in, path("busy.img")}) {
    r = run("validate " + file);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("valid"), std::string::npos);
    r = run("info " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"song length      3 (restart at 1)", "channels         2", "patterns         2",
                             "instruments      2", "samples          2", "frequency table  amiga"})
      EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }
}

TEST_F(TunetoolTest, RenderForSecondsOrOnePass) {
  const std::string in = write("busy.xm", write_xm(xm::busy_module()));
  Outcome r = run("render " + in + " --seconds 1 -o " + path("one.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(path("one.wav")), 44u + 44100u * 4);

  // One pass: 16 + 8 + 16 rows (the break ends the second pattern after 8) at speed 4,
  // 787.5 frames a tick at tempo 140, until the restart comes back to position 1. The pass
  // is cut to the 64-frame step the repeat begins in.
  r = run("render " + in + " -o " + path("pass.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(one pass)"), std::string::npos) << r.out;
  const double frames = (fs::file_size(path("pass.wav")) - 44) / 4.0;
  EXPECT_NEAR(frames, 160 * 787.5, 64);
}

TEST_F(TunetoolTest, PackWritesATuneTheOtherCommandsRead) {
  const std::string in = write("busy.xm", write_xm(xm::busy_module()));
  Outcome r = run("pack " + in + " -o " + path("busy.packed"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* figure : {"stored ", "blocks ", "groups ", "stream ", "decoded ", "used "})
    EXPECT_NE(r.out.find(figure), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("1 16-bit samples stored as 8-bit"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("instrument  1 sample 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("packed against unpacked SNR"), std::string::npos) << r.out;
  EXPECT_EQ(run("pack " + in + " -o " + path("q.packed") + " --quality 9").status, 0);
  r = run("pack " + in + " -o " + path("q0.packed") + " --quality 0");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("not a level 1..9"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("q0.packed")));
  r = run("validate " + path("busy.packed"));
  EXPECT_EQ(r.status, 0) << r.err;
  r = run("info " + path("busy.packed"));
  EXPECT_NE(r.out.find("sample data      "), std::string::npos);
  EXPECT_NE(r.out.find(" 0 values 16-bit"), std::string::npos) << r.out;
  r = run("render " + path("busy.packed") + " --seconds 0.5 -o " + path("packed.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(TunetoolTest, PackRefusesATuneTooLargeNamingTheExcess) {
  XmModule m = xm::busy_module();
  m.instruments[0].samples[0] = xm::sine_sample(420000, false, 0);
  const std::string in = write("large.xm", write_xm(m));
  Outcome r = run("pack " + in + " -o " + path("large.packed"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("more than the 409600 of a tune's buffer"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("large.packed")));
  EXPECT_FALSE(fs::exists(path("large.packed.part")));
}

TEST_F(TunetoolTest, FailuresExitNonZeroAndLeaveNoOutput) {
  std::vector<uint8_t> bytes = write_xm(xm::busy_module());
  bytes.resize(200);  // cut in the module header
  const std::string cut = write("cut.xm", bytes);
  struct Case {
    std::string arguments, message;
    int status;
  } cases[] = {
      {"import " + cut + " -o " + path("out"), "truncated header", 1},
      {"pack " + cut + " -o " + path("out"), "truncated header", 1},
      {"render " + cut + " -o " + path("out.wav"), "truncated header", 1},
      {"import " + path("missing.xm") + " -o " + path("out"), "cannot read", 1},
      {"info " + write("junk", {1, 2, 3, 4, 5}), "neither an extended module, a module image nor a packed tune", 1},
      {"validate " + write("bad.img", {'Q', 'K', 'B', 0, 1, 2}), "invalid module image", 1},
      {"render " + cut + " --seconds x -o " + path("out.wav"), "is not a number of seconds", 2},
      {"render " + cut + " --seconds 1 --loops 2 -o " + path("out.wav"), "exclude each other", 2},
      {"render " + cut + " --rate 1000 -o " + path("out.wav"), "is not a sample rate", 2},
      {"render " + cut + " -o " + path("out.flac"), ".flac output is not made here", 2},
      {"render " + cut + " -o " + path("out.mp4"), "must end in .wav", 2},
      {"render " + cut + " -o " + path("out"), "must end in .wav", 2},
      {"info " + cut + " -o " + path("out"), "info takes no --output", 2},
      {"info", "usage: tunetool info", 2},
      {"import " + cut, "usage: tunetool import", 2},
      {"frobnicate", "unknown command", 2},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.arguments);
    EXPECT_EQ(r.status, c.status) << c.arguments;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ":\n" << r.err;
    for (const char* name : {"out", "out.wav", "out.flac", "out.mp4"})
      EXPECT_FALSE(fs::exists(path(name))) << c.arguments;
  }
  Outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("render FILE -o OUT.wav [--seconds N | --loops N] [--rate HZ]"), std::string::npos);
}

// What a musician looks at when a tune does not fit: names, lengths, loops, widths, and the
// bytes each sample takes in the tune's 409600-byte buffer.
TEST_F(TunetoolTest, InfoShowsTheTuneAsAMusicianNeedsIt) {
  XmModule m = xm::busy_module();
  m.name = "night drive";
  m.tracker = "FastTracker v2.00";
  m.instruments[0].name = "lead";
  m.instruments[0].samples[0].name = "saw loop";
  m.instruments[1].samples[0].name = "pad";
  const std::string in = write("night.xm", write_xm(m));
  Outcome r = run("info " + in);
  ASSERT_EQ(r.status, 0) << r.err;
  // One pass: 40 rows of 4 ticks of 787.5 frames, 126000 frames: 2.857 s.
  for (const char* line :
       {"title            night drive", "tracker          FastTracker v2.00",
        "duration         0:02.86 one pass, then it plays on from position 1", "speed, tempo     4, 140"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  // Sample 1: 32 8-bit frames, a forward loop over all of them. Sample 2: 200 16-bit frames,
  // ping-pong from 50 for 100, so 150 frames are kept, each one byte on the disk.
  EXPECT_NE(r.out.find("\n   1      \"lead\"\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("   1   0  \"saw loop\"                    32  forward           0        32     8  "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("   2   0  \"pad\"                        200  ping-pong        50       100    16  "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("of 409600 bytes once unpacked"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": fits"), std::string::npos) << r.out;
  // The figure is the one packing reaches.
  Outcome packed = run("pack " + in + " -o " + path("night.packed"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  const size_t used = packed.out.find("used ");
  ASSERT_NE(used, std::string::npos);
  const std::string figure = packed.out.substr(used + 5, packed.out.find_first_not_of("0123456789", used + 5) - used - 5);
  EXPECT_NE(r.out.find("on the disk      " + figure + " of 409600"), std::string::npos) << r.out << packed.out;
}

// Passes: the first from position 0, each further one from the restart position, up to the
// row the song comes back to. Rates other than the player's are resampled.
TEST_F(TunetoolTest, RenderLoopsAndRates) {
  const double tick = 787.5;  // frames at tempo 140
  const std::string in = write("busy.xm", write_xm(xm::busy_module()));
  auto frames_of = [&](const std::string& file, uint32_t rate) {
    const std::string wav = slurp(path(file));
    EXPECT_EQ(static_cast<uint8_t>(wav[24]) | static_cast<uint8_t>(wav[25]) << 8 |
                  static_cast<uint8_t>(wav[26]) << 16,
              rate);
    return (wav.size() - 44) / 4.0;
  };
  Outcome r = run("-v render " + in + " --loops 2 -o " + path("two.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(2 passes)"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("2 passes came back round in 201600 frames"), std::string::npos) << "-v: " << r.err;
  // Restart at 1: orders 0, 1, 0 (16 + 8 + 16 rows), then 1, 0 (8 + 16 rows), 4 ticks a row.
  EXPECT_EQ(frames_of("two.wav", 44100), (40 + 24) * 4 * tick);

  XmModule m = xm::busy_module();
  m.restart = 0;
  const std::string again = write("again.xm", write_xm(m));
  ASSERT_EQ(run("render " + again + " -o " + path("one.wav")).status, 0);
  ASSERT_EQ(run("render " + again + " --loops 3 -o " + path("three.wav")).status, 0);
  EXPECT_EQ(frames_of("one.wav", 44100), 40 * 4 * tick);
  EXPECT_EQ(frames_of("three.wav", 44100), 3 * 40 * 4 * tick);
  // The second pass sounds as the first (the channels carry on, so compare the end only).
  const std::string three = slurp(path("three.wav"));
  const size_t pass = 40 * 4 * 787.5 * 4;
  EXPECT_EQ(three.substr(44 + pass + pass / 2, pass / 2), three.substr(44 + 2 * pass + pass / 2, pass / 2));

  for (uint32_t rate : {22050u, 48000u}) {
    const std::string name = "rate" + std::to_string(rate) + ".wav";
    r = run("render " + again + " --rate " + std::to_string(rate) + " -o " + path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frames_of(name, rate), std::floor(40 * 4 * tick * rate / 44100));
  }
}

// Resampled renders against ffmpeg's resampler (a peer used as a black box) applied to the
// player's own 44100 Hz render: the same sound, within the two filters' differences.
TEST_F(TunetoolTest, ResampledRendersMatchAPeersResampling) {
  if (std::system("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string in = std::string(MD_SOURCE_DIR) + "/assets/tunes/01.xm";
  ASSERT_EQ(run("render " + in + " --seconds 6 -o " + path("native.wav")).status, 0);
  auto samples = [&](const std::string& file) {
    const std::string wav = slurp(path(file));
    const size_t data = wav.find("data");
    std::vector<int16_t> v((wav.size() - data - 8) / 2);
    std::memcpy(v.data(), wav.data() + data + 8, v.size() * 2);
    return v;
  };
  for (int rate : {22050, 48000}) {
    const std::string ours = "ours" + std::to_string(rate) + ".wav", peer = "peer" + std::to_string(rate) + ".wav";
    ASSERT_EQ(run("render " + in + " --seconds 6 --rate " + std::to_string(rate) + " -o " + path(ours)).status, 0);
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i " + path("native.wav") + " -af aresample=" + std::to_string(rate) +
                           ":resampler=soxr -c:a pcm_s16le " + path(peer))
                              .c_str()),
              0);
    const std::vector<int16_t> a = samples(ours), b = samples(peer);
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
    m.name = "short";
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
  XmPattern four = xm::pattern(4, 2);
  struct Case {
    const char* name;
    XmModule module;
    double rows;
  } cases[] = {
      {"one row", song({oneRow}, {0}), 1},
      {"E61 on row 0", song({loopOnFirst}, {0}), 5},
      {"B00 in a one-row pattern", song({jumpToSelf}, {0}), 1},
      {"B00 after another pattern", song({four, jumpToSelf}, {0, 1}), 5},
  };
  for (const Case& c : cases) {
    const std::string in = write("song.xm", write_xm(c.module));
    Outcome r = run("render " + in + " -o " + path("song.wav"));
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_NE(r.out.find("(one pass)"), std::string::npos) << c.name << ": " << r.out;
    EXPECT_EQ((fs::file_size(path("song.wav")) - 44) / 4.0, c.rows * row) << c.name;
  }
}

// A render whose WAV would pass 4 GiB is refused before anything is rendered or written.
TEST_F(TunetoolTest, ARenderTooLongForAWavIsRefused) {
  const std::string in = write("busy.xm", write_xm(xm::busy_module()));
  Outcome r = run("render " + in + " --seconds 24348 -o " + path("long.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is more than a WAV file can hold (4 GiB, about 24347 s)"), std::string::npos) << r.err;
  r = run("render " + in + " --seconds 12174 --rate 88200 -o " + path("long.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("more than a WAV file can hold"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir / "") || !fs::exists(path("long.wav")));
  EXPECT_FALSE(fs::exists(path("long.wav")));
}

// Files cut short: a module cut in its sample data plays with silence for what is missing
// (as other players play it), a picture stream cut short decodes with the rest black and a
// warning, and a packed tune cut short says so.
TEST_F(TunetoolTest, FilesCutShortAreReadAsFarAsTheyGo) {
  std::vector<uint8_t> bytes = write_xm(xm::busy_module());
  bytes.resize(bytes.size() - 100);
  const std::string cut = write("cut.xm", bytes);
  for (const char* command : {"import", "render", "pack"}) {
    const std::string out = path(std::string("cut.") + (std::string(command) == "render" ? "wav" : "out"));
    Outcome r = run(std::string(command) + " " + cut + " -o " + out);
    EXPECT_EQ(r.status, 0) << command << ": " << r.err;
    EXPECT_NE(r.err.find("the file is cut short: 100 bytes of sample data are missing and play as silence"),
              std::string::npos)
        << command << ": " << r.err;
    EXPECT_TRUE(fs::exists(out)) << command;
  }
  // -q keeps the warning back.
  Outcome r = run("-q render " + cut + " -o " + path("quiet.wav"));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.empty()) << r.err;

  const std::string packed = slurp(path("cut.out"));
  const std::string cutPacked = write("cut.packed", std::vector<uint8_t>(packed.begin(), packed.end() - 30));
  r = run("info " + cutPacked);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a packed tune cut short: " + std::to_string(packed.size() - 30) + " of its " +
                       std::to_string(packed.size()) + " bytes are there"),
            std::string::npos)
      << r.err;

  const std::string stream = slurp(std::string(MD_PICTURE_STREAMS) + "/logo.m1v");
  const std::string half = write("half.m1v", std::vector<uint8_t>(stream.begin(), stream.begin() + stream.size() / 2));
  const std::string picturetool = std::string(TUNETOOL_EXE).substr(0, std::string(TUNETOOL_EXE).rfind("/tunetool/")) +
                                  "/picturetool/picturetool";
  if (!fs::exists(picturetool)) GTEST_SKIP() << "picturetool is not built";
  const std::string command = picturetool + " decode " + half + " -o " + path("half.png") + " 2>" + path("err.txt");
  EXPECT_EQ(std::system(command.c_str()), 0);
  const std::string err = slurp(path("err.txt"));
  // 640 x 128: 40 x 8 macroblocks; about half of them are missing.
  const size_t at = err.find("the stream ends early; ");
  ASSERT_NE(at, std::string::npos) << err;
  const int missing = std::stoi(err.substr(at + 23));
  EXPECT_GT(missing, 100);
  EXPECT_LT(missing, 220);
  EXPECT_NE(err.find(" of 320 macroblocks are missing and stay black"), std::string::npos) << err;
  // The whole stream decodes without the warning.
  const std::string whole = picturetool + " decode " + std::string(MD_PICTURE_STREAMS) + "/logo.m1v -o " +
                            path("whole.png") + " 2>" + path("err.txt");
  EXPECT_EQ(std::system(whole.c_str()), 0);
  EXPECT_EQ(slurp(path("err.txt")), "");
}
