#include "support/show_runner.h"

#include <utility>

#include "driver/show.h"
#include "platform/window.h"

namespace showtest {

HeadlessConfig escape_at(uint32_t ms) {
  HeadlessConfig c;
  c.keys = {{ms, VK_ESCAPE, true, false}};
  return c;
}

int run(const HeadlessConfig& config, std::function<void(const HeadlessFrame&)> on_present) {
  reset_show_state();
  headless_reset(config);
  if (on_present) headless_set_present_hook(std::move(on_present));
  return headless_run([] {
    run_show();
    exit_process(show_exit_code());
  });
}

}  // namespace showtest
