// Every tool and the program as a user runs them: the shared conventions (--help, --version,
// exit statuses, - for standard input and output), bad input refused by name with nothing
// written, and outputs that are not plain files (folders, pipes, links, the input itself).
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

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
std::string small_wav(uint32_t channels, uint32_t bits, int frames, uint32_t extra = 0) {
  const auto put = [](std::string& to, uint32_t v, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) to += static_cast<char>(v >> (8 * i));
  };
  std::string data, wav = "WAVEfmt ";
  for (int i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c) {
      const int v = (i * 7 + static_cast<int>(c) * 40) % 200 - 100;
      put(data, bits == 8 ? v + 128 : static_cast<uint32_t>(v) << (bits - 8), bits / 8);  // 8-bit WAV is unsigned
    }
  const uint32_t block = channels * bits / 8;
  for (uint32_t v : {16u, 1u | channels << 16, 22050u, 22050 * block, block | bits << 16}) put(wav, v, 4);
  if (extra) {
    wav += "LIST";
    put(wav, extra, 4);
    wav.append(extra + (extra & 1), 'x');
  }
  wav += "data";
  put(wav, static_cast<uint32_t>(data.size()), 4);
  std::string riff = "RIFF";
  put(riff, static_cast<uint32_t>(wav.size() + data.size()), 4);
  return riff + wav + data;
}

// A picture whose header declares `width` x `height`: the sprite's PNG with its header
// rewritten (and its CRC mended), its pixel data left as it was.
std::string png_declaring(uint32_t width, uint32_t height) {
  std::string png = slurp(Assets + "/pictures/sprite.png");
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);  // type and data
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
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
}

