#include "support/tool_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

// `text` as one word for the shell.
static std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

ToolRun run_tool(const std::string& command, const fs::path& folder, int deadline_seconds) {
  ToolRun result;
  // Standard error goes to a file, so that neither output can block the tool while the other
  // is read. timeout(1) leads a process group of its own and ends all of it at the deadline.
  const fs::path err = fs::temp_directory_path() / ("md_tool_err_" + std::to_string(getpid()));
  const std::string line = "cd " + quoted(folder.string()) + " || exit 125; " + command;
  const std::string run = "timeout -k 5 " + std::to_string(deadline_seconds) + " sh -c " + quoted(line) + " 2>" +
                          quoted(err.string());
  if (FILE* out = popen(run.c_str(), "r")) {
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) result.out.append(buffer, n);
    const int status = pclose(out);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (result.status == 124) result.status = -1;  // timeout's status: past the deadline
  }
  result.err = slurp(err);
  fs::remove(err);
  return result;
}
std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void ToolTest::SetUp() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  dir = fs::path(MD_BINARY_DIR) / "tool_tests" / test->test_suite_name() / test->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
}

std::string ToolTest::write(const std::string& name, std::string_view bytes) const {
  std::ofstream(path(name), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path(name);
}

std::vector<std::string> ToolTest::listing() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
