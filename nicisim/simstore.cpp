// The simulator's state file: where it lives, its lock, and its atomic
// replacement.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "nicisim/nicisim.h"

namespace nicisim {

std::string statePath() {
  if (const char* p = std::getenv("KIVADAPSIM_STATE"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x != nullptr && x[0] == '/') return std::string(x) + "/kivadapsim/state";
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') return std::string(h) + "/.local/state/kivadapsim/state";
  return "/tmp/kivadapsim-" + std::to_string(getuid()) + "/state";
}

namespace {
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { if (fd >= 0) close(fd); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// The lock a library user keeps until it exits (see withState).
struct Held {
  Fd fd{-1};
  std::string path;
  void release() {
    if (fd.fd >= 0) close(fd.fd);
    fd.fd = -1;
    path.clear();
  }
};

std::string sysWhy(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates the folders above path (private to the user when new).
bool makeParents(const std::string& path, std::string& why) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string dir = path.substr(0, at);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) { why = sysWhy("cannot create " + dir); return false; }
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

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Write a temporary beside the file, flush it to disk, rename it over.
bool replaceFile(const std::string& path, const std::string& text, std::string& why) {
  std::string tmp = path + ".tmp";
  {
    Fd f(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (f.fd < 0) { why = sysWhy("cannot write " + tmp); return false; }
    if (!writeAll(f.fd, text) || fsync(f.fd) != 0) { why = sysWhy("cannot write " + tmp); unlink(tmp.c_str()); return false; }
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) { why = sysWhy("cannot replace " + path); unlink(tmp.c_str()); return false; }
  return true;
}
}  // namespace

bool withState(const std::function<bool(State&)>& fn, std::string& why, bool holdForProcess) {
  const std::string path = statePath();
  if (!makeParents(path, why)) return false;
  // The lock lives on a file of its own that is never renamed, so every
  // process locks the same inode while the state file itself is replaced.
  const std::string lockPath = path + ".lock";
  static Held held;
  if (holdForProcess && held.path != lockPath) held.release();
  Fd lock(-1);
  if (!holdForProcess || held.fd.fd < 0) {
    lock.fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock.fd < 0) { why = sysWhy("cannot open " + lockPath); return false; }
    while (flock(lock.fd, LOCK_EX) != 0) {
      if (errno != EINTR) { why = sysWhy("cannot lock " + lockPath); return false; }
    }
    if (holdForProcess) {
      held.fd.fd = lock.fd;
      lock.fd = -1;
      held.path = lockPath;
    }
  }
  State s;
  bool fresh = false;
  {
    Fd f(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (f.fd < 0 && errno == ENOENT) {
      fresh = true;
    } else if (f.fd < 0) {
      why = errno == ELOOP ? path + ": is a symbolic link, refused" : sysWhy("cannot open " + path);
      return false;
    } else {
      struct stat st {};
      if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) { why = path + ": not a regular file"; return false; }
      std::string text;
      if (!readAll(f.fd, text)) { why = sysWhy("cannot read " + path); return false; }
      std::string reason;
      if (!parse(text, s, reason)) { why = path + ": damaged state file: " + reason; return false; }
    }
  }
  bool changed = fn(s);
  if (changed || fresh) return replaceFile(path, serialize(s), why);
  return true;
}

}  // namespace nicisim
