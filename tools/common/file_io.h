// Reading inputs and writing outputs for the tools, with the error handling in one place.
// "-" names standard input or standard output. Messages name the file and the system's
// reason: "cannot read song.xm: Is a directory", "cannot write out.wav: Permission denied".
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The most an input of one kind may hold, far above any real file of that kind, so that
// /dev/zero or a runaway file is refused while it is read instead of filling the memory.
struct InputLimit {
  size_t bytes;
  const char* kind;  // for the message: "a score", "a module"
};
constexpr InputLimit TextInput{size_t{16} << 20, "a text"};          // scores, scroll texts, loop lists
constexpr InputLimit ModuleInput{size_t{256} << 20, "a module"};     // .xm, module images, packed tunes
constexpr InputLimit PictureInput{size_t{64} << 20, "a picture"};    // PNG files, picture streams
constexpr InputLimit SoundInput{size_t{1} << 30, "a sound"};         // WAV and raw samples
constexpr InputLimit DataInput{size_t{64} << 20, "an embedded file"};
constexpr InputLimit ProgramInput{size_t{256} << 20, "a program"};   // released programs and page files

// The whole of a file, a pipe, a device or standard input. A directory is refused, and so is
// an input larger than `limit`: "cannot read /dev/zero: more than 16 MiB, the most a text may hold".
bool read_input(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, InputLimit limit);

// The reason given for an input over its limit: "more than 16 MiB, the most a text may hold".
std::string input_too_large(InputLimit limit);

// The name of a path in messages: "standard input" or "standard output" for "-".
std::string display_name(const std::string& path, bool output);

// An output being written. A regular file (or a new one) is written all or nothing: into a
// unique temporary in the same folder, renamed over the path when finished, so a failure
// leaves the old file as it was and no partial one. A symbolic link is followed to the file
// it names. Anything else that exists (a device, a FIFO) and standard output are written
// straight, as replacing them would destroy them.
struct OutputFile {
#ifdef _WIN32
  void* handle = nullptr;  // the file's HANDLE
  bool straight = false;   // a device or standard output, written as it is
#else
  int fd = -1;
#endif
  std::string path;       // as the user named it
  std::string target;     // the file renamed over (symbolic links followed); empty when straight
  std::string temporary;  // the temporary name; empty when straight
};

// A program gets the execute permission wherever it may be read (less the umask's).
enum class OutputKind { Data, Program };

bool open_output(const std::string& path, OutputFile& out, std::string& error, OutputKind kind = OutputKind::Data);
bool write_output(OutputFile& out, const void* data, size_t size, std::string& error);
// Closes and puts the file in place.
bool finish_output(OutputFile& out, std::string& error);
// Closes and removes the temporary; the path keeps what it held.
void discard_output(OutputFile& out);

// open_output, write_output, finish_output in one.
bool write_whole_output(const std::string& path, std::span<const uint8_t> bytes, std::string& error,
                        OutputKind kind = OutputKind::Data);

// Paths removed when the program is ended by SIGINT or SIGTERM (on Windows, Ctrl+C or the
// console closed), before it ends as it would have: files first, then folders (empty by then). open_output's temporaries are
// kept here while they are written. A signal the program ignores or handles itself is left
// alone. At most 16 paths at a time; more are not removed.
void remove_on_signal(const std::string& path);
void keep_after_signal(const std::string& path);

// True, with a message, when the output names the file the input is read from (also
// through a link); writing it would destroy the input.
bool is_same_file(const std::string& input, const std::string& output, std::string& error);
