// The per-run trace file: opening, the trace-line convention, the elapsed
// time text and the exit handler.
#include "debug/kivtrace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "debug/kivdisposition.h"
#include "debug/kivhousekeeping.h"

#define KIV_TRACE_MODULE "kivdebug"

#ifndef KIV_DEFAULT_DEBUG_DIR
#define KIV_DEFAULT_DEBUG_DIR "/var/log/kivcfg"
#endif

const char* KIV_DebugDir = KIV_DEFAULT_DEBUG_DIR;
char DebugStreamName[kDebugStreamNameSize] = "";
const char* UtilityName = nullptr;
std::time_t KIV_DebugStartTime = 0;
struct timeval KIV_TraceStartTime = {0, 0};
int KIV_DebugDirFd = -1;

namespace {

std::time_t systemTimeNow() { return std::time(nullptr); }
void systemTimeOfDayNow(struct timeval* tv) { gettimeofday(tv, nullptr); }

std::FILE* KIV_DebugStream = nullptr;
// Set only when this run opened (and emptied) the file it traces to, with
// that file's identity, so that the deletion and the compression at exit
// never reach another file that has taken its name.
bool OwnTraceFile = false;
dev_t OwnTraceDevice = 0;
ino_t OwnTraceInode = 0;
bool ExitHandlerDone = false;

constexpr mode_t kTraceDirMode = 0755;
// Readable by all, written by root alone: what these files hold decides
// what root's housekeeping deletes.
constexpr mode_t kTraceFileMode = 0644;

// ctime text of t, always NUL-terminated; "?\n" if the date cannot be shown.
void formatCtime(std::time_t t, char (&buf)[64]) {
  if (ctime_r(&t, buf) == nullptr) std::snprintf(buf, sizeof buf, "?\n");
}

// Opens the trace file by its name in the trace directory as opened,
// without following a symbolic link and without blocking on a FIFO, and
// empties it only once the open file is known to be a regular file of this
// user with no other name: a hard link planted at the name would otherwise
// let the trace overwrite a file elsewhere. Any other file is left as it
// was and the run goes untraced.
std::FILE* openTraceFile(const char* name) {
  int fd = openat(KIV_DebugDirFd, name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kTraceFileMode);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid() ||
      ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    return nullptr;
  }
  OwnTraceDevice = st.st_dev;
  OwnTraceInode = st.st_ino;
  return f;
}

// Standard input, output and error that the run was started without are
// opened on /dev/null, so that neither the trace file nor any other file
// opened later takes their number and receives what is meant for them.
void fillClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Every lower number is open by now, so this takes fd itself.
    int opened = open("/dev/null", O_RDWR);
    if (opened > STDERR_FILENO) close(opened);
  }
}

// The name of this run's trace within the trace directory.
const char* ownTraceName() {
  const char* slash = std::strrchr(DebugStreamName, '/');
  return slash != nullptr ? slash + 1 : DebugStreamName;
}

// Opens directory, making it (mode 0755 whatever the umask) when it is
// missing; -1 with errno when it can be neither opened nor made.
int openTraceDir(const char* directory) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = open(directory, kFlags);
  if (fd >= 0 || errno != ENOENT) return fd;
  if (mkdir(directory, kTraceDirMode) != 0 && errno != EEXIST) return -1;
  // What was just made is a directory of ours, not a link to one; only
  // that one is widened past the umask.
  fd = open(directory, kFlags | O_NOFOLLOW);
  struct stat st {};
  if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid()) fchmod(fd, kTraceDirMode);
  return fd;
}

// A run that traces must not be ended by a resource limit in mid-flow: a
// write past the file-size limit then fails with EFBIG, which the trace
// ignores, and a CPU limit still ends the run at its hard limit.
void ignoreLimitSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
  sigaction(SIGXCPU, &ignore, nullptr);
}

std::string failure(const std::string& what, const char* directory) {
  return what + " " + directory + ": " + std::strerror(errno);
}

