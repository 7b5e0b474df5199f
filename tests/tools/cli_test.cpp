// Every tool and the program as a user runs them: the shared conventions (--help, --version,
// exit statuses, - for standard input and output), bad input refused by name with nothing
// written, and outputs that are not plain files (folders, pipes, links, the input itself).
#include <glob.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_run.h"
#include "tools/xm_import/xm_import.h"
#include "tools/xm_import/xm_tunes.h"

namespace {

namespace fs = std::filesystem;
using ToolsCli = ToolTest;

const std::string Tunetool = TUNETOOL_EXE, Picturetool = PICTURETOOL_EXE, Samplecodec = SAMPLECODEC_EXE,
                  Capture = CAPTURE_EXE, Tunescore = TUNESCORE_EXE, Embed = EMBED_EXE, Fonttool = FONTTOOL_EXE,
                  Fontrender = FONTRENDER_EXE;
const std::string Assets = std::string(MD_SOURCE_DIR) + "/assets";
const std::string Strip = Assets + "/font/font_strip.png";

// A WAV of a ramp: value (7 i + 40 c) % 200 - 100 in 8-bit units for frame i, channel c;
// with `extra` bytes of another chunk (and its pad byte when odd) before the data.
std::vector<uint8_t> small_wav(int channels, int bits, int frames, uint32_t extra = 0) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const int width = bits / 8;
  const auto data = static_cast<uint32_t>(frames * channels * width);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + data + (extra ? 8 + extra + (extra & 1) : 0), 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  for (uint32_t v : {16u, 1u | static_cast<uint32_t>(channels) << 16, 22050u,
                     static_cast<uint32_t>(22050 * channels * width),
                     static_cast<uint32_t>(channels * width) | static_cast<uint32_t>(bits) << 16})
    put(v, 4);
  if (extra) {
    b.insert(b.end(), {'L', 'I', 'S', 'T'});
    put(extra, 4);
    b.insert(b.end(), extra + (extra & 1), 'x');
  }
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const int v = (i * 7 + c * 40) % 200 - 100;
      if (bits == 8) put(static_cast<uint32_t>(v + 128), 1);  // 8-bit WAV is unsigned
      else put(static_cast<uint32_t>(v) << (bits - 8), width);
    }
  return b;
}

