#include "adapci/kivadapci.h"
