#include "platform/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* project_version() { return MUSICDISK_VERSION; }

bool CliArgs::has(const char* name) const { return value(name) != nullptr; }

const std::string* CliArgs::value(const char* name) const {
  const std::string* found = nullptr;
  for (const auto& [key, v] : options)
    if (key == name) found = &v;
  return found;
}

void cli_usage_error(const Cli& cli, const std::string& message) {
  if (cli.usageOnError)
    std::fprintf(stderr, "%s: %s\n\n%s", cli.name, message.c_str(), cli.usage);
  else
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", cli.name, message.c_str(), cli.name);
  std::exit(ExitUsage);
}

int cli_fail(const Cli& cli, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", cli.name, message.c_str());
  return ExitFailure;
}

void cli_warn(const Cli& cli, const std::string& message) {
  if (cli.verbosity >= 1) std::fprintf(stderr, "%s: warning: %s\n", cli.name, message.c_str());
}

void cli_detail(const Cli& cli, const std::string& message) {
  if (cli.verbosity >= 2) std::fprintf(stderr, "%s: %s\n", cli.name, message.c_str());
}

namespace {

const CliOption* find_long(std::initializer_list<CliOption> options, const std::string& name) {
  for (const CliOption& o : options)
    if (name == o.name) return &o;
  return nullptr;
}

const CliOption* find_short(std::initializer_list<CliOption> options, char letter) {
  for (const CliOption& o : options)
    if (o.letter != 0 && o.letter == letter) return &o;
  return nullptr;
}

}  // namespace

CliArgs cli_parse(Cli& cli, int argc, char** argv, int first, std::initializer_list<CliOption> options) {
  CliArgs args;
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    if (optionsEnded || a == "-" || a.size() < 2 || a[0] != '-') {
      args.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name, value;
    bool hasValue = false;
    const CliOption* option = nullptr;
    if (a[1] == '-') {
      const size_t eq = a.find('=');
      name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) value = a.substr(eq + 1), hasValue = true;
      option = find_long(options, name);
    } else {
      option = find_short(options, a[1]);
      if (option != nullptr) name = option->name;
      if (a.size() > 2) {
        // Short flags of the common set may not be bundled; a short option with a value
        // may carry it in the same word (-oOUT).
        if (option == nullptr || !option->takesValue) cli_usage_error(cli, "unknown option '" + a + "'");
        value = a.substr(2), hasValue = true;
      }
    }
    if (option == nullptr) {
      if (a == "--help" || a == "-h") {
        std::fputs(cli.usage, stdout);
        std::exit(ExitOk);
      }
      if (a == "--version") {
        std::printf("%s %s\n", cli.name, project_version());
        std::exit(ExitOk);
      }
      if (a == "-q" || a == "--quiet") {
        cli.verbosity = 0;
        continue;
      }
      if (a == "-v" || a == "--verbose") {
        cli.verbosity = 2;
        continue;
      }
      cli_usage_error(cli, "unknown option '" + a + "'");
    }
    if (option->takesValue && !hasValue) {
      if (i + 1 >= argc) cli_usage_error(cli, a + " needs a value");
      value = argv[++i];
    } else if (!option->takesValue && hasValue) {
      cli_usage_error(cli, "--" + name + " takes no value");
    }
    args.options.emplace_back(name, value);
  }
  return args;
}

bool cli_number(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
  value = v;
  return true;
}

bool cli_integer(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

bool cli_int(const std::string& text, int low, int high, int& value) {
  long long v = 0;
  if (!cli_integer(text, low, high, v)) return false;
  value = static_cast<int>(v);
  return true;
}
