// The program's entry: the show takes no arguments. It ends with exit code 0 when the user
// ends it, 1 when an error was reported.
#include "driver/show.h"
#include "platform/window.h"

int main() {
  run_show();
  exit_process(show_exit_code());
}