// What the tools were found to trust: sizes, numbers, names and outputs. A row per fault:
// the command (run in the test's folder, with `input` as the file "in" when given), the exit
// status (2 a usage error, 1 a failure) and a part of the message. No row leaves anything behind.
TEST_F(ToolsCli, FaultyInputsAreRefusedByNameAndWriteNothing) {
  write("song.xm", write_xm(xm::busy_module()));
  write("empty.raw", std::string());
  std::string rateless = small_wav(1, 16, 100);
  rateless.replace(24, 4, 4, '\0');  // the format chunk's rate
  write("rate0.wav", rateless);
  write("noise.raw", std::vector<uint8_t>(2000, 7));
  write("giant.png", png_declaring(65535, 65535));
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
    const char* input = nullptr;
  };
  const Row rows[] = {
      // Usage: commands, options and their numbers.
      {Tunetool + " render song.xm --loops 0 -o out.wav", 2, "not a number of passes from 1 to 100"},
      {Samplecodec + " encode noise.raw --raw -o y --bit-cost inf", 2, "samplecodec:"},
      {Capture + " --seconds abc", 2, "bad --seconds 'abc'"},
      {Capture + " --keys 1:jump", 2, "unknown key 'jump'"},
      {Capture + " --at 4294968 --out frames", 2, "--at time '4294968' is not from 0 to 86400 seconds"},
      {Fonttool + " text " + Strip + " x --scale 9 -o out.png", 2, "--scale takes 1 to 8"},
      // Files that cannot be read or written, named with the system's reason; a folder as the
      // input (it aborted the tools with an uncaught exception). Every output is checked
      // before any is written.
      {Tunetool + " render song.xm --seconds 0.1 -o " + nowhere + ".wav", 1, "cannot write " + nowhere + ".wav: No such"},
      {Tunetool + " pack song.xm -o folder", 1, "cannot write folder: Is a directory"},
      {Tunetool + " info folder", 1, "folder: Is a directory"},
      {Capture + " --seconds 0.1 --png-every 1 --out frames --wav " + nowhere, 1, "cannot write " + nowhere + ": No"},
      // Every input is read with a limit for its kind, also from a device that never ends; a
      // file's size, and a picture's from its header, are checked before they take any memory.
      {Tunetool + " info /dev/zero", 1, "/dev/zero: more than 256 MiB, the most a module may hold"},
      {memoryLimit + Samplecodec + " encode --raw sparse.raw -o out.s", 1, "sparse.raw: more than 1 GiB, the most a"},
      {memoryLimit + Picturetool + " encode giant.png -o out.m1v", 1, "the picture is 65535 x 65535; at most 4080"},
      // Modules and the length of a render.
      {Tunetool + " info in", 1, "neither an extended module, a module image nor a packed tune", "\1\2\3\4\5"},
      {Tunetool + " render song.xm --seconds 24348 -o out.wav", 1, "more than a WAV file can hold (4 GiB, about 24347 s)"},
      {Tunetool + " render song.xm --seconds 12174 --rate 88200 -o out.wav", 1, "more than a WAV file can hold"},
      // Samples: nothing to code is not a stream; a loop list is read whole or refused.
      {Samplecodec + " encode --raw empty.raw -o out.s", 1, "empty.raw: no samples to encode"},
      {Samplecodec + " encode rate0.wav -o out.s", 1, "rate0.wav: the WAV file gives a rate of 0 Hz"},
      {Samplecodec + " measure --raw noise.raw --loops in", 1, "\"99999999999999999999\" is not a whole", "1 99999999999999999999\n"},
      {Samplecodec + " measure --raw noise.raw --loops in", 1, "in: loop 3 has no end", "1 2 3\n"},
      // The texts: characters the code page or the font lacks, and a text with nothing to show.
      {Embed + " text out.cpp in Text", 1, "in:2:5: character U+20AC has no code page 437 code", "ok\nbad \xe2\x82\xac here"},
      {Embed + " text out.cpp in Text", 1, "in:1:3: character U+00B1 (code 241) has no glyph in the font", "x \xc2\xb1"},
      {Embed + " text out.cpp in Text", 1, "in:1:3: not UTF-8", "ab\xc3"},
      {Embed + " text out.cpp in Text", 1, "the text needs at least one character to show", "\n\n"},
      {Fonttool + " text " + Strip + " 'WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW' -o out.png", 1, "more than the row's 400"},
      // The capture tool's video: ffmpeg missing, or ending with success having written nothing.
      {"PATH=" + path("fake") + "-none " + Capture + " --seconds 0.1 --png-every 1 --out frames --video out.mkv", 1,
       "needs the ffmpeg program, which is not installed (Debian package: ffmpeg)"},
      {"PATH=" + path("fake") + ":$PATH " + Capture + " --seconds 0.1 --video out.mkv", 1,
       "cannot write out.mkv: ffmpeg ended without writing it"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    if (row.input) write("in", row.input);
    const std::vector<std::string> before = listing();
    const ToolRun r = run(row.command);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_EQ(listing(), before) << "something was left behind";
  }
}

