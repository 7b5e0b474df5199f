// The parts of file_io.h that are the same on every system.
#include "tools/common/file_io.h"

namespace {

// "16 MiB", "1 GiB", or bytes when not a whole number of either.
std::string size_text(size_t bytes) {
  if (bytes >= (size_t{1} << 30) && bytes % (size_t{1} << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
  if (bytes >= (size_t{1} << 20) && bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string input_too_large(InputLimit limit) {
  return "more than " + size_text(limit.bytes) + ", the most " + limit.kind + " may hold";
}

std::string display_name(const std::string& path, bool output) {
  if (path == "-") return output ? "standard output" : "standard input";
  return path;
}

bool write_whole_output(const std::string& path, std::span<const uint8_t> bytes, std::string& error,
                        OutputKind kind) {
  OutputFile out;
  if (!open_output(path, out, error, kind)) return false;
  if (!write_output(out, bytes.data(), bytes.size(), error)) {
    discard_output(out);
    return false;
  }
  return finish_output(out, error);
}
