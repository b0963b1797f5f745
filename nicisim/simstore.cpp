// The simulator's files: the state file and its second copy, its lock, the
// request log and the firmware images beside it. The lock is taken for one
// visit of the state (load, act, save) and released; nothing is held
// between requests. Every file is opened without following a link and
// without blocking, and is used only when it is a regular file of ours with
// one link.
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
#include <cctype>

#include "nicisim/nicisim.h"

namespace nicisim {

namespace {
// Image files are named state.fw.SERIAL.DEVICE.FILE.
constexpr const char* kImageInfix = ".fw.";
constexpr const char* kAltSuffix = ".alt";
// What mkostemp puts after "NAME.".
constexpr std::size_t kTempSuffixLength = 6;

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
const char* SimTmpBase = "/tmp";
SimFailure SimFailKind = SimFailure::kNone;
std::uint64_t SimFailAt = 0;
std::uint64_t SimFileOps = 0;

namespace {
std::string tmpFolder() { return std::string(SimTmpBase) + "/kivadapsim-" + std::to_string(getuid()); }
}  // namespace

std::string statePath() {
  if (const char* p = std::getenv("KIVADAPSIM_STATE"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x != nullptr && x[0] == '/') return std::string(x) + "/kivadapsim/state";
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') return std::string(h) + "/.local/state/kivadapsim/state";
  return tmpFolder() + "/state";
}
std::string altStatePath() { return statePath() + kAltSuffix; }
std::string lockPath() { return statePath() + ".lock"; }
std::string logPath() { return statePath() + ".log"; }
std::string imagePath(const std::string& serial, int device, std::uint64_t file) {
  return statePath() + kImageInfix + serial + "." + std::to_string(device) + "." + std::to_string(file);
}

Fd::~Fd() {
  if (fd >= 0) close(fd);
}

namespace {
std::string sysWhy(const std::string& what) { return what + ": " + std::strerror(errno); }

// Counts one operation that changes a file and says whether it may go on:
// the failure staged for it, if any, ends the process or fails it with
// ENOSPC. A write staged to fail first writes half of its bytes.
bool mayChange(int fd = -1, const void* data = nullptr, std::size_t size = 0, std::uint64_t offset = 0) {
  ++SimFileOps;
  if (SimFailKind == SimFailure::kNone || SimFileOps != SimFailAt) return true;
  if (fd >= 0 && size > 1) {
    [[maybe_unused]] const ssize_t half = pwrite(fd, data, size / 2, static_cast<off_t>(offset));
  }
  if (SimFailKind == SimFailure::kCrash) _exit(kSimCrashStatus);
  errno = ENOSPC;
  return false;
}

int changeFile(int (*op)(const char*), const std::string& path) { return mayChange() ? op(path.c_str()) : -1; }

// Writes size bytes at offset, through short writes and interruptions.
bool writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
  if (!mayChange(fd, data, size, offset)) return false;
  const auto* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool truncateTo(int fd, std::uint64_t size) { return mayChange() && ftruncate(fd, static_cast<off_t>(size)) == 0; }

// Creates the folders above path (private to the user when new). The
// default folder below /tmp, which anyone could have made first, is used
// only when it is this user's own with mode 0700.
bool makeParents(const std::string& path, std::string& why) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string dir = path.substr(0, at);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) { why = sysWhy("cannot create " + dir); return false; }
  }
  const std::string tmp = tmpFolder();
  struct stat st {};
  if (path.starts_with(tmp + "/") &&
      (lstat(tmp.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 07777) != 0700)) {
    why = tmp + ": not a folder of this user's with mode 0700, refused";
    return false;
  }
  return true;
}

// Rewrites one copy of the state in place. Every reader holds the lock, so
// none sees it half-written. A rename per request would be atomic against a
// crash too, but ext4 writes a file's data out before it replaces another by
// rename: some milliseconds per request, which made a 4 MB firmware
// download take half a minute. The copy rewritten is never the newest one,
// so a crash or a full file system in mid-write leaves that one whole, and
// the torn copy fails its checksum.
bool rewrite(const std::string& path, const std::string& text, std::string& why) {
  struct stat st {};
  const bool exists = lstat(path.c_str(), &st) == 0;
  if (!exists && !mayChange()) { why = sysWhy("cannot create " + path); return false; }
  Fd f(openOurs(path, O_WRONLY | O_CREAT, why));
  if (f.fd < 0) return false;
  if (!writeAllAt(f.fd, text.data(), text.size(), 0) || !truncateTo(f.fd, text.size())) {
    why = sysWhy("cannot write " + path);
    return false;
  }
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
  if (!mayChange(fd, data, size, static_cast<std::uint64_t>(lseek(fd, 0, SEEK_CUR)))) return false;
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
  Fd f(mayChange() ? mkostemp(tmp.data(), O_CLOEXEC) : -1);
  if (f.fd < 0) { why = sysWhy("cannot write beside " + path); return false; }
  if (!writeAll(f.fd, text.data(), text.size())) { why = sysWhy("cannot write " + tmp); unlink(tmp.c_str()); return false; }
  if (!mayChange() || rename(tmp.c_str(), path.c_str()) != 0) {
    why = sysWhy("cannot replace " + path);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

// The folder of the state file and the state file's own name in it.
std::pair<std::string, std::string> stateFolder() {
  const std::string path = statePath();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Removes the entries of the state's folder whose names pass remove(name);
// unlink removes a name, never what a link leads to.
void removeInFolder(const std::function<bool(const std::string&)>& remove) {
  const auto [dir, base] = stateFolder();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = readdir(d)) {
    if (remove(entry->d_name)) changeFile(unlink, dir + "/" + entry->d_name);
  }
  closedir(d);
}

bool allDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// A temporary file that replaceFile left behind: NAME.XXXXXX beside the
// state or the log.
bool isLeftTemporary(const std::string& name, const std::string& base) {
  for (const std::string& of : {base, base + ".log"}) {
    if (name.size() == of.size() + 1 + kTempSuffixLength && name.starts_with(of + ".") &&
        std::all_of(name.begin() + static_cast<std::ptrdiff_t>(of.size() + 1), name.end(),
                    [](unsigned char c) { return std::isalnum(c) != 0; })) {
      return true;
    }
  }
  return false;
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

// The lines of the visit under way, written after its save; null outside
// a visit.
std::vector<std::string>* PendingLog = nullptr;

// A write that a full disk cut short is cut back off, or the part of a line
// left would run into the next line written; only under the lock, with no
// other process appending meanwhile.
void writeLogLines(const std::vector<std::string>& lines, const char* mark, bool locked) {
  if (lines.empty()) return;
  std::string why, stored;
  for (const std::string& line : lines) stored += std::to_string(getpid()) + " " + line + mark + "\n";
  Fd f(openOurs(logPath(), O_WRONLY | O_APPEND | O_CREAT, why));
  if (f.fd < 0) return;
  struct stat st {};
  const bool mayCutBack = locked && fstat(f.fd, &st) == 0;
  if (!writeAll(f.fd, stored.data(), stored.size()) && mayCutBack) {
    [[maybe_unused]] const int cut = ftruncate(f.fd, st.st_size);
  }
}

// One copy of the state: absent, whole (with its state), or damaged (why).
struct Copy {
  bool present = false;
  bool whole = false;
  bool damaged = false;  // read, but torn or not a state
  State state;
  std::string why;
};
Copy readCopy(const std::string& path) {
  Copy c;
  Fd f(openOurs(path, O_RDONLY, c.why));
  if (f.fd < 0) {
    c.present = errno != ENOENT;
    if (!c.present) c.why.clear();
    return c;
  }
  c.present = true;
  std::string text, reason;
  if (!readAll(f.fd, text)) {
    c.why = sysWhy("cannot read " + path);
  } else if (!parse(text, c.state, reason)) {
    c.damaged = true;
    c.why = path + ": damaged state file: " + reason;
  } else {
    c.whole = true;
  }
  return c;
}

// The newest whole copy, and which path the next save rewrites: the other
// one. kRefused with why when a copy is there but neither is whole, or a
// copy is no file of ours; fresh when there is none.
struct Loaded {
  State state;
  bool fresh = false;
  std::string saveTo;
};
bool load(Loaded& out, std::string& why) {
  const std::string paths[2] = {statePath(), altStatePath()};
  Copy copies[2] = {readCopy(paths[0]), readCopy(paths[1])};
  for (const Copy& c : copies) {
    // A damaged copy may be a torn save; anything else wrong is refused.
    if (c.present && !c.whole && !c.damaged) { why = c.why; return false; }
  }
  const int newest = copies[1].whole && (!copies[0].whole || copies[1].state.generation > copies[0].state.generation);
  if (!copies[newest].whole) {
    if (copies[0].present || copies[1].present) { why = copies[copies[0].present ? 0 : 1].why; return false; }
    out.fresh = true;
    out.saveTo = paths[0];
    return true;
  }
  out.state = std::move(copies[newest].state);
  out.saveTo = paths[1 - newest];
  return true;
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

bool readState(State& out, std::string& why) {
  Loaded l;
  if (!load(l, why)) return false;
  out = std::move(l.state);
  return true;
}

Access withState(const std::function<bool(State&)>& fn, std::string& why) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return Access::kRefused;
  Fd held(-1);
  if (Access a = lock(lockPath(), held, why); a != Access::kDone) return a;
  Loaded l;
  if (!load(l, why)) return Access::kRefused;
  why.clear();
  std::vector<std::string> lines;
  PendingLog = &lines;
  const bool changed = fn(l.state);
  PendingLog = nullptr;
  ++l.state.generation;
  const bool saved = l.fresh ? replaceFile(l.saveTo, serialize(l.state), why)
                             : !changed || rewrite(l.saveTo, serialize(l.state), why);
  writeLogLines(lines, saved ? "" : " not saved", true);
  if (!saved) return Access::kRefused;
  boundLog();
  return Access::kDone;
}

Access resetState(std::string& why) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return Access::kRefused;
  Fd held(-1);
  if (Access a = lock(lockPath(), held, why); a != Access::kDone) return a;
  // Whatever the copies hold, they are replaced, but only files of ours.
  for (const std::string& copy : {path, altStatePath()}) {
    struct stat st {};
    if (lstat(copy.c_str(), &st) != 0) continue;
    Fd f(openOurs(copy, O_RDONLY, why));
    if (f.fd < 0) return Access::kRefused;
  }
  // The log goes first: a reset cut short leaves an older state or the
  // fresh one, and the log must claim no request that either does not show.
  if (!clearLog(why)) return Access::kRefused;
  // The second copy goes next: a crash in between leaves the old state,
  // never an old copy that outranks the fresh one.
  if (changeFile(unlink, altStatePath()) != 0 && errno != ENOENT) { why = sysWhy("cannot remove " + altStatePath()); return Access::kRefused; }
  if (!replaceFile(path, serialize(State{}), why)) return Access::kRefused;
  // The firmware images, and what runs killed in mid-write left behind.
  const std::string base = stateFolder().second;
  removeInFolder([&](const std::string& name) {
    return name.starts_with(base + kImageInfix) || isLeftTemporary(name, base);
  });
  return Access::kDone;
}

void appendLog(const std::string& line) {
  if (PendingLog != nullptr) {
    PendingLog->push_back(line);
    return;
  }
  writeLogLines({line}, "", false);
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
  if (!truncateTo(f.fd, 0)) { why = sysWhy("cannot empty " + logPath()); return false; }
  return true;
}

bool writeImage(const ImageWrite& w, std::string& why) {
  const std::string path = imagePath(w.serial, w.device, w.file);
  if (w.start) {
    // The files that neither the state before this request nor the one
    // after it names: earlier transfers, and those of killed runs.
    const std::string prefix = stateFolder().second + kImageInfix + w.serial + "." + std::to_string(w.device) + ".";
    removeInFolder([&](const std::string& name) {
      const std::string number = name.substr(std::min(name.size(), prefix.size()));
      return name.starts_with(prefix) && allDigits(number) && number != std::to_string(w.file) &&
             number != std::to_string(w.keep[0]) && number != std::to_string(w.keep[1]);
    });
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 && !mayChange()) { why = sysWhy("cannot create " + path); return false; }
  Fd f(openOurs(path, O_WRONLY | O_CREAT, why));
  if (f.fd < 0) return false;
  if (w.start && !truncateTo(f.fd, 0)) { why = sysWhy("cannot empty " + path); return false; }
  if (!writeAllAt(f.fd, w.bytes.data(), w.bytes.size(), w.offset)) { why = sysWhy("cannot write " + path); return false; }
  return true;
}

}  // namespace nicisim