// -o - writes to standard output exactly what a file would hold; - as the input reads
// standard input.
TEST_F(ToolsCli, DashIsStandardInputAndOutput) {
  write("song.xm", write_xm(xm::busy_module()));
  const struct {
    std::string toFile, toStdout, file;
  } cases[] = {
      {Tunetool + " render song.xm --seconds 0.3 -o a.wav", Tunetool + " render - --seconds 0.3 -o - < song.xm", "a.wav"},
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
}

// A FIFO or a link named as the output is written, never replaced by a new file; a regular
// file is replaced all at once through a unique temporary and keeps its mode; the input
// itself is never an output.
TEST_F(ToolsCli, OutputsThatAreNotPlainFilesAreWrittenNotReplaced) {
  write("song.xm", write_xm(xm::busy_module()));
  // A FIFO: the tool writes into it while cat reads it out; the same bytes as into a file.
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  ToolRun r = run("timeout 60 cat pipe > from_pipe & " + Tunetool + " pack song.xm -o pipe; wait");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat s;
  ASSERT_EQ(lstat(path("pipe").c_str(), &s), 0);
  EXPECT_TRUE(S_ISFIFO(s.st_mode)) << "the FIFO was replaced";
  ASSERT_EQ(run(Tunetool + " pack song.xm -o direct").status, 0);
  EXPECT_EQ(slurp(path("from_pipe")), slurp(path("direct")));
  for (const char* name : {"pipe", "from_pipe", "direct"}) fs::remove(path(name));

  // A link: the file it names gets the output, the link stays a link.
  write("target.img", "old");
  fs::create_symlink("target.img", path("link.img"));
  r = run(Tunetool + " import song.xm -o link.img");
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
  const auto inputs = [&] { return slurp(path("sprite.m1v")) + slurp(path("song.xm")) + slurp(path("ramp.wav")); };
  const std::string before = inputs();
  for (const std::string& command : {Picturetool + " decode sprite.m1v -o sprite_link.m1v",
                                     Tunetool + " pack song.xm -o song.xm", Samplecodec + " encode ramp.wav -o ramp.wav"}) {
    r = run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("is the input file itself"), std::string::npos) << command << ":\n" << r.err;
    EXPECT_EQ(inputs(), before) << command;
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"link.img", "out.img", "out.img.part", "out.img.tmp", "ramp.wav",
                                                 "song.xm", "sprite.m1v", "sprite_link.m1v", "target.img"}));
}

// The sample codec reads WAV input of every PCM width as the same 8-bit
// samples: the ramp written at 8, 16, 24 and 32 bits, and after a chunk of odd length (whose
// pad byte is skipped), codes as the raw ramp does. A stream of no samples decodes to an
// empty file.
TEST_F(ToolsCli, SamplecodecReadsEveryWavWidthAndEmptyStreams) {
  std::string raw;
  for (int i = 0; i < 900; ++i) raw += static_cast<char>((i * 7) % 200 - 100);
  write("ramp.raw", raw);
  const ToolRun reference = run(Samplecodec + " encode --raw ramp.raw -o -");
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::pair<uint32_t, uint32_t> wavs[] = {{8, 0}, {16, 0}, {24, 0}, {32, 0}, {16, 3}};
  for (const auto& [bits, extra] : wavs) {
    write("ramp.wav", small_wav(1, bits, 900, extra));
    const ToolRun r = run(Samplecodec + " encode ramp.wav -o -");
    ASSERT_EQ(r.status, 0) << bits << ": " << r.err;
    EXPECT_TRUE(r.out == reference.out) << bits << "-bit WAV (" << extra << " bytes of another chunk) codes other "
                                        << "samples than the raw ramp";
  }
  write("empty.stream", std::string(4, '\0'));
  const ToolRun r = run(Samplecodec + " decode empty.stream -o empty.out");
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
    std::string command;
    std::string appears;  // a pattern, in the test's folder, that shows the work has begun
    int signal;
  };
  std::vector<Row> rows = {{Tunetool + " -q render " + Assets + "/tunes/01.xm -o out.wav --seconds 20000", ".out.wav.*", SIGTERM}};
  if (std::system("command -v ffmpeg >/dev/null") == 0)
    rows.push_back({"env TMPDIR=" + dir.string() + " " + Capture + " --seconds 3600 --video out.mkv",
                    "musicdisk-capture-*/frames.mkv", SIGINT});
  for (const Row& row : rows) {
    // A shell's background job ignores SIGINT unless it is given back its default.
    const ToolRun r = run("env --default-signal=INT " + row.command + " & until ls -d " + row.appears +
                          " >/dev/null 2>&1; do sleep 0.1; done; kill -" + std::to_string(row.signal) + " $!; wait $!");
    EXPECT_EQ(r.status, 128 + row.signal) << row.command << "\n" << r.err;
    EXPECT_EQ(listing(), std::vector<std::string>{}) << row.command << " left these after signal " << row.signal;
  }
}