// A PNG of only its header and an empty picture chunk, declaring any size.
std::vector<uint8_t> png_declaring(uint32_t width, uint32_t height) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto be32 = [&](uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto chunk = [&](const char* type, std::vector<uint8_t> data) {
    be32(static_cast<uint32_t>(data.size()));
    data.insert(data.begin(), type, type + 4);
    uint32_t crc = 0xFFFFFFFF;  // the CRC-32 of the type and data, bit by bit
    for (uint8_t byte : data) {
      crc ^= byte;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    b.insert(b.end(), data.begin(), data.end());
    be32(crc ^ 0xFFFFFFFF);
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

// --help on standard output with exit 0, --version with CMake's version, an unknown option
// a usage error (exit 2) with a hint on standard error: the same for every tool and the program.
TEST_F(ToolsCli, EveryToolSharesHelpVersionAndUsageErrors) {
  std::vector<std::pair<std::string, std::string>> tools = {
      {Tunetool, "tunetool"}, {Picturetool, "picturetool"}, {Samplecodec, "samplecodec"},
      {Capture, "musicdisk-capture"}, {Tunescore, "tunescore"}, {Embed, "md-embed"}, {Fonttool, "fonttool"},
      {Fontrender, "fontrender"}};
#ifdef MUSICDISK_EXE
  tools.push_back({MUSICDISK_EXE, "musicdisk"});
#endif
  for (const auto& [exe, name] : tools) {
    ToolRun r = run(exe + " --help");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_NE(r.out.find("usage: " + name), std::string::npos) << name << ":\n" << r.out;
    EXPECT_TRUE(r.err.empty()) << name;
    EXPECT_EQ(run(exe + " -h").out, r.out) << name;
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
  const ToolRun r = run(std::string(MUSICDISK_EXE) + " --help");
  for (const char* key : {"Escape", "Alt+Enter", "Enter", "Left, Right", "Up, Down"})
    EXPECT_NE(r.out.find(key), std::string::npos) << key;
#endif
}

// What the tools were found to trust: sizes, numbers, names and outputs. A row per fault:
// the command (run in the test's folder), the exit status (2 a usage error, 1 a failure) and
// a part of the message. No row leaves anything behind.
TEST_F(ToolsCli, FaultyInputsAreRefusedByNameAndWriteNothing) {
  write("song.xm", write_xm(xm::busy_module()));
  std::vector<uint8_t> bytes = write_xm(xm::busy_module());
  bytes.resize(200);  // cut in the module header
  write("cut.xm", bytes);
  XmModule large = xm::busy_module();
  large.instruments[0].samples[0] = xm::sine_sample(420000, false, 0);
  write("large.xm", write_xm(large));
  write("junk", std::string("\1\2\3\4\5"));
  write("bad.img", std::string("QKB\0\1\2", 6));
  write("empty.raw", std::string());
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
  write("giant.png", png_declaring(65535, 65535));
  write("restart.score", "order p\nrestart 99999999999\npattern p\n... .. .. ...\nend\n");
  write("euro.txt", "ok\nbad \xe2\x82\xac here");
  write("plusminus.txt", "x \xc2\xb1");
  write("tab.txt", "a\tb");
  write("cut.txt", "ab\xc3");
  write("blank.txt", "\n\n");
  fs::create_directories(dir / "folder");
  ASSERT_EQ(run("truncate -s 1025M sparse.raw").status, 0);
  // A stand-in ffmpeg that takes the frames and then ends with success, writing nothing.
  fs::create_directories(dir / "fake");
  write("fake/ffmpeg", "#!/bin/sh\ncase \"$*\" in *rawvideo*) cat >/dev/null;; esac\nexit 0\n");
  fs::permissions(dir / "fake" / "ffmpeg", fs::perms::owner_all);
  const std::string nowhere = "no/such/folder/out";
#ifdef MD_SANITIZED
  const std::string memoryLimit;  // the sanitizers reserve far more address space than this
#else
  const std::string memoryLimit = "ulimit -v 1000000; ";
#endif
  struct Row {
    std::string command;
    int status;
    std::string message;
  };
  const Row rows[] = {
      // Usage: commands, options and their numbers.
      {Tunetool, 2, "tunetool: no command given"},
      {Tunetool + " frobnicate", 2, "unknown command"},
      {Tunetool + " info", 2, "usage: tunetool info"},
      {Tunetool + " import song.xm", 2, "usage: tunetool import"},
      {Tunetool + " info song.xm -o out", 2, "info takes no --output"},
      {Tunetool + " render song.xm --seconds x -o out.wav", 2, "is not a number of seconds"},
      {Tunetool + " render song.xm --seconds 1 --loops 2 -o out.wav", 2, "exclude each other"},
      {Tunetool + " render song.xm --loops 0 -o out.wav", 2, "not a number of passes from 1 to 100"},
      {Tunetool + " render song.xm --rate 1000 -o out.wav", 2, "is not a sample rate"},
      {Tunetool + " render song.xm -o out.flac", 2, ".flac output is not made here"},
      {Tunetool + " render song.xm -o out.mp4", 2, "must end in .wav"},
      {Tunetool + " pack song.xm -o out --quality 0", 2, "not a level 1..9"},
      {Picturetool + " encode", 2, "picturetool:"},
      {Samplecodec, 2, "samplecodec:"},
      {Samplecodec + " measure ramp.wav -o y", 2, "samplecodec:"},
      {Samplecodec + " encode noise.raw --raw -o y --bit-cost inf", 2, "samplecodec:"},
      {Samplecodec + " encode noise.raw --raw -o y --bit-cost nan", 2, "samplecodec:"},
      {Capture + " stray", 2, "unexpected argument 'stray'"},
      {Capture + " --seconds", 2, "--seconds needs a value"},
      {Capture + " --seconds abc", 2, "bad --seconds 'abc'"},
      {Capture + " --seconds -1", 2, "--seconds must be above 0"},
      {Capture + " --png-every 0 --out frames", 2, "--png-every must be a whole number"},
      {Capture + " --png-every 5", 2, "need --out DIR"},
      {Capture + " --keys 1:jump", 2, "unknown key 'jump'"},
      {Capture + " --keys 1", 2, "bad key '1'"},
      {Capture + " --video out.mp4 --scale 0", 2, "--scale must be a whole number from 1 to 8"},
      {Capture + " --at 4294968 --out frames", 2, "--at time '4294968' is not from 0 to 86400 seconds"},
      {Capture + " --keys 1e300:left", 2, "key time '1e300' is not from 0 to 86400"},
      {Fonttool + " text " + Strip + " x --bar tuna -o out.png", 2, "--bar takes tune or link"},
      {Fonttool + " text " + Strip + " x --scale 9 -o out.png", 2, "--scale takes 1 to 8"},
      {Fontrender + " /nonexistent.ttf --size 99 -o out.png", 2, "--size takes 6 to 64"},
      {Embed + " pictures out.cpp a=b", 2, "unknown mode \"pictures\""},
      {Embed + " bytes out.cpp song.xm", 2, "'song.xm' is not NAME=FILE"},
      {Embed + " tunes out.cpp song.xm", 2, "tunes takes the 13 packed tunes, not 1"},
      // Files that cannot be read or written, named with the system's reason.
      {Tunetool + " info missing.xm", 1, "cannot read missing.xm: No such file or directory"},
      {Tunetool + " import song.xm -o " + nowhere, 1, "cannot write " + nowhere + ": No such file or directory"},
      {Tunetool + " render song.xm --seconds 0.1 -o " + nowhere + ".wav", 1, "cannot write " + nowhere + ".wav: No such"},
      {Tunetool + " pack song.xm -o folder", 1, "cannot write folder: Is a directory"},
      {Picturetool + " encode " + Assets + "/pictures/sprite.png -o " + nowhere, 1, "cannot write " + nowhere + ": No"},
      {Picturetool + " decode missing.m1v -o x.png", 1, "cannot read missing.m1v: No such file or directory"},
      {Samplecodec + " encode noise.raw --raw -o " + nowhere, 1, "cannot write " + nowhere + ": No such file"},
      {Capture + " --seconds 0.1 --wav " + nowhere, 1, "cannot write " + nowhere + ": No such file or directory"},
      {Capture + " --seconds 0.1 --png-every 1 --out frames --wav " + nowhere, 1, "cannot write " + nowhere + ": No"},
      {Embed + " text out.cpp missing.txt Text", 1, "cannot read missing.txt: No such file or directory"},
      // A folder as the input (it aborted the tools with an uncaught exception).
      {Tunetool + " info folder", 1, "folder: Is a directory"},
      {Tunetool + " render folder -o x.wav", 1, "folder: Is a directory"},
      {Picturetool + " decode folder -o x.png", 1, "folder: Is a directory"},
      {Picturetool + " encode folder -o x", 1, "folder: Is a directory"},
      {Samplecodec + " decode folder -o x", 1, "folder: Is a directory"},
      {Samplecodec + " measure folder", 1, "folder: Is a directory"},
      {Tunescore + " folder -o x.xm", 1, "folder: Is a directory"},
      {Embed + " bytes out.cpp A=folder", 1, "folder: Is a directory"},
      // Every input is read with a limit for its kind, also from a device that never ends.
      {Tunescore + " /dev/zero -o out.xm", 1, "cannot read /dev/zero: more than 16 MiB, the most a text may hold"},
      {Tunetool + " info /dev/zero", 1, "/dev/zero: more than 256 MiB, the most a module may hold"},
      {Picturetool + " encode /dev/zero -o out.m1v", 1, "more than 64 MiB, the most a picture may hold"},
      {Embed + " text out.cpp /dev/zero Text", 1, "more than 16 MiB, the most a text may hold"},
      // A file's size is checked before its bytes take any memory.
      {memoryLimit + Samplecodec + " encode --raw sparse.raw -o out.s", 1, "sparse.raw: more than 1 GiB, the most a"},
      {Samplecodec + " measure --raw noise.raw --loops /dev/zero", 1, "more than 16 MiB"},
      // A picture's size is taken from its header, before its pixels take any memory.
      {memoryLimit + Picturetool + " encode giant.png -o out.m1v", 1, "the picture is 65535 x 65535; at most 4080"},
      {Embed + " font out.cpp huge.png 238", 1, "huge.png: the picture is 1000000 x 1000000; at most"},
      // Modules and tunes.
      {Tunetool + " import cut.xm -o out", 1, "truncated header"},
      {Tunetool + " info junk", 1, "neither an extended module, a module image nor a packed tune"},
      {Tunetool + " validate bad.img", 1, "invalid module image"},
      {Tunetool + " pack large.xm -o out", 1, "more than the 409600 of a tune's buffer"},
      {Tunetool + " render song.xm --seconds 24348 -o out.wav", 1, "more than a WAV file can hold (4 GiB, about 24347 s)"},
      {Tunetool + " render song.xm --seconds 12174 --rate 88200 -o out.wav", 1, "more than a WAV file can hold"},
      {Tunescore + " restart.score -o out.xm", 1, "restart.score:2:9: restart position 99999999999 outside 0..255"},
      // Samples: nothing to code is not a stream; a loop list is read whole or refused.
      {Samplecodec + " encode --raw empty.raw -o out.s", 1, "empty.raw: no samples to encode"},
      {Samplecodec + " encode empty.wav -o out.s", 1, "empty.wav: no samples to encode"},
      {Samplecodec + " measure --raw empty.raw", 1, "no samples to measure"},
      {Samplecodec + " measure noise.raw", 1, "not a WAV file (give --raw"},
      {Samplecodec + " encode rate0.wav -o out.s", 1, "rate0.wav: the WAV file gives a rate of 0 Hz"},
      {Samplecodec + " measure --raw noise.raw --loops abc.txt", 1, "abc.txt: \"abc\" is not a whole number"},
      {Samplecodec + " measure --raw noise.raw --loops tail.txt", 1, "tail.txt: \"abc\" is not a whole number"},
      {Samplecodec + " measure --raw noise.raw --loops huge.txt", 1, "\"99999999999999999999\" is not a whole"},
      {Samplecodec + " measure --raw noise.raw --loops odd.txt", 1, "odd.txt: loop 3 has no end"},
      // The font and the texts: a strict last code, characters the code page or the font lacks.
      {Embed + " font out.cpp " + Strip + " 238x", 1, "bad last code '238x'"},
      {Embed + " font out.cpp " + Strip + " 4294967334", 1, "bad last code '4294967334'"},
      {Embed + " text out.cpp euro.txt Text", 1, "euro.txt:2:5: character U+20AC has no code page 437 code"},
      {Embed + " text out.cpp plusminus.txt Text", 1, ":1:3: character U+00B1 (code 241) has no glyph in the font"},
      {Embed + " text out.cpp tab.txt Text", 1, "tab.txt:1:2: control character 9"},
      {Embed + " text out.cpp cut.txt Text", 1, "cut.txt:1:3: not UTF-8"},
      {Embed + " text out.cpp blank.txt Text", 1, "the text needs at least one character to show"},
      {Fonttool + " text " + Strip + " '\xe2\x82\xac' -o out.png", 1, "character U+20AC has no code page 437 code"},
      {Fonttool + " text " + Strip + " 'WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW' -o out.png", 1, "more than the row's 400"},
      {Fontrender + " /nonexistent.ttf -o out.png", 1, "/nonexistent.ttf: not a font FreeType can read"},
      // The capture tool's video: every output checked before anything is written.
      {"PATH=" + path("fake") + "-none " + Capture + " --seconds 0.1 --png-every 1 --out frames --video out.mkv", 1,
       "needs the ffmpeg program, which is not installed (Debian package: ffmpeg)"},
      {"PATH=" + path("fake") + ":$PATH " + Capture + " --seconds 0.1 --video out.mkv", 1,
       "cannot write out.mkv: ffmpeg ended without writing it"},
  };
  const std::vector<std::string> before = listing();
  for (const Row& row : rows) {
    const ToolRun r = run(row.command);
    EXPECT_EQ(r.status, row.status) << row.command << "\n" << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << row.command << "\n" << r.err;
    EXPECT_EQ(listing(), before) << "left behind by " << row.command;
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
      {Tunetool + " render song.xm --seconds 0.3 -o a.wav", Tunetool + " render - --seconds 0.3 -o - < song.xm", "a.wav"},
      {Tunetool + " render song.xm -o p.wav", Tunetool + " render song.xm -o -", "p.wav"},
      {Tunetool + " pack song.xm -o b.packed", "cat song.xm | " + Tunetool + " pack - -o -", "b.packed"},
      {Tunetool + " import song.xm -o c.img", Tunetool + " import song.xm -o -", "c.img"},
      {Picturetool + " encode " + png + " -o d.m1v", Picturetool + " encode - -o - <" + png, "d.m1v"},
      {Picturetool + " decode " + stream + " -o e.png", "cat " + stream + " | " + Picturetool + " decode - -o -", "e.png"},
      {Samplecodec + " encode ramp.wav -o f.stream", Samplecodec + " encode - -o - < ramp.wav", "f.stream"},
      {Capture + " --seconds 0.2 --wav g.wav", Capture + " --seconds 0.2 --wav -", "g.wav"},
  };
  for (const auto& c : cases) {
    const ToolRun f = run(c.toFile);
    ASSERT_EQ(f.status, 0) << c.toFile << ":\n" << f.err;
    const ToolRun s = run(c.toStdout);
    ASSERT_EQ(s.status, 0) << c.toStdout << ":\n" << s.err;
    const std::string file = slurp(path(c.file));
    EXPECT_GT(file.size(), 40u) << c.file;
    EXPECT_TRUE(s.out == file) << c.toStdout << ": " << s.out.size() << " bytes, the file " << file.size();
  }
  ToolRun r = run(Tunetool + " info - < song.xm");
  EXPECT_NE(r.out.find("title            busy"), std::string::npos) << r.err;
  r = run(Samplecodec + " measure - < ramp.wav");
  EXPECT_NE(r.out.find("samples 900"), std::string::npos) << r.err;
}

// A device, a FIFO or a link named as the output is written, never replaced by a new file;
// a regular file is replaced all at once through a unique temporary and keeps its mode; the
// input itself is never an output.
TEST_F(ToolsCli, OutputsThatAreNotPlainFilesAreWrittenNotReplaced) {
  const std::string xm = write("song.xm", write_xm(xm::busy_module()));
  const std::string text = write("text.txt", "Hi\n");
  // A FIFO: the tool writes into it while cat reads it out; the same bytes as into a file.
  for (const std::string& command : {Tunetool + " pack song.xm -o ", Embed + " font % " + Strip + " 238",
                                     Embed + " text % text.txt Text"}) {
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    auto to = [&](const std::string& output) {
      std::string line = command;
      const size_t at = line.find('%');
      return at == std::string::npos ? line + output : line.replace(at, 1, output);
    };
    ToolRun r = run("timeout 60 cat pipe > from_pipe & " + to("pipe") + "; wait");
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    struct stat s;
    ASSERT_EQ(lstat(path("pipe").c_str(), &s), 0);
    EXPECT_TRUE(S_ISFIFO(s.st_mode)) << command << " replaced the FIFO";
    ASSERT_EQ(run(to("direct")).status, 0) << command;
    EXPECT_EQ(slurp(path("from_pipe")), slurp(path("direct"))) << command;
    for (const char* name : {"pipe", "from_pipe", "direct"}) fs::remove(path(name));
  }

  // A link: the file it names gets the output, the link stays a link.
  write("target.img", "old");
  fs::create_symlink("target.img", path("link.img"));
  ToolRun r = run(Tunetool + " import song.xm -o link.img");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(path("link.img")));
  EXPECT_EQ(slurp(path("target.img")).substr(0, 3), std::string("QKB"));

  // A file named like an old temporary is left alone, and the output keeps its mode.
  write("out.img", "old");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path("out.img"), mode);
  write("out.img.part", "someone else's");
  write("out.img.tmp", "someone else's");
  r = run(Tunetool + " import song.xm -o out.img");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("out.img.part")) + slurp(path("out.img.tmp")), "someone else'ssomeone else's");
  EXPECT_EQ(fs::status(path("out.img")).permissions() & fs::perms::all, mode);

  // The input named as the output (also through a link) is refused and stays as it was.
  write("sprite.m1v", slurp(std::string(MD_PICTURE_STREAMS) + "/sprite.m1v"));
  fs::create_symlink("sprite.m1v", path("sprite_link.m1v"));
  write("ramp.wav", small_wav(1, 8, 600));
  for (const std::string& command :
       {Picturetool + " decode sprite.m1v -o sprite.m1v", Picturetool + " decode sprite.m1v -o sprite_link.m1v",
        Tunetool + " pack song.xm -o song.xm", Tunetool + " render ramp.wav -o ramp.wav",
        Samplecodec + " encode ramp.wav -o ramp.wav", Tunescore + " text.txt -o text.txt"}) {
    const std::string before = slurp(path("sprite.m1v")) + slurp(xm) + slurp(path("ramp.wav")) + slurp(text);
    r = run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("is the input file itself"), std::string::npos) << command << ":\n" << r.err;
    EXPECT_EQ(slurp(path("sprite.m1v")) + slurp(xm) + slurp(path("ramp.wav")) + slurp(text), before) << command;
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"link.img", "out.img", "out.img.part", "out.img.tmp", "ramp.wav",
                                                 "song.xm", "sprite.m1v", "sprite_link.m1v", "target.img", "text.txt"}));
}

