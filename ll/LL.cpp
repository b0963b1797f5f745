#include "ll/LL.h"
