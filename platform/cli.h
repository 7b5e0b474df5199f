// The command-line conventions every tool and the program share: --help prints the usage
// to standard output and exits 0, --version prints the project's version and exits 0, a
// usage error exits 2 with the usage hint, a failure exits 1 with a message that names the
// file and the system's reason; -q silences progress and warnings, -v adds detail.
#pragma once
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

enum : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

// The project's version, as CMake's project() gives it.
const char* project_version();

struct CliOption {
  const char* name;  // long form without the dashes: "seconds" for --seconds
  char letter;       // short form ('o' for -o), 0 for none
  bool takesValue;
};

struct Cli {
  const char* name;   // the program's name in messages: "tunetool"
  const char* usage;  // the --help text
  int verbosity = 1;  // 0 with -q, 2 with -v
  bool usageOnError = false;  // a usage error shows the whole usage, not the hint to --help
};

struct CliArgs {
  std::vector<std::string> positional;  // "-" stays a positional (standard input or output)
  std::vector<std::pair<std::string, std::string>> options;  // long name and value, in order
  bool has(const char* name) const;
  // The value given last for an option, or nullptr.
  const std::string* value(const char* name) const;
};

// Reads argv[first..]: "--name value", "--name=value", "-o value", "-ovalue", "--" ends the
// options. --help, --version, -q and -v are understood everywhere (-h is --help). An
// unknown option or a missing value is a usage error: this does not return then.
CliArgs cli_parse(Cli& cli, int argc, char** argv, int first, std::initializer_list<CliOption> options);

// "name: message" and the hint to --help (or the usage) on standard error; exits 2.
[[noreturn]] void cli_usage_error(const Cli& cli, const std::string& message);
// "name: message" on standard error; returns ExitFailure, for `return cli_fail(...)`.
int cli_fail(const Cli& cli, const std::string& message);
// "name: warning: message", unless -q.
void cli_warn(const Cli& cli, const std::string& message);
// "name: message" on standard error with -v only.
void cli_detail(const Cli& cli, const std::string& message);

// A finite number within [low, high], the whole text read. False otherwise.
bool cli_number(const std::string& text, double low, double high, double& value);
bool cli_integer(const std::string& text, long long low, long long high, long long& value);
bool cli_int(const std::string& text, int low, int high, int& value);
