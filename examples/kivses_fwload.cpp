// Transfers a firmware image file to a device behind an enclosure and
// commits it.
//   kivses_fwload SERIAL DEVICE IMAGEFILE [--no-wait]
// --no-wait skips the device's settling times (10 s, 20 s, 5 s), for runs
// against the simulated enclosure. The trace goes to $KIV_TRACE_DIR when set.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "debug/kivdebug.h"
#include "ses/kivses.h"

namespace {

void noWaitSeconds(unsigned) {}
void noWaitMicroseconds(std::uint64_t) {}

int usage() {
  std::fprintf(stderr, "usage: kivses_fwload SERIAL DEVICE IMAGEFILE [--no-wait]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "--no-wait") == 0)) return usage();
  const char* serial = argv[1];
  char* end = nullptr;
  errno = 0;
  long device = std::strtol(argv[2], &end, 10);
  if (errno != 0 || end == argv[2] || *end != '\0' || device < 0 || device > SesDownloadPage::kMaxDeviceNumber) {
    std::fprintf(stderr, "kivses_fwload: device number must be 0 to %d\n", SesDownloadPage::kMaxDeviceNumber);
    return 2;
  }
  std::ifstream in(argv[3], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kivses_fwload: cannot read %s\n", argv[3]);
    return 1;
  }
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.size() > UINT32_MAX) {
    std::fprintf(stderr, "kivses_fwload: %s is too large\n", argv[3]);
    return 1;
  }
  if (argc == 5) {
    SES_SleepSeconds = noWaitSeconds;
    SES_SleepMicroseconds = noWaitMicroseconds;
  }
  if (const char* dir = std::getenv("KIV_TRACE_DIR"); dir != nullptr && *dir != '\0') KIV_DebugDir = dir;
  const char* slash = std::strrchr(argv[0], '/');
  KIV_OpenTraceFile(slash != nullptr ? slash + 1 : argv[0]);

  std::int32_t rc = SES_DownloadFwTransfer(serial, static_cast<int>(device), image.data(),
                                           static_cast<std::uint32_t>(image.size()));
  std::printf("transfer of %zu bytes to %s device %ld: rc=%d\n", image.size(), serial, device, rc);
  if (rc == SES_Success) {
    rc = SES_DownloadFwCommit(serial, static_cast<int>(device));
    std::printf("commit: rc=%d\n", rc);
  }
  SES_CloseCIConnection();
  return rc == SES_Success ? 0 : 1;
}
