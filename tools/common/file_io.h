// Reading inputs and writing outputs for the tools, with the error handling in one place.
// "-" names standard input or standard output. Messages name the file and the system's
// reason: "cannot read song.xm: Is a directory", "cannot write out.wav: Permission denied".
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The whole of a file, a pipe, a device or standard input. A directory is refused.
bool read_input(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// The name of a path in messages: "standard input" or "standard output" for "-".
std::string display_name(const std::string& path, bool output);

// An output being written. A regular file (or a new one) is written all or nothing: into a
// unique temporary in the same folder, renamed over the path when finished, so a failure
// leaves the old file as it was and no partial one. A symbolic link is followed to the file
// it names. Anything else that exists (a device, a FIFO) and standard output are written
// straight, as replacing them would destroy them.
struct OutputFile {
  int fd = -1;
  std::string path;       // as the user named it
  std::string target;     // the file renamed over (symbolic links followed); empty when straight
  std::string temporary;  // the temporary name; empty when straight
};

bool open_output(const std::string& path, OutputFile& out, std::string& error);
bool write_output(OutputFile& out, const void* data, size_t size, std::string& error);
// Closes and puts the file in place.
bool finish_output(OutputFile& out, std::string& error);
// Closes and removes the temporary; the path keeps what it held.
void discard_output(OutputFile& out);

// open_output, write_output, finish_output in one.
bool write_whole_output(const std::string& path, std::span<const uint8_t> bytes, std::string& error);

// True, with a message, when the output names the file the input is read from (also
// through a link); writing it would destroy the input.
bool is_same_file(const std::string& input, const std::string& output, std::string& error);
