// The program's own file, whose end may carry a disk block (driver/disk.h).
#pragma once
#include <string>

// Its path as the C library's fopen takes it, or an empty text when the backend has none
// (the headless backend: its tools and tests name a disk file themselves). The web page
// has no program file: its backend names the disk file the page fetched beside it.
std::string own_program_file();
