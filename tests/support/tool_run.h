// Running a tool as a user does, from a test: one shell command line, its exit status and
// what it printed (standard output and error together).
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolOutcome {
  int status = -1;  // the exit status; -1 when the tool did not exit by itself
  std::string output;
};

inline ToolOutcome run_tool(const std::string& command) {
  ToolOutcome r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr) r.output += buffer;
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}
