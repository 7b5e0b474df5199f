// tunetool as a user runs it: each command on modules written here, exit codes, messages,
// and no output file left behind by a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
  bytes.resize(bytes.size() - 10);
  const std::string cut = write("cut.xm", bytes);
  struct Case {
    std::string arguments, message;
  } cases[] = {
      {"import " + cut + " -o " + path("out"), "instrument 2 sample 0: sample data (400 bytes) runs past the end"},
      {"pack " + cut + " -o " + path("out"), "runs past the end of the file"},
      {"render " + cut + " -o " + path("out"), "runs past the end of the file"},
      {"import " + path("missing.xm") + " -o " + path("out"), "cannot read"},
      {"info " + write("junk", {1, 2, 3, 4, 5}), "neither an extended module, a module image nor a packed tune"},
      {"validate " + write("bad.img", {'Q', 'K', 'B', 0, 1, 2}), "invalid module image"},
      {"render " + cut + " --seconds x -o " + path("out"), "is not a number of seconds"},
      {"import " + cut, "usage: tunetool import"},
      {"frobnicate", "unknown command"},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.arguments);
    EXPECT_NE(r.status, 0) << c.arguments;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ":\n" << r.err;
    EXPECT_FALSE(fs::exists(path("out"))) << c.arguments;
  }
  Outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("render FILE [--seconds N] -o OUT.wav"), std::string::npos);
}