// Why directory (open as fd) may not take utilityName's traces, or "".
std::string foreignEntry(int fd, const char* directory, const char* utilityName) {
  const std::unique_ptr<DIR, int (*)(DIR*)> d(KIV_OpenDirAt(fd), closedir);
  if (!d) return failure("cannot read", directory);
  while (const dirent* e = readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool regular = fstatat(dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    if (!regular || !KIV_IsTraceFileName(name, utilityName)) {
      return std::string(directory) + " holds " + e->d_name + ", not a " + utilityName +
             " trace; give a new directory or one with its traces only";
    }
  }
  return "";
}

}  // namespace

std::time_t (*KIV_TimeNow)() = systemTimeNow;
void (*KIV_TimeOfDayNow)(struct timeval*) = systemTimeOfDayNow;

bool KIV_FormatTraceFileName(char* buf, std::size_t size, const char* dir, const char* utilityName,
                             const std::tm& start, long pid) {
  if (buf == nullptr || size == 0) return false;
  // Years before 2000 show as 00; 2100 and later give three digits.
  int yy = start.tm_year > 99 ? start.tm_year - 100 : 0;
  int n = std::snprintf(buf, size, "%s/%s.%02d%02d%02d%02d%02d%02d.%ld", dir, utilityName, yy,
                        start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec, pid);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    buf[0] = '\0';
    return false;
  }
  return true;
}

int OpenLogFile(const char* utilityName) {
  UtilityName = utilityName;
  KIV_DebugStartTime = KIV_TimeNow();
  KIV_TimeOfDayNow(&KIV_TraceStartTime);

  std::tm start {};
  localtime_r(&KIV_DebugStartTime, &start);
  // A path that does not fit is not cut: a cut name could be another file.
  if (!KIV_FormatTraceFileName(DebugStreamName, sizeof DebugStreamName, KIV_DebugDir,
                               utilityName != nullptr ? utilityName : "", start,
                               static_cast<long>(getpid()))) {
    return 1;
  }
  KIV_DebugStream = openTraceFile(ownTraceName());
  if (KIV_DebugStream == nullptr) return 1;
  OwnTraceFile = true;

  std::fprintf(KIV_DebugStream, "Program %s started.\n", utilityName != nullptr ? utilityName : "");
  std::fflush(KIV_DebugStream);
  char when[64];
  formatCtime(KIV_DebugStartTime, when);
  std::fprintf(KIV_DebugStream, "%s\n", when);
  std::fflush(KIV_DebugStream);
  return 0;
}

int KIV_OpenTraceFile(const char* utilityName) {
  fillClosedStandardDescriptors();
  ignoreLimitSignals();
  int result = 0;
  if (KIV_DebugStream == nullptr) {
    if (KIV_DebugDirFd < 0) KIV_DebugDirFd = openTraceDir(KIV_DebugDir);
    if (KIV_DebugDirFd >= 0) result = OpenLogFile(utilityName);
  }
  std::atexit(KIV_DebugExitHandler);
  return result;
}

int KIV_OpenTraceFileIn(const char* directory, const char* utilityName, std::string& why) {
  why.clear();
  if (directory == nullptr || utilityName == nullptr || KIV_DebugDirFd >= 0) {
    why = "a trace directory is already in use";
    return KIV_TraceDirRefused;
  }
  const int fd = openTraceDir(directory);
  if (fd < 0) {
    struct stat st {};
    const int openErrno = errno;
    if (stat(directory, &st) != 0) {
      if (errno != ENOENT) {
        why = failure("cannot use", directory);
        return KIV_TraceDirRefused;
      }
    } else {
      errno = openErrno;
      why = S_ISDIR(st.st_mode) ? failure("cannot read", directory) : std::string(directory) + " is not a directory";
      return KIV_TraceDirRefused;
    }
    // Missing and not to be made: nothing of it can be touched.
    fillClosedStandardDescriptors();
    ignoreLimitSignals();
    return KIV_TraceDirUntraced;
  }
  why = foreignEntry(fd, directory, utilityName);
  if (!why.empty()) {
    close(fd);
    return KIV_TraceDirRefused;
  }
  KIV_DebugDir = directory;
  KIV_DebugDirFd = fd;
  KIV_OpenTraceFile(utilityName);
  return GetDebugFile() != nullptr ? KIV_TraceDirTraced : KIV_TraceDirUntraced;
}

