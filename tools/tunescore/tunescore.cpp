// tunescore: compiles a score (plain text, see score.h) into an extended module (.xm).
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/tunescore/score.h"

namespace {

const char* const Usage =
    "usage: tunescore IN.score -o OUT.xm\n"
    "\n"
    "Compiles a score (plain text: header, instruments with their synthesised samples,\n"
    "patterns in tracker notation, order list) into a FastTracker II extended module.\n"
    "Errors name the file, the line and the column.\n"
    "\n"
    "  -o FILE          the output; - is standard output. IN may be - for standard input\n"
    "  -q, --quiet      no warnings\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing is written), 2 wrong usage.\n";

Cli TheCli{"tunescore", Usage};

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1, {{"output", 'o', true}});
  const std::string* output = a.value("output");
  if (a.positional.size() != 1 || output == nullptr) cli_usage_error(TheCli, "usage: tunescore IN.score -o OUT.xm");
  const std::string& input = a.positional[0];
  std::string error;
  if (is_same_file(input, *output, error)) return cli_fail(TheCli, error);
  std::vector<uint8_t> raw;
  if (!read_input(input, raw, error, TextInput)) return cli_fail(TheCli, error);
  const std::string text(raw.begin(), raw.end());
  Score score;
  if (!parse_score(text, input, score, error)) return cli_fail(TheCli, error);
  XmModule module;
  if (!score_to_xm(score, module, error)) {
    // "LINE:COLUMN: cause" joins the file name as the parser's messages do.
    const bool placed = !error.empty() && std::isdigit(static_cast<unsigned char>(error[0]));
    return cli_fail(TheCli, display_name(input, false) + (placed ? ":" : ": ") + error);
  }
  const std::vector<uint8_t> bytes = write_xm(module);
  if (!write_whole_output(*output, bytes, error)) return cli_fail(TheCli, error);
  return 0;
}
