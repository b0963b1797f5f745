// The simulator's files: the state file, its lock, the request log and the
// firmware images beside it. The lock is taken for one visit of the state
// (load, act, save) and released; nothing is held between requests. Every
// file is opened without following a link and without blocking, and is used
// only when it is a regular file of ours with one link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "nicisim/nicisim.h"

namespace nicisim {

namespace {
// Image files are named state.fw.SERIAL.DEVICE.
constexpr const char* kImageInfix = ".fw.";

std::uint64_t monotonicMicroseconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1000000u + static_cast<std::uint64_t>(t.tv_nsec) / 1000u;
}
void sleepMicroseconds(std::uint64_t us) {
  timespec t{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}
}  // namespace

std::uint64_t (*SimNowMicroseconds)() = monotonicMicroseconds;
void (*SimSleepMicroseconds)(std::uint64_t microseconds) = sleepMicroseconds;

std::string statePath() {
  if (const char* p = std::getenv("KIVADAPSIM_STATE"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x != nullptr && x[0] == '/') return std::string(x) + "/kivadapsim/state";
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') return std::string(h) + "/.local/state/kivadapsim/state";
  return "/tmp/kivadapsim-" + std::to_string(getuid()) + "/state";
}
std::string lockPath() { return statePath() + ".lock"; }
std::string logPath() { return statePath() + ".log"; }
std::string imagePath(const std::string& serial, int device) {
  return statePath() + kImageInfix + serial + "." + std::to_string(device);
}

Fd::~Fd() {
  if (fd >= 0) close(fd);
}

namespace {
std::string sysWhy(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes size bytes at offset, through short writes and interruptions.
bool writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
  const auto* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Creates the folders above path (private to the user when new).
bool makeParents(const std::string& path, std::string& why) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string dir = path.substr(0, at);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) { why = sysWhy("cannot create " + dir); return false; }
  }
  return true;
}

// Rewrites the state in place. Every reader holds the lock, so none sees
// it half-written. A rename per request would be atomic against a crash
// too, but ext4 writes a file's data out before it replaces another by
// rename: some milliseconds per request, which made a 4 MB firmware
// download take half a minute. A crash in mid-write leaves a file that
// parse refuses and reset replaces.
bool rewrite(const std::string& path, const std::string& text, std::string& why) {
  Fd f(openOurs(path, O_WRONLY, why));
  if (f.fd < 0) return false;
  if (!writeAllAt(f.fd, text.data(), text.size(), 0)) { why = sysWhy("cannot write " + path); return false; }
  if (ftruncate(f.fd, static_cast<off_t>(text.size())) != 0) { why = sysWhy("cannot write " + path); return false; }
  return true;
}

bool readAll(int fd, std::string& text) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

bool writeAll(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a new file beside path and renames it over path: for files made
// whole at once (a new state, a reset, the log cut back). No fsync: a
// simulator's state may be lost with the machine.
bool replaceFile(const std::string& path, const std::string& text, std::string& why) {
  std::string tmp = path + ".XXXXXX";
  Fd f(mkostemp(tmp.data(), O_CLOEXEC));
  if (f.fd < 0) { why = sysWhy("cannot write beside " + path); return false; }
  if (!writeAll(f.fd, text.data(), text.size())) { why = sysWhy("cannot write " + tmp); unlink(tmp.c_str()); return false; }
  if (rename(tmp.c_str(), path.c_str()) != 0) { why = sysWhy("cannot replace " + path); unlink(tmp.c_str()); return false; }
  return true;
}

// The lock, waited for at most kLockWaitMicroseconds without blocking.
Access lock(const std::string& path, Fd& fd, std::string& why) {
  fd.fd = openOurs(path, O_RDWR | O_CREAT, why);
  if (fd.fd < 0) return Access::kRefused;
  const std::uint64_t start = SimNowMicroseconds();
  std::uint64_t pause = 500;
  while (flock(fd.fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) { why = sysWhy("cannot lock " + path); return Access::kRefused; }
    if (SimNowMicroseconds() - start >= kLockWaitMicroseconds) {
      why = "state file locked by another process for " + std::to_string(kLockWaitMicroseconds / 1000000u) + " s";
      return Access::kTimedOut;
    }
    SimSleepMicroseconds(pause);
    pause = std::min<std::uint64_t>(pause * 2, 10000);
  }
  return Access::kDone;
}

// The log's lines as stored: "PID LINE".
std::vector<std::string> storedLogLines(std::string& why) {
  std::vector<std::string> lines;
  Fd f(openOurs(logPath(), O_RDONLY, why));
  if (f.fd < 0) {
    if (errno == ENOENT) why.clear();
    return lines;
  }
  std::string text;
  if (!readAll(f.fd, text)) { why = sysWhy("cannot read " + logPath()); return lines; }
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// Cuts the log back to its newest kMaxLogLines once it passes kMaxLogBytes.
void boundLog() {
  struct stat st {};
  if (lstat(logPath().c_str(), &st) != 0 || st.st_size <= static_cast<off_t>(kMaxLogBytes)) return;
  std::string why;
  std::vector<std::string> lines = storedLogLines(why);
  if (!why.empty()) return;
  std::string text;
  for (std::size_t i = lines.size() > kMaxLogLines ? lines.size() - kMaxLogLines : 0; i < lines.size(); ++i) {
    text += lines[i] + "\n";
  }
  replaceFile(logPath(), text, why);
}
}  // namespace

int openOurs(const std::string& path, int flags, std::string& why, mode_t mode) {
  auto refuse = [&](const char* wrong, int err) {
    why = path + ": " + wrong + ", refused";
    errno = err;
    return -1;
  };
  // What is not a regular file is not even opened (a device may act on an
  // open); the checks after the open catch a file swapped in between.
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return refuse(S_ISLNK(st.st_mode) ? "is a symbolic link" : "not a regular file", EPERM);
  }
  int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP) return refuse("is a symbolic link", err);
    why = sysWhy("cannot open " + path);
    errno = err;
    return -1;
  }
  const char* wrong = fstat(fd, &st) != 0       ? "cannot be examined"
                      : !S_ISREG(st.st_mode)    ? "not a regular file"
                      : st.st_nlink != 1        ? "has more than one link"
                      : st.st_uid != geteuid()  ? "belongs to another user"
                                                : nullptr;
  if (wrong != nullptr) {
    close(fd);
    return refuse(wrong, EPERM);
  }
  // Reads and writes of our own files wait as usual.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Access withState(const std::function<bool(State&)>& fn, std::string& why) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return Access::kRefused;
  Fd held(-1);
  if (Access a = lock(lockPath(), held, why); a != Access::kDone) return a;
  State s;
  bool fresh = false;
  {
    Fd f(openOurs(path, O_RDONLY, why));
    if (f.fd < 0 && errno != ENOENT) return Access::kRefused;
    fresh = f.fd < 0;
    std::string text;
    if (!fresh && !readAll(f.fd, text)) { why = sysWhy("cannot read " + path); return Access::kRefused; }
    std::string reason;
    if (!fresh && !parse(text, s, reason)) { why = path + ": damaged state file: " + reason; return Access::kRefused; }
  }
  why.clear();
  const bool changed = fn(s);
  if (fresh ? !replaceFile(path, serialize(s), why) : changed && !rewrite(path, serialize(s), why)) {
    return Access::kRefused;
  }
  boundLog();
  return Access::kDone;
}

