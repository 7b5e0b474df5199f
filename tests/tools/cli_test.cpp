// Every tool and the program as a user runs them: the shared conventions (--help, --version,
// exit codes, - for standard input and output), and inputs and outputs that are not plain
// files (folders, pipes, links, the input itself).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <glob.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out, err;
};

class ToolsCli : public ::testing::Test {
 protected:
  fs::path dir = fs::path(MD_BINARY_DIR) / "tools_cli_test" /
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

  // Runs a shell command line; its standard output and error are kept apart.
  Outcome run(const std::string& command) {
    const std::string out = path("stdout.bin"), err = path("stderr.txt");
    const int status = std::system(("(" + command + ") >" + out + " 2>" + err).c_str());
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return o;
  }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }
  std::string write(const std::string& name, const std::string& text) {
    return write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }

  // The files in the test's folder, for "nothing else was left behind".
  std::vector<std::string> listing() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

const std::string Tunetool = TUNETOOL_EXE;
const std::string Picturetool = PICTURETOOL_EXE;
const std::string Samplecodec = SAMPLECODEC_EXE;
const std::string Capture = CAPTURE_EXE;
const std::string Tunescore = TUNESCORE_EXE;
const std::string Embed = EMBED_EXE;
const std::string Fonttool = FONTTOOL_EXE;
const std::string Assets = std::string(MD_SOURCE_DIR) + "/assets";

// A mono 8-bit WAV of a few hundred samples of a falling ramp (8-bit WAV is unsigned).
std::vector<uint8_t> small_wav(int channels, int bits, int frames) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const int width = bits / 8;
  const uint32_t data = static_cast<uint32_t>(frames * channels * width);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + data, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4);
  put(1, 2);
  put(static_cast<uint32_t>(channels), 2);
  put(22050, 4);
  put(static_cast<uint32_t>(22050 * channels * width), 4);
  put(static_cast<uint32_t>(channels * width), 2);
  put(static_cast<uint32_t>(bits), 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const int v = (i * 7 + c * 40) % 200 - 100;  // -100..99 in 8-bit units
      if (bits == 8) put(static_cast<uint32_t>(v + 128), 1);
      else put(static_cast<uint32_t>(v) << (bits - 8), width);
    }
  return b;
}

// A PNG of only its header and an empty picture chunk, declaring any size.
std::vector<uint8_t> png_declaring(uint32_t width, uint32_t height) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, std::vector<uint8_t> data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(n >> (8 * i)));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFF;  // the CRC-32 of the type and data, bit by bit
    for (uint8_t byte : body) {
      crc ^= byte;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFF;
    b.insert(b.end(), body.begin(), body.end());
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  };
  std::vector<uint8_t> header;
  for (uint32_t v : {width, height})
    for (int i = 3; i >= 0; --i) header.push_back(static_cast<uint8_t>(v >> (8 * i)));
  header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, no interlace
  chunk("IHDR", header);
  chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  chunk("IEND", {});
  return b;
}

}  // namespace

// --help on standard output with exit 0, --version with CMake's version, a usage error with
// exit 2 and a hint on standard error, the same for every tool and the program.
TEST_F(ToolsCli, EveryToolSharesHelpVersionAndUsageErrors) {
  std::vector<std::pair<std::string, std::string>> tools = {
      {Tunetool, "tunetool"}, {Picturetool, "picturetool"}, {Samplecodec, "samplecodec"}, {Capture, "musicdisk-capture"}};
#ifdef MUSICDISK_EXE
  tools.push_back({MUSICDISK_EXE, "musicdisk"});
#endif
  for (const auto& [exe, name] : tools) {
    Outcome r = run(exe + " --help");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_NE(r.out.find("usage: " + name), std::string::npos) << name << ":\n" << r.out;
    EXPECT_TRUE(r.err.empty()) << name;
    r = run(exe + " -h");
    EXPECT_EQ(r.status, 0) << name;
    r = run(exe + " --version");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, name + " " + MD_PROJECT_VERSION + "\n");
    r = run(exe + " --no-such-option");
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_NE(r.err.find(name + ": unknown option '--no-such-option'"), std::string::npos) << name << ":\n" << r.err;
    // The tools hint at --help; the program, which has no other options, shows its usage.
    EXPECT_NE(r.err.find(name == "musicdisk" ? "usage: musicdisk" : "Try '" + name + " --help'"), std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty()) << name;
  }