// The sample codec reads WAV input of every PCM width, mono or stereo, as the same 8-bit
// samples: the ramp written at 8, 16, 24 and 32 bits, and after a chunk of odd length (whose
// pad byte is skipped), codes as the raw ramp does. A stream of no samples decodes to an
// empty file.
TEST_F(ToolsCli, SamplecodecReadsEveryWavWidthAndEmptyStreams) {
  std::string raw;
  for (int i = 0; i < 900; ++i) raw += static_cast<char>((i * 7) % 200 - 100);
  write("ramp.raw", raw);
  const ToolRun reference = run(Samplecodec + " encode --raw ramp.raw -o -");
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::pair<int, uint32_t> wavs[] = {{8, 0}, {16, 0}, {24, 0}, {32, 0}, {16, 3}};
  for (const auto& [bits, extra] : wavs) {
    write("ramp.wav", small_wav(1, bits, 900, extra));
    const ToolRun r = run(Samplecodec + " encode ramp.wav -o -");
    ASSERT_EQ(r.status, 0) << bits << ": " << r.err;
    EXPECT_TRUE(r.out == reference.out) << bits << "-bit WAV (" << extra << " bytes of another chunk) codes other "
                                        << "samples than the raw ramp";
  }
  write("stereo.wav", small_wav(2, 16, 900));
  ToolRun r = run(Samplecodec + " measure stereo.wav");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 channels mixed down to one"), std::string::npos) << r.err;
  EXPECT_TRUE(run(Samplecodec + " -q measure stereo.wav").err.empty());
  write("empty.stream", std::string(4, '\0'));
  r = run(Samplecodec + " decode empty.stream -o empty.out");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("empty.out")), "");
}

// The video: frames and sound through ffmpeg, checked with ffprobe.
TEST_F(ToolsCli, CaptureWritesAVideoWithItsSound) {
  if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
    GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
  ToolRun r = run(Capture + " --seconds 1 --fps 25 --scale 3 --video show.mkv");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run("ffprobe -v error -show_entries stream=codec_type,width,height,avg_frame_rate,sample_rate:format=duration "
          "-of default=noprint_wrappers=1 show.mkv");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"codec_type=video", "width=1200", "height=900", "avg_frame_rate=25/1", "codec_type=audio",
                           "sample_rate=44100"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  const size_t at = r.out.find("duration=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::stod(r.out.substr(at + 9)), 1.0, 0.1) << r.out;
  EXPECT_EQ(listing(), (std::vector<std::string>{"show.mkv"}));
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
