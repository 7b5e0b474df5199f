#include "platform/report.h"

#include <cstdio>

#include "platform/window.h"

namespace {
bool ErrorReported = false;
ReportPrepareHook PrepareHook = nullptr;
}  // namespace

void set_report_prepare_hook(ReportPrepareHook hook) { PrepareHook = hook; }

void report_error(const char* text) {
  ErrorReported = true;
  if (PrepareHook != nullptr) {
    PrepareHook();
  }
  // Where no message box can be shown the text still reaches the user.
  std::fprintf(stderr, "musicdisk: %s\n", text);
  message_box(text, "Error");
  post_quit_message(0);
}

bool error_reported() { return ErrorReported; }

int report_exit_code() { return ErrorReported ? 1 : 0; }

void reset_error_report() { ErrorReported = false; }
