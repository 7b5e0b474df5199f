// The error report: a modal message box captioned "Error", and the record of whether one
// was shown, which decides the process's exit code. Every layer may report.
#pragma once

// Shows `text` in a message box captioned "Error" (and on standard error), after the
// prepare hook (the display puts the window back where it was and shows the cursor), then
// posts the quit request that the next pump drops. From then on the exit code is 1.
void report_error(const char* text);

// Runs inside report_error before the box appears; null for none.
using ReportPrepareHook = void (*)();
void set_report_prepare_hook(ReportPrepareHook hook);

// True once report_error has run since the start (or the last reset).
bool error_reported();
// 1 once an error has been reported, else 0: the show's exit code, also when the user ends it.
int report_exit_code();
void reset_error_report();
