// The program's own file, whose end may carry a disk block (driver/disk.h).
#pragma once
#include <cstdio>

// The file opened for reading (binary), or null when the backend has none or it cannot be
// opened (the headless backend has none: its tools and tests name a disk file themselves).
// The web page has no program file: its backend opens the disk file the page fetched.
std::FILE* open_own_program_file();