#ifdef MUSICDISK_EXE
  // The show takes no arguments: anything else is refused before it starts.
  Outcome r = run(std::string(MUSICDISK_EXE) + " play");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("musicdisk: unexpected argument 'play'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("usage: musicdisk"), std::string::npos) << r.err;
  r = run(std::string(MUSICDISK_EXE) + " --help");
  for (const char* key : {"Escape", "Alt+Enter", "Enter", "Left, Right", "Up, Down"})
    EXPECT_NE(r.out.find(key), std::string::npos) << key;
#endif
  // Usage errors of the commands themselves.
  for (const std::string& command :
       {Tunetool, Tunetool + " frobnicate", Tunetool + " render x.xm", Picturetool + " encode", Samplecodec,
        Samplecodec + " measure x.wav -o y", Tunetool + " render x.xm -o y.wav --loops 0",
        Samplecodec + " encode x.wav -o y --bit-cost inf", Samplecodec + " encode x.wav -o y --bit-cost nan",
        Capture + " --video x.mp4 --scale 0", Capture + " stray"}) {
    Outcome r = run(command);
    EXPECT_EQ(r.status, 2) << command << ":\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << command;
  }
}

// A failure exits 1 and names the file and the system's reason; nothing is left behind.
TEST_F(ToolsCli, UnwritableOutputsAndMissingInputsNameTheReason) {
  const std::string xm = write("song.xm", write_xm(xm::busy_module()));
  const std::string wav = write("ramp.wav", small_wav(1, 8, 600));
  const std::string png = Assets + "/pictures/sprite.png";
  const std::string nowhere = path("no/such/folder/out");
  const struct {
    std::string command, message;
  } cases[] = {
      {Tunetool + " import " + xm + " -o " + nowhere, "cannot write " + nowhere + ": No such file or directory"},
      {Tunetool + " render " + xm + " --seconds 0.1 -o " + nowhere + ".wav",
       "cannot write " + nowhere + ".wav: No such file or directory"},
      {Tunetool + " pack " + xm + " -o " + path(""), "cannot write " + path("") + ": Is a directory"},
      {Picturetool + " encode " + png + " -o " + nowhere, "cannot write " + nowhere + ": No such file or directory"},
      {Samplecodec + " encode " + wav + " -o " + nowhere, "cannot write " + nowhere + ": No such file or directory"},
      {Capture + " --seconds 0.1 --wav " + nowhere, "cannot write " + nowhere + ": No such file or directory"},
      {Tunetool + " info " + path("missing.xm"), "cannot read " + path("missing.xm") + ": No such file or directory"},
      {Picturetool + " decode " + path("missing.m1v") + " -o " + path("x.png"),
       "cannot read " + path("missing.m1v") + ": No such file or directory"},
      {Samplecodec + " measure " + path("missing.wav"), "cannot read " + path("missing.wav") + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.command);
    EXPECT_EQ(r.status, 1) << c.command << ":\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.command << ":\n" << r.err;
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"ramp.wav", "song.xm"}));
}

// A folder named as the input is refused with the system's reason (it aborted the tools
// with an uncaught exception).
TEST_F(ToolsCli, AFolderAsInputIsRefused) {
  const std::string d = path("folder");
  fs::create_directories(d);
  for (const std::string& command :
       {Tunetool + " info " + d, Tunetool + " import " + d + " -o " + path("x"), Tunetool + " validate " + d,
        Tunetool + " pack " + d + " -o " + path("x"), Tunetool + " render " + d + " -o " + path("x.wav"),
        Picturetool + " decode " + d + " -o " + path("x.png"), Picturetool + " encode " + d + " -o " + path("x"),
        Samplecodec + " decode " + d + " -o " + path("x"), Samplecodec + " encode " + d + " -o " + path("x"),
        Samplecodec + " measure " + d}) {
    Outcome r = run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find(d + ": Is a directory"), std::string::npos) << command << ":\n" << r.err;
    EXPECT_FALSE(fs::exists(path("x")));
  }
}

