// The whole show on the headless backend, run the way the show, menu, display and
// golden-frame tests run it: from a fresh show state and screen to the process's end.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/headless/headless.h"

namespace showtest {

// A screen whose only key is Escape, pressed at `ms`.
HeadlessConfig escape_at(uint32_t ms);

// Runs the show to its end; the process's exit code. `on_present`, when given, sees every
// presented frame.
int run(const HeadlessConfig& config, std::function<void(const HeadlessFrame&)> on_present = {});

}  // namespace showtest
