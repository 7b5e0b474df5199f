// Runs a Windows program under Wine, waits for it and writes the exit code it ended with into a
// file. The status of `wine` itself is not enough: when a process's Unix side is slow to go
// after its last thread has ended (a loaded machine), the Wine server kills it, and `wine`
// ends by that signal although the program returned its code. The code kept here is the one
// the program gave.
//
//   md-exit-code.exe CODE_FILE PROGRAM [ARGUMENT...]
//
// The program shares this one's standard input, output and error.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: md-exit-code CODE_FILE PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  // Every word quoted, so a name with spaces stays one (none of them holds a quote).
  std::string command;
  for (int i = 2; i < argc; ++i) command += std::string(i > 2 ? " \"" : "\"") + argv[i] + "\"";
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION program = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &program)) {
    std::fprintf(stderr, "md-exit-code: cannot start %s (error %lu)\n", argv[2], GetLastError());
    return 127;
  }
  DWORD code = 0;
  if (WaitForSingleObject(program.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(program.hProcess, &code)) {
    std::fprintf(stderr, "md-exit-code: lost %s (error %lu)\n", argv[2], GetLastError());
    return 127;
  }
  FILE* out = std::fopen(argv[1], "wb");
  const bool written = out != nullptr && std::fprintf(out, "%d\n", static_cast<int>(code)) > 0;
  if (out == nullptr || std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "md-exit-code: cannot write %s\n", argv[1]);
    return 126;
  }
  return static_cast<int>(code);
}
