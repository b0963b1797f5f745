// Builds against the installed headers and libraries.
#include <cstdio>

#include "debug/kivdebug.h"
#include "ses/kivses.h"

int main() {
  std::puts(GetDebugErrorString(AE_LoopDown, 1));
  SES_CloseCIConnection();
  return 0;
}