// -o - writes to standard output exactly what a file would hold; - as the input reads
// standard input.
TEST_F(ToolsCli, DashIsStandardInputAndOutput) {
  const std::string xm = write("song.xm", write_xm(xm::busy_module()));
  const std::string wav = write("ramp.wav", small_wav(2, 16, 900));
  const std::string png = Assets + "/pictures/sprite.png";
  const std::string stream = std::string(MD_PICTURE_STREAMS) + "/sprite.m1v";
  const struct {
    std::string toFile, toStdout, file;
  } cases[] = {
      {Tunetool + " render " + xm + " --seconds 0.3 -o " + path("a.wav"), Tunetool + " render - --seconds 0.3 -o - <" + xm,
       "a.wav"},
      {Tunetool + " render " + xm + " -o " + path("p.wav"), Tunetool + " render " + xm + " -o -", "p.wav"},
      {Tunetool + " pack " + xm + " -o " + path("b.packed"), "cat " + xm + " | " + Tunetool + " pack - -o -",
       "b.packed"},
      {Tunetool + " import " + xm + " -o " + path("c.img"), Tunetool + " import " + xm + " -o -", "c.img"},
      {Picturetool + " encode " + png + " -o " + path("d.m1v"), Picturetool + " encode - -o - <" + png, "d.m1v"},
      {Picturetool + " decode " + stream + " -o " + path("e.png"), "cat " + stream + " | " + Picturetool + " decode - -o -",
       "e.png"},
      {Samplecodec + " encode " + wav + " -o " + path("f.stream"), Samplecodec + " encode - -o - <" + wav, "f.stream"},
      {Capture + " --seconds 0.2 --wav " + path("g.wav"), Capture + " --seconds 0.2 --wav -", "g.wav"},
  };
  for (const auto& c : cases) {
    Outcome f = run(c.toFile);
    ASSERT_EQ(f.status, 0) << c.toFile << ":\n" << f.err;
    Outcome s = run(c.toStdout);
    ASSERT_EQ(s.status, 0) << c.toStdout << ":\n" << s.err;
    const std::string file = slurp(path(c.file));
    EXPECT_GT(file.size(), 40u) << c.file;
    EXPECT_TRUE(s.out == file) << c.toStdout << ": " << s.out.size() << " bytes, the file " << file.size();
  }
  // Information read from standard input.
  Outcome r = run(Tunetool + " info - <" + xm);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("title            busy"), std::string::npos) << r.out;
  r = run(Samplecodec + " measure - <" + wav);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("samples 900"), std::string::npos) << r.out;
}

