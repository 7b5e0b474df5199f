#include "assets/disk.h"

const CustomDiskRecord* CustomDisk = nullptr;
