#include "ses/kivses.h"
