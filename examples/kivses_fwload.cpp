// Transfers a firmware image file to a device behind an enclosure and
// commits it; kivses_fwload --help tells how to run it.
//
// It reads no environment variable. It traces where the utility traces when
// run as root, into a directory of the caller's choice with --trace-dir, and
// not at all otherwise. Housekeeping at exit compresses and deletes files in
// the trace directory, so a directory given with --trace-dir must be new or
// hold nothing but this program's own traces.
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "debug/kivdebug.h"
#include "ses/kivses.h"

namespace {

constexpr const char* kName = "kivses_fwload";
constexpr int kStatusFailed = 1;
constexpr int kStatusUsage = 2;

constexpr const char* kUsage = "usage: kivses_fwload [--no-wait] [--trace-dir DIR] SERIAL DEVICE IMAGEFILE\n";
constexpr const char* kHelp =
    "Transfers the firmware image in IMAGEFILE to device DEVICE (0 to 63) behind\n"
    "the enclosure with serial number SERIAL, then commits it.\n"
    "\n"
    "  --no-wait        skip the device's settling times (10 s, 20 s and 5 s),\n"
    "                   for the simulated enclosure\n"
    "  --trace-dir DIR  trace into DIR, which must be new or hold nothing but\n"
    "                   kivses_fwload traces (without it: the system's trace\n"
    "                   directory when run as root, else no trace)\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Exit status: 0 transferred and committed, 1 the image could not be read or\n"
    "the enclosure refused it, 2 a bad command line or trace directory.\n";

bool g_noWait = false;
bool g_progressInPlace = false;  // standard output is a terminal
bool g_progressShown = false;
void (*g_sleepSeconds)(unsigned) = nullptr;  // the module's own wait

void announceWait(unsigned seconds) {
  if (g_noWait) {
    std::printf("skipping a %u s wait (--no-wait)\n", seconds);
    return;
  }
  std::printf("waiting %u s for the device\n", seconds);
  std::fflush(stdout);
  g_sleepSeconds(seconds);
}

// Only the enclosure module's retries wait in microseconds; the download
// makes none, but --no-wait skips them too.
void noWaitMicroseconds(std::uint64_t) {}

void showProgress(std::uint32_t sent, std::uint32_t total) {
  if (g_progressInPlace) {
    std::printf("\rsent %u of %u bytes", sent, total);
  } else {
    std::printf("sent %u of %u bytes\n", sent, total);
  }
  std::fflush(stdout);
  g_progressShown = true;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// Reads the whole image. The file must be a regular one: a FIFO or a device
// could block or never end. Returns an empty text on success, else why not.
std::string readImage(const char* path, std::vector<std::uint8_t>& image) {
  const Fd f{open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  const int fd = f.fd;
  if (fd < 0) return std::string("cannot read ") + path + ": " + std::strerror(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::string("cannot read ") + path + ": " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return std::string(path) + " is not a regular file";
  if (static_cast<std::uint64_t>(st.st_size) > UINT32_MAX) return std::string(path) + " is too large";
  image.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < image.size()) {
    const ssize_t n = read(fd, image.data() + got, image.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::string("cannot read ") + path + ": " + std::strerror(errno);
    if (n == 0) break;  // the file shrank while it was read
    got += static_cast<std::size_t>(n);
  }
  image.resize(got);
  return "";
}

int fail(int status, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", kName, why.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* traceDir = nullptr;
  static const option kOptions[] = {{"no-wait", no_argument, nullptr, 'n'},
                                    {"trace-dir", required_argument, nullptr, 't'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'v'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'n': g_noWait = true; break;
      case 't': traceDir = optarg; break;
      case 'h': std::printf("%s\n%s", kUsage, kHelp); return 0;
      case 'v': std::printf("%s %s\n", kName, KIV_VERSION); return 0;
      default:
        std::fprintf(stderr, "%s: unknown option or missing argument: %s\n%s", kName, argv[optind - 1], kUsage);
        return kStatusUsage;
    }
  }
  if (argc - optind != 3) {
    std::fprintf(stderr, "%s", kUsage);
    return kStatusUsage;
  }
  const char* serial = argv[optind];
  const char* deviceText = argv[optind + 1];
  const char* imagePath = argv[optind + 2];

  char* end = nullptr;
  errno = 0;
  const long device = std::strtol(deviceText, &end, 10);
  if (errno != 0 || end == deviceText || *end != '\0' || device < 0 || device > SesDownloadPage::kMaxDeviceNumber) {
    return fail(kStatusUsage, "device number must be 0 to " + std::to_string(SesDownloadPage::kMaxDeviceNumber));
  }
  // The directory is checked as opened, and the trace then goes there
  // through that descriptor to the end.
  if (traceDir != nullptr) {
    std::string why;
    const int traced = KIV_OpenTraceFileIn(traceDir, kName, why);
    if (traced == KIV_TraceDirRefused) return fail(kStatusUsage, why);
    if (traced == KIV_TraceDirUntraced) {
      std::fprintf(stderr, "%s: no trace file in %s; going on untraced\n", kName, traceDir);
    }
  } else if (geteuid() == 0) {
    KIV_OpenTraceFile(kName);
  }
  std::vector<std::uint8_t> image;
  if (std::string why = readImage(imagePath, image); !why.empty()) return fail(kStatusFailed, why);
  if (image.empty()) return fail(kStatusFailed, std::string(imagePath) + " is empty; nothing sent");

  // Each line reaches a pipe as it is written, before the wait it announces.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  g_progressInPlace = isatty(STDOUT_FILENO) == 1;
  g_sleepSeconds = SES_SleepSeconds;
  SES_SleepSeconds = announceWait;
  if (g_noWait) SES_SleepMicroseconds = noWaitMicroseconds;
  SES_DownloadProgress = showProgress;
  std::int32_t rc = SES_DownloadFwTransfer(serial, static_cast<int>(device), image.data(),
                                           static_cast<std::uint32_t>(image.size()));
  if (g_progressInPlace && g_progressShown) std::printf("\n");
  std::printf("transfer of %zu bytes to %s device %ld: rc=%d (%s)\n", image.size(), serial, device, rc,
              SES_ResultName(rc));
  if (rc == SES_Success) {
    rc = SES_DownloadFwCommit(serial, static_cast<int>(device));
    std::printf("commit: rc=%d (%s)\n", rc, SES_ResultName(rc));
  }
  SES_CloseCIConnection();
  return rc == SES_Success ? 0 : kStatusFailed;
}
