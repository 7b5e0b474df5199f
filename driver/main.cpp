// The program's entry: the show takes no arguments. --help and --version answer and end;
// anything else is refused with the usage text. The show ends with exit code 0 when the
// user ends it, 1 when an error was reported.
#include <cstdio>
#include <string>

#include "driver/show.h"
#include "platform/window.h"
#include "platform/cli.h"

namespace {
const char* const Usage =
    "usage: musicdisk [--help | --version]\n"
    "\n"
    "A music disk: an animated scene drawn in software and thirteen tracker tunes.\n"
    "\n"
    "Keys:\n"
    "  Left, Right   choose the tune (or silence), or the link, in the active bar\n"
    "  Up, Down      switch between the tune bar and the link bar\n"
    "  Enter         open the chosen link in the web browser\n"
    "  Alt+Enter     switch between window and full screen\n"
    "  Escape        end the show\n"
    "\n"
    "Exit status: 0 when the show is ended by the user, 1 when it could not start or ended\n"
    "on an error, 2 wrong usage.\n";
#ifdef _WIN32
// A program started from the desktop has no console, so the answer to a command line (a file
// dropped on the program arrives as one) is shown in a box as well: it never ends unseen.
[[noreturn]] void answer_in_a_box(int argc, char** argv) {
  const std::string first = argv[1];
  std::string text = "musicdisk: unexpected argument '" + first + "'\n\n" + Usage;
  int code = ExitUsage;
  if (argc == 2 && (first == "--help" || first == "-h")) {
    text = Usage;
    code = ExitOk;
  } else if (argc == 2 && first == "--version") {
    text = std::string("musicdisk ") + project_version() + "\n";
    code = ExitOk;
  }
  std::fputs(text.c_str(), code == ExitOk ? stdout : stderr);
  std::fflush(nullptr);
  message_box(text.c_str(), "musicdisk");
  exit_process(code);
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc > 1) answer_in_a_box(argc, argv);
#endif
  Cli cli{"musicdisk", Usage, 1, true};
  const CliArgs args = cli_parse(cli, argc, argv, 1, {});
  if (!args.positional.empty()) cli_usage_error(cli, "unexpected argument '" + args.positional[0] + "'");
  run_show();
  exit_process(show_exit_code());
}
