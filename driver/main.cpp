// The program's entry: the show takes no arguments and always ends with exit code 0.
#include "driver/show.h"
#include "platform/window.h"

int main() {
  run_show();
  exit_process(0);
}
