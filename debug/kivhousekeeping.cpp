#include "debug/kivhousekeeping.h"

void KIV_HouseKeeping(const char*) {}