Access resetState(std::string& why) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return Access::kRefused;
  Fd held(-1);
  if (Access a = lock(lockPath(), held, why); a != Access::kDone) return a;
  // Whatever the file holds, it is replaced, but only a file of ours.
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    Fd f(openOurs(path, O_RDONLY, why));
    if (f.fd < 0) return Access::kRefused;
  }
  if (!replaceFile(path, serialize(State{}), why)) return Access::kRefused;
  if (!clearLog(why)) return Access::kRefused;
  removeImages();
  return Access::kDone;
}

void appendLog(const std::string& line) {
  std::string why;
  Fd f(openOurs(logPath(), O_WRONLY | O_APPEND | O_CREAT, why));
  if (f.fd < 0) return;
  const std::string stored = std::to_string(getpid()) + " " + line + "\n";
  writeAll(f.fd, stored.data(), stored.size());
}

std::vector<LogLine> readLog(std::string& why) {
  std::vector<LogLine> out;
  for (const std::string& l : storedLogLines(why)) {
    const std::size_t space = l.find(' ');
    if (space == std::string::npos) continue;
    out.push_back({l.substr(0, space), l.substr(space + 1)});
  }
  return out;
}

bool clearLog(std::string& why) {
  struct stat st {};
  if (lstat(logPath().c_str(), &st) != 0) return true;
  Fd f(openOurs(logPath(), O_WRONLY, why));
  if (f.fd < 0) return false;
  if (ftruncate(f.fd, 0) != 0) { why = sysWhy("cannot empty " + logPath()); return false; }
  return true;
}

bool writeImage(const ImageWrite& w, std::string& why) {
  const std::string path = imagePath(w.serial, w.device);
  Fd f(openOurs(path, O_WRONLY | O_CREAT, why));
  if (f.fd < 0) return false;
  if (w.start && ftruncate(f.fd, 0) != 0) { why = sysWhy("cannot empty " + path); return false; }
  if (!writeAllAt(f.fd, w.bytes.data(), w.bytes.size(), w.offset)) { why = sysWhy("cannot write " + path); return false; }
  return true;
}

void removeImages() {
  const std::string path = statePath();
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + kImageInfix;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  // unlink removes a name, never what a link leads to.
  while (const dirent* entry = readdir(d)) {
    if (std::string(entry->d_name).starts_with(prefix)) unlink((dir + "/" + entry->d_name).c_str());
  }
  closedir(d);
}

}  // namespace nicisim
