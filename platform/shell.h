// Opening a web address with the desktop's browser.
#pragma once

// Starts the desktop's own way of opening `address`, detached; never waits for it. Its
// failure is not reported.
void open_address(const char* address);
