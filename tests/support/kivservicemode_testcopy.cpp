// A copy of the utility for tests. Its trace directory comes from
// KIV_TEST_TRACE_DIR, so no test ever writes to the system's trace
// directory, and KIV_TEST_MAX_FILES, when set, is the housekeeping's count
// limit, so that pruning shows on a small directory; everything else is the
// shipped program.
#include <cstdlib>

#include "debug/kivdebug.h"
#include "servicemode/kivservicemode.h"

int main(int argc, char** argv) {
  const char* dir = std::getenv("KIV_TEST_TRACE_DIR");
  KIV_DebugDir = dir != nullptr ? dir : KIV_TEST_FALLBACK_TRACE_DIR;
  if (const char* maxFiles = std::getenv("KIV_TEST_MAX_FILES")) KIV_MaxNumberOfFiles = std::atoi(maxFiles);
  KIV_ServiceModeMain(argc, argv);
}
