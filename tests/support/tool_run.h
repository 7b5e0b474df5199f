// The tools as a user runs them: a command line through the shell in a folder of the test's
// own, its exit status and what it printed on standard output and error, with a deadline.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct ToolRun {
  int status = -1;  // the exit status; 128 + the signal when one ended it; -1 past the deadline
  std::string out, err;
};

// Runs `command` with `sh -c` in `folder`. Past the deadline its process group is killed.
ToolRun run_tool(const std::string& command, const std::filesystem::path& folder, int deadline_seconds = 600);

std::string slurp(const std::filesystem::path& path);

// Each test starts in an empty folder of its own under the build folder.
class ToolTest : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override;
  std::string path(const std::string& name) const { return (dir / name).string(); }
  // Writes a file into the folder; returns its path.
  std::string write(const std::string& name, std::string_view bytes) const;
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  ToolRun run(const std::string& command) const { return run_tool(command, dir); }
  // The names in the folder, sorted: for "nothing else was left behind".
  std::vector<std::string> listing() const;
};