bool KIV_IsTraceFileName(std::string_view name, std::string_view utilityName) {
  if (!name.starts_with(utilityName) || name.size() == utilityName.size() || name[utilityName.size()] != '.') {
    return false;
  }
  name.remove_prefix(utilityName.size() + 1);
  if (name.ends_with(".gz")) name.remove_suffix(3);
  const std::size_t dot = name.find('.');
  constexpr std::size_t kStampDigits = 12;  // YYMMDDhhmmss, the year possibly longer
  if (dot == std::string_view::npos || dot < kStampDigits) return false;
  auto digits = [](std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == s.npos; };
  return digits(name.substr(0, dot)) && digits(name.substr(dot + 1));
}

bool KIV_IsOwnTraceFile(const struct stat& st) {
  return OwnTraceFile && S_ISREG(st.st_mode) && st.st_dev == OwnTraceDevice && st.st_ino == OwnTraceInode;
}

std::FILE* GetDebugFile() { return KIV_DebugStream; }

const char* GetElapsedMilliSeconds() {
  static int FirstTime = 1;
  static std::uint32_t PreviousElapsedMilliSeconds = 0;
  static char TimeString[16] = "";

  struct timeval now {};
  KIV_TimeOfDayNow(&now);
  // The difference of two truncated stamps, not the truncated difference.
  auto stamp = [](const struct timeval& tv) {
    return static_cast<std::uint64_t>(tv.tv_sec) * 1000u + static_cast<std::uint64_t>(tv.tv_usec) / 1000u;
  };
  auto elapsed = static_cast<std::uint32_t>(stamp(now) - stamp(KIV_TraceStartTime));

  if (FirstTime != 0) {
    FirstTime = 0;
  } else if (elapsed == PreviousElapsedMilliSeconds) {
    TimeString[0] = '\0';
    return TimeString;
  }
  PreviousElapsedMilliSeconds = elapsed;
  std::snprintf(TimeString, sizeof TimeString, "%u.%03u\n", elapsed / 1000u, elapsed % 1000u);
  return TimeString;
}

int GetElapsedSeconds() { return static_cast<int>(KIV_TimeNow() - KIV_DebugStartTime); }

void KIV_TraceLine(const char* module, int line, const char* format, ...) {
  std::FILE* f = GetDebugFile();
  if (f == nullptr) return;
  std::fprintf(f, "%s%s:%d ", GetElapsedMilliSeconds(), module, line);
  va_list ap;
  va_start(ap, format);
  std::vfprintf(f, format, ap);
  va_end(ap);
  std::fflush(f);
}

void KIV_TraceText(const char* module, int line, const char* text) {
  std::FILE* f = GetDebugFile();
  if (f == nullptr) return;
  std::fprintf(f, "%s%s:%d ", GetElapsedMilliSeconds(), module, line);
  std::fputs(text, f);
  std::fflush(f);
}

void KIV_DebugExitHandler() {
  // Each call of KIV_OpenTraceFile registers the handler again; only the
  // first run may act.
  if (ExitHandlerDone) return;
  ExitHandlerDone = true;

  std::time_t now = KIV_TimeNow();
  if (KIV_DebugStream != nullptr) {
    char when[64];
    formatCtime(now, when);
    std::fprintf(KIV_DebugStream, "\nCompleted at %s\n", when);
    std::fflush(KIV_DebugStream);
    // The mode is set through the open descriptor: the name may by now lead
    // elsewhere, and the file must be readable by every later run.
    fchmod(fileno(KIV_DebugStream), kTraceFileMode);
    std::fclose(KIV_DebugStream);
  }
  KIV_DebugStream = nullptr;

  int disposition = Entry_Invalid;
  if (UsingIntelligentTracing != 0 &&
      LookUpDisposition(UtilityName, FinalReturnCode, &disposition) == 1 &&
      disposition == Trace_Delete) {
    struct stat st {};
    if (KIV_DebugDirFd >= 0 && fstatat(KIV_DebugDirFd, ownTraceName(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        KIV_IsOwnTraceFile(st)) {
      unlinkat(KIV_DebugDirFd, ownTraceName(), 0);
    }
    return;
  }
  KIV_HouseKeepingAt(KIV_DebugDirFd, KIV_DebugDir);
}