// A device, a FIFO or a link named as the output is written, never replaced by a new file;
// a regular file is replaced all at once through a unique temporary; the input itself is
// never an output.
TEST_F(ToolsCli, OutputsThatAreNotPlainFilesAreWrittenNotReplaced) {
  const std::string xm = write("song.xm", write_xm(xm::busy_module()));
  // A FIFO: the tool writes into it while cat reads it out.
  const std::string fifo = path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Outcome r = run("timeout 20 cat " + fifo + " >" + path("from_fifo") + " & " + Tunetool + " pack " + xm + " -o " + fifo +
                  "; wait");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat s;
  ASSERT_EQ(lstat(fifo.c_str(), &s), 0);
  EXPECT_TRUE(S_ISFIFO(s.st_mode)) << "the FIFO was replaced";
  r = run(Tunetool + " pack " + xm + " -o " + path("direct.packed"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("from_fifo")), slurp(path("direct.packed")));

  // A link: the file it names gets the output, the link stays a link.
  write("target.img", "old");
  fs::create_symlink("target.img", path("link.img"));
  r = run(Tunetool + " import " + xm + " -o " + path("link.img"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(path("link.img")));
  EXPECT_EQ(slurp(path("target.img")).substr(0, 3), std::string("QKB"));

  // A file named like an old temporary is left alone, and the output keeps its mode.
  write("out.img", "old");
  fs::permissions(path("out.img"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  write("out.img.part", "someone else's");
  write("out.img.tmp", "someone else's");
  r = run(Tunetool + " import " + xm + " -o " + path("out.img"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("out.img.part")), "someone else's");
  EXPECT_EQ(slurp(path("out.img.tmp")), "someone else's");
  EXPECT_EQ(fs::status(path("out.img")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // The input named as the output (also through a link) is refused and stays as it was.
  const std::string stream = write("sprite.m1v", slurp(std::string(MD_PICTURE_STREAMS) + "/sprite.m1v"));
  fs::create_symlink("sprite.m1v", path("sprite_link.m1v"));
  const std::string wav = write("ramp.wav", small_wav(1, 8, 600));
  for (const std::string& command :
       {Picturetool + " decode " + stream + " -o " + stream, Picturetool + " decode " + stream + " -o " + path("sprite_link.m1v"),
        Tunetool + " pack " + xm + " -o " + xm, Tunetool + " render " + wav + " -o " + wav,
        Samplecodec + " encode " + wav + " -o " + wav}) {
    const std::string before = slurp(stream) + slurp(xm) + slurp(wav);
    r = run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("is the input file itself"), std::string::npos) << command << ":\n" << r.err;
    EXPECT_EQ(slurp(stream) + slurp(xm) + slurp(wav), before) << command;
  }
  // Nothing else was left behind.
  EXPECT_EQ(listing(), (std::vector<std::string>{"direct.packed", "from_fifo", "link.img", "out.img", "out.img.part",
                                                 "out.img.tmp", "pipe", "ramp.wav", "song.xm", "sprite.m1v",
                                                 "sprite_link.m1v", "target.img"}));
}

// A PNG whose header claims 65535 x 65535 pixels is refused from its header: the encoder
// never takes the 17 GB its pixels would need (here it may take less than 1 GB at all).
TEST_F(ToolsCli, APictureTooLargeIsRefusedBeforeItsPixelsAreRead) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0,    0,   0xFF, 0xFF, 0, 0,    0xFF, 0xFF, 8, 2, 0, 0, 0};
  // The header's CRC, over type and data.
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 12; i < png.size(); ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int k = 3; k >= 0; --k) png.push_back(static_cast<uint8_t>(crc >> (8 * k)));
  // An empty compressed stream as the picture data, then the end.
  png.insert(png.end(), {0, 0, 0, 8, 'I', 'D', 'A', 'T', 0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 0x48, 0x06,
                         0x89, 0xD2, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  const std::string in = write("huge.png", png);
#ifdef MD_SANITIZED
  const std::string limit;  // the sanitizers reserve far more address space than this
#else
  const std::string limit = "ulimit -v 1000000; ";
#endif
  Outcome r = run(limit + Picturetool + " encode " + in + " -o " + path("huge.m1v"));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("the picture is 65535 x 65535; at most 4080 on either side"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("huge.m1v")));
}

// The sample codec on empty and odd input.
TEST_F(ToolsCli, SamplecodecHandlesEmptyStreamsAndRefusesWhatItCannotMeasure) {
  const std::string empty = write("empty.raw", std::vector<uint8_t>{});
  // A stream of no samples (a block count of 0) decodes to an empty file, and nothing else
  // is left. (Nothing to encode is refused: see FaultyInputsAreRefusedAndWriteNothing.)
  write("empty.stream", std::vector<uint8_t>(4, 0));
  Outcome r = run(Samplecodec + " decode " + path("empty.stream") + " -o " + path("empty.out"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("empty.out")));
  EXPECT_EQ(fs::file_size(path("empty.out")), 0u);
  EXPECT_EQ(listing(), (std::vector<std::string>{"empty.out", "empty.raw", "empty.stream"}));
  // Nothing to measure is said, not printed as nan.
  r = run(Samplecodec + " measure --raw " + empty);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no samples to measure"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
  r = run(Samplecodec + " measure " + write("empty.wav", small_wav(1, 16, 0)));
  EXPECT_EQ(r.status, 1);
  // Raw bytes are taken only when asked for.
  r = run(Samplecodec + " measure " + write("noise.raw", std::vector<uint8_t>(500, 7)));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a WAV file (give --raw"), std::string::npos) << r.err;
}

// WAV input of every PCM width, mono or stereo, codes the same 8-bit samples: the ramp
// written at 8, 16, 24 and 32 bits, and as two channels whose mean is the ramp.
TEST_F(ToolsCli, SamplecodecReadsWavFilesAsWav) {
  const std::string raw = path("ramp.raw");
  {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 900; ++i) bytes.push_back(static_cast<uint8_t>((i * 7) % 200 - 100));
    write("ramp.raw", bytes);
  }
  Outcome reference = run(Samplecodec + " encode --raw " + raw + " -o -");
  ASSERT_EQ(reference.status, 0) << reference.err;
  for (int bits : {8, 16, 24, 32}) {
    const std::string wav = write("ramp" + std::to_string(bits) + ".wav", small_wav(1, bits, 900));
    Outcome r = run(Samplecodec + " encode " + wav + " -o -");
    ASSERT_EQ(r.status, 0) << bits << ": " << r.err;
    EXPECT_TRUE(r.out == reference.out) << bits << "-bit WAV codes other samples than the raw ramp";
  }
  // Two channels: (v) and (v + 40) wrapped; the tool says it mixed them down.
  Outcome r = run(Samplecodec + " measure " + write("stereo.wav", small_wav(2, 16, 900)));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 channels mixed down to one"), std::string::npos) << r.err;
  r = run(Samplecodec + " -q measure " + path("stereo.wav"));
  EXPECT_TRUE(r.err.empty()) << r.err;
}

// The video: frames and sound through ffmpeg, checked with ffprobe; without ffmpeg the
// message names the package.
TEST_F(ToolsCli, CaptureWritesAVideoWithItsSound) {
  const fs::path empty = dir / "empty_path";
  fs::create_directories(empty);
  Outcome r = run("PATH=" + empty.string() + " " + Capture + " --seconds 0.2 --video " + path("none.mp4"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not installed (Debian package: ffmpeg)"), std::string::npos) << r.err;
  if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
    GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
  r = run(Capture + " --seconds 1 --fps 25 --scale 3 --video " + path("show.mkv"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run("ffprobe -v error -show_entries stream=codec_type,width,height,avg_frame_rate,sample_rate:format=duration "
          "-of default=noprint_wrappers=1 " + path("show.mkv"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"codec_type=video", "width=1200", "height=900", "avg_frame_rate=25/1", "codec_type=audio",
                           "sample_rate=44100"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  const size_t at = r.out.find("duration=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::stod(r.out.substr(at + 9)), 1.0, 0.1) << r.out;
  EXPECT_EQ(listing(), (std::vector<std::string>{"empty_path", "show.mkv"}));
}

// What the tools were found to trust: sizes, numbers and outputs. A row per fault: the command
// (in the test's folder, with $S the font strip and $T a tune), the exit status, a part of
// the message, and the files that must not be left (beyond the inputs each row makes).
TEST_F(ToolsCli, FaultyInputsAreRefusedAndWriteNothing) {
  write("empty.raw", std::vector<uint8_t>{});
  write("empty.wav", small_wav(1, 16, 0));
  std::vector<uint8_t> rateless = small_wav(1, 16, 100);
  std::fill(rateless.begin() + 24, rateless.begin() + 28, 0);  // the format chunk's rate
  write("rate0.wav", rateless);
  write("noise.raw", std::vector<uint8_t>(2000, 7));
  write("abc.txt", "abc\n");
  write("tail.txt", "1 2 abc\n");
  write("huge.txt", "1 99999999999999999999\n");
  write("odd.txt", "1 2 3\n");
  write("huge.png", png_declaring(1000000, 1000000));
  write("restart.score", "order p\nrestart 99999999999\npattern p\n... .. .. ...\nend\n");
  write("length.score", "order p\ninstrument a\n  synth hat length=0\nend\npattern p\n... .. .. ...\nend\n");
  ASSERT_EQ(run("truncate -s 1025M " + path("sparse.raw")).status, 0);
  // A stand-in ffmpeg that takes the frames and then ends with success, writing nothing.
  fs::create_directories(dir / "fake");
  write("fake/ffmpeg", "#!/bin/sh\ncase \"$*\" in *rawvideo*) cat >/dev/null;; esac\nexit 0\n");
  fs::permissions(dir / "fake" / "ffmpeg", fs::perms::owner_all);
  const std::string strip = Assets + "/font/font_strip.png", tune = Assets + "/tunes/01.xm";
  struct Row {
    std::string command;
    int status;
    std::string message;
    std::vector<std::string> absent;
  };
  const Row rows[] = {
      // Every input is read with a limit for its kind, also from a device that never ends.
      {Tunescore + " /dev/zero -o out.xm", 1, "cannot read /dev/zero: more than 16 MiB, the most a text may hold",
       {"out.xm"}},
      {Tunetool + " info /dev/zero", 1, "/dev/zero: more than 256 MiB, the most a module may hold", {}},
      {Picturetool + " encode /dev/zero -o out.m1v", 1, "more than 64 MiB, the most a picture may hold", {"out.m1v"}},
      {Embed + " text out.cpp /dev/zero Text", 1, "more than 16 MiB, the most a text may hold", {"out.cpp"}},
      {Samplecodec + " encode --raw sparse.raw -o out.s", 1, "sparse.raw: more than 1 GiB, the most a sound may hold",
       {"out.s"}},
      {Samplecodec + " measure --raw noise.raw --loops /dev/zero", 1, "more than 16 MiB", {}},
      // The score compiler's numbers.
      {Tunescore + " restart.score -o out.xm", 1, "restart.score:2:9: restart position 99999999999 outside 0..255",
       {"out.xm"}},
      {Tunescore + " length.score -o out.xm", 1, "length.score:3:20: length 0 outside 0.001..60", {"out.xm"}},
      // The font build steps: a strict last code, a picture's size from its header.
      {Embed + " font out.cpp " + strip + " 238x", 1, "bad last code '238x'", {"out.cpp"}},
      {Embed + " font out.cpp " + strip + " 4294967334", 1, "bad last code '4294967334'", {"out.cpp"}},
      {Embed + " font out.cpp huge.png 238", 1, "huge.png: the picture is 1000000 x 1000000; at most", {"out.cpp"}},
      {Fonttool + " text " + strip + " '\xe2\x82\xac' -o out.png", 1, "character U+20AC has no code page 437 code",
       {"out.png"}},
      // Nothing to code is not a stream; a loop list is read whole or refused.
      {Samplecodec + " encode --raw empty.raw -o out.s", 1, "empty.raw: no samples to encode", {"out.s"}},
      {Samplecodec + " encode empty.wav -o out.s", 1, "empty.wav: no samples to encode", {"out.s"}},
      {Samplecodec + " encode rate0.wav -o out.s", 1, "rate0.wav: the WAV file gives a rate of 0 Hz", {"out.s"}},
      {Samplecodec + " measure --raw noise.raw --loops abc.txt", 1, "abc.txt: \"abc\" is not a whole number", {}},
      {Samplecodec + " measure --raw noise.raw --loops tail.txt", 1, "tail.txt: \"abc\" is not a whole number", {}},
      {Samplecodec + " measure --raw noise.raw --loops huge.txt", 1, "\"99999999999999999999\" is not a whole", {}},
      {Samplecodec + " measure --raw noise.raw --loops odd.txt", 1, "odd.txt: loop 3 has no end", {}},
      // The capture tool: times in range, every output checked before anything is written.
      {Capture + " --at 4294968 --out frames", 2, "--at time '4294968' is not from 0 to 86400 seconds", {"frames"}},
      {Capture + " --at 1e300 --out frames", 2, "--at time '1e300' is not from 0 to 86400", {"frames"}},
      {Capture + " --keys 1e300:left", 2, "key time '1e300' is not from 0 to 86400", {}},
      {Capture + " --seconds 0.1 --png-every 1 --out frames --wav nowhere/out.wav", 1,
       "cannot write nowhere/out.wav: No such file or directory", {"frames"}},
      {"PATH=" + path("fake") + "-none " + Capture + " --seconds 0.1 --png-every 1 --out frames --video out.mkv", 1,
       "needs the ffmpeg program, which is not installed", {"frames"}},
      {"PATH=" + path("fake") + ":$PATH " + Capture + " --seconds 0.1 --video out.mkv", 1,
       "cannot write out.mkv: ffmpeg ended without writing it", {"out.mkv"}},
  };
  const std::vector<std::string> before = listing();
  for (const Row& row : rows) {
    const Outcome r = run("cd " + dir.string() + " && " + row.command);
    EXPECT_EQ(r.status, row.status) << row.command << "\n" << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << row.command << "\n" << r.err;
    for (const std::string& name : row.absent) EXPECT_FALSE(fs::exists(path(name))) << name << " after " << row.command;
    EXPECT_EQ(listing(), before) << "left behind by " << row.command;
  }
}

// Outputs that are not plain files are written, never replaced, by the build steps too.
TEST_F(ToolsCli, BuildStepsWriteIntoAFifo) {
  const std::string text = write("text.txt", "Hi\n");
  for (const std::string& step : {Embed + " font " + path("fifo") + " " + Assets + "/font/font_strip.png 238",
                                  Embed + " text " + path("fifo") + " " + text + " Text"}) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const Outcome r = run("timeout 60 cat " + path("fifo") + " > " + path("got") + " & " + step + "; wait");
    EXPECT_EQ(r.status, 0) << step << "\n" << r.err;
    struct stat s;
    ASSERT_EQ(lstat(path("fifo").c_str(), &s), 0);
    EXPECT_TRUE(S_ISFIFO(s.st_mode)) << step << " replaced the FIFO";
    EXPECT_NE(slurp(path("got")).find("not edited by hand"), std::string::npos) << step;
    fs::remove(path("fifo"));
  }
}

// Ended by a signal, a tool takes its unfinished outputs with it: tunetool's temporary beside
// the WAV, the capture tool's folder of frames and sound for a video.
TEST_F(ToolsCli, OutputsInTheMakingAreRemovedOnSigintAndSigterm) {
  struct Row {
    std::string command;  // run in the test's folder
    std::string appears;  // a pattern, in the folder, that shows the work has begun
    int signal;
  };
  const std::string render = Tunetool + " -q render " + Assets + "/tunes/01.xm -o out.wav --seconds 20000";
  std::vector<Row> rows = {{render, ".out.wav.*", SIGTERM}, {render, ".out.wav.*", SIGINT}};
  if (std::system("command -v ffmpeg >/dev/null") == 0)
    rows.push_back({"env TMPDIR=" + dir.string() + " " + Capture + " --seconds 3600 --video out.mkv",
                    "musicdisk-capture-*/frames.mkv", SIGINT});
  for (const Row& row : rows) {
    // Started straight (not as a shell's background job, which would ignore SIGINT).
    const std::string line = "cd " + dir.string() + " && exec " + row.command;
    const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
    const std::string pattern = (dir / row.appears).string();
    bool began = false;
    for (int i = 0; i < 1200 && !began; ++i) {
      glob_t found{};
      began = glob(pattern.c_str(), 0, nullptr, &found) == 0;
      globfree(&found);
      if (!began) usleep(100000);
    }
    EXPECT_TRUE(began) << row.command << ": " << row.appears << " never appeared";
    kill(pid, row.signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << row.command << ": status " << status;
    EXPECT_EQ(listing(), std::vector<std::string>{}) << row.command << " left these after signal " << row.signal;
  }
}
